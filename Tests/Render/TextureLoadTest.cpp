// Loading textures on a real device: image files from memory and from disk,
// the stand-in for rejected input, texture blocks, raw blocks and the
// built-in textures.
#include "TestDevice.h"

#include "BuiltinTextures.h"
#include "TextureBlockWriter.h"

#include "Core/FileArray.h"
#include "Core/Resource.h"

#include <d3dx9.h>

#include <cstdio>
#include <tuple>
#include <utility>

using namespace TestDevice;

namespace {

// A memory stream holding bytes, read from its start.
struct Memory : FileArray
{
    explicit Memory(const std::vector<uint8_t>& bytes) : FileArray(4096)
    {
        write(bytes.data(), uint32_t(bytes.size()));
        seek(0, 0);
    }
};

std::wstring tempFile(const std::wstring& name, const std::vector<uint8_t>& bytes)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = folder + name;
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

bool loadFromMemory(TextureRef& ref, const std::vector<uint8_t>& bytes)
{
    Memory stream(bytes);
    return Texture::loadFromMemory(stream, nullptr, ref, String(L"memory"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                   D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE);
}

class TextureLoading : public DeviceSuite
{
};

TEST_F(TextureLoading, ImageFilesLoadFromMemoryAndFromDisk)
{
    using Writer = std::vector<uint8_t> (*)(const ImageFileWriter::Image&);
    const struct
    {
        const wchar_t* extension; // upper case: the extension test ignores case
        Writer write;
        uint32_t alpha; // or'ed into the texels read back
    } kinds[] = {{L"PNG", ImageFileWriter::png, 0},
                 {L"DDS", ImageFileWriter::dds, 0},
                 {L"BMP", ImageFileWriter::bmp, 0xFF000000},
                 {L"TGA", ImageFileWriter::tga, 0}};
    uint32_t seed = 1;
    for (const auto& kind : kinds) {
        ImageFileWriter::Image image = patternImage(16, 4, seed++);
        const std::vector<uint8_t> bytes = kind.write(image);
        for (uint32_t& texel : image.argb)
            texel |= kind.alpha;
        TextureRef fromMemory;
        ASSERT_TRUE(loadFromMemory(fromMemory, bytes)) << seed;
        EXPECT_EQ(readLevel(fromMemory).texels, image.argb) << seed;

        const std::wstring path = tempFile(std::wstring(L"korvanta-texture-test.") + kind.extension, bytes);
        TextureRef fromFile;
        ASSERT_TRUE(Texture::loadFromFile(fromFile, String(path.c_str()), D3DX_DEFAULT, D3DX_DEFAULT, nullptr, 1,
                                          D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE, true))
            << seed;
        EXPECT_EQ(readLevel(fromFile).texels, image.argb) << seed;
        DeleteFileW(path.c_str());
    }
}

TEST_F(TextureLoading, RejectedInputLeavesTheStandInTexture)
{
    const auto before = TextureList::records().count();
    TextureRef ref;
    const std::wstring gif = tempFile(L"korvanta-picture.gif", ImageFileWriter::png(patternImage(4, 4)));
    for (const std::wstring& path : {gif, std::wstring(L"no-dot"), gif + L".png"})
        EXPECT_FALSE(Texture::createFromFileByName(ref, String(path.c_str()), nullptr, 1, 0, D3DPOOL_MANAGED,
                                                   D3DX_DEFAULT, D3DX_DEFAULT, false));
    DeleteFileW(gif.c_str());

    // Garbage, and valid files cut short, in memory.
    std::vector<uint8_t> garbage(300, 0xA5), empty;
    std::vector<uint8_t> png = ImageFileWriter::png(patternImage(16, 16));
    png.resize(png.size() / 2);
    std::vector<uint8_t> dds = ImageFileWriter::dds(patternImage(16, 16));
    dds.resize(100);
    for (const auto* bytes : {&garbage, &png, &dds, &empty})
        EXPECT_FALSE(loadFromMemory(ref, *bytes));
    EXPECT_FALSE(ref.isBound());
    EXPECT_EQ(TextureList::records().count(), before);

    // The stand-in is a red and blue checkerboard of 4-texel squares.
    ASSERT_STREQ(ref.texture()->name->text(), L"default.bmp");
    const Level standIn = readLevel(ref);
    ASSERT_EQ(standIn.width, 32u);
    EXPECT_EQ(standIn.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(standIn.at(4, 0), 0xFF000084u);
    EXPECT_EQ(standIn.at(4, 4), 0xFFFF0000u);

    // A bound reference keeps its record through a failed load.
    ASSERT_TRUE(Texture::create(ref, String(L"kept"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    Texture* kept = ref.texture();
    EXPECT_FALSE(loadFromMemory(ref, garbage));
    EXPECT_EQ(ref.texture(), kept);
}

TEST_F(TextureLoading, TextureBlocksRoundTrip)
{
    const ImageFileWriter::Image image = patternImage(16, 8, 3);
    const std::vector<uint8_t> png = ImageFileWriter::png(image);
    FileArray block(4096);
    ASSERT_TRUE(TextureBlockWriter::writeTextureBlock(block, 1, png.data(), uint32_t(png.size())));
    block.seek(0, 0);
    TextureRef stored;
    ASSERT_TRUE(Texture::readFromStream(block, stored, 0));
    EXPECT_EQ(readLevel(stored).texels, image.argb);

    // The game's own writer, read back.
    FileArray written(4096);
    ASSERT_TRUE(Texture::writeToStream(written, stored, D3DXIFF_PNG));
    written.seek(0, 0);
    TextureRef again;
    ASSERT_TRUE(Texture::readFromStream(written, again, 0));
    EXPECT_EQ(readLevel(again).texels, image.argb);

    // A block whose byte count runs past the data is refused.
    Memory shortened(std::vector<uint8_t>(block.memory(), block.memory() + png.size()));
    TextureRef none;
    EXPECT_FALSE(Texture::readFromStream(shortened, none, 0));
    EXPECT_FALSE(none.isBound());
    // So is one cut inside its level count.
    Memory cut(std::vector<uint8_t>{1, 0});
    EXPECT_FALSE(Texture::readFromStream(cut, none, 1));
    EXPECT_FALSE(none.isBound());
}

TEST_F(TextureLoading, RawBlocksAreReadRowByRowAndBadDescriptionsRefused)
{
    // 16-bit textures: five texels wide, locked rows are wider than 10 bytes;
    // a single row and a single column are sizes like any other.
    for (const auto& [width, height] : {std::pair{5u, 6u}, {5u, 1u}, {1u, 6u}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        std::vector<uint16_t> texels;
        for (uint32_t i = 0; i < width * height; ++i)
            texels.push_back(uint16_t(0x8000 | (i * 0x1234)));
        const TextureBlockWriter::RawDescription d{.format = D3DFMT_A1R5G5B5, .width = width, .height = height};
        FileArray raw(4096);
        ASSERT_TRUE(TextureBlockWriter::writeRawTextureBlock(raw, 1, d, texels.data(), uint32_t(texels.size() * 2)));
        raw.seek(0, 0);
        TextureRef ref;
        ASSERT_TRUE(Texture::readRaw(raw, ref));
        const Level level = readLevel(ref);
        EXPECT_GE(level.pitch, int(width * 2));
        EXPECT_EQ(level.texels, std::vector<uint32_t>(texels.begin(), texels.end()));
    }

    constexpr uint32_t full = 64 * 64 * 4;
    const std::vector<uint32_t> big(64 * 64, 0xFF00FF00u);
    const struct
    {
        const char* what;
        TextureBlockWriter::RawDescription description;
        uint32_t levels, bytes;
    } cases[] = {
        {"compressed format", {.format = D3DFMT_DXT1, .width = 64, .height = 64}, 1, full},
        {"default pool", {.pool = D3DPOOL_DEFAULT, .width = 64, .height = 64}, 1, full},
        {"render-target usage", {.usage = D3DUSAGE_RENDERTARGET, .width = 64, .height = 64}, 1, full},
        {"huge size", {.width = 0x40000000, .height = 0x40000000}, 1, full},
        {"too many levels", {.width = 64, .height = 64}, 99, full},
        {"a format the device makes no textures of", {.format = D3DFMT_R8G8B8, .width = 64, .height = 64}, 1, full},
        {"texels cut short", {.width = 64, .height = 64}, 1, full - 4},
    };
    const auto before = TextureList::records().count();
    for (const auto& c : cases) {
        FileArray stream(4096);
        TextureBlockWriter::writeRawTextureBlock(stream, c.levels, c.description, big.data(), c.bytes);
        stream.seek(0, 0);
        TextureRef none;
        EXPECT_FALSE(Texture::readRaw(stream, none)) << c.what;
    }
    EXPECT_EQ(TextureList::records().count(), before);
}

TEST_F(TextureLoading, TheBuiltinCubeMapLoadsAsTheBuilderMadeItAndADamagedOneIsRefused)
{
    const auto loadCube = [](FileInterface& stream, TextureRef& ref) {
        return Texture::loadCubeFromMemory(stream, nullptr, ref, String(L"LevelEditorCubemap"), D3DX_DEFAULT,
                                           D3DX_DEFAULT, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT);
    };
    TextureRef cube;
    Resource resource(174, 10);
    ASSERT_TRUE(loadCube(resource, cube));
    ImageFileWriter::Image faces[6];
    BuiltinTextures::levelEditorCubemap(faces);
    IDirect3DCubeTexture9* texture = cube.texture()->cubeTexture;
    ASSERT_NE(texture, nullptr);
    for (uint32_t face = 0; face < 6; ++face) {
        TextureDevice::LevelLock lock(texture, face, 0, D3DLOCK_READONLY);
        ASSERT_TRUE(lock.ok());
        std::vector<uint32_t> texels;
        for (uint32_t y = 0; y < BuiltinTextures::cubeSide; ++y)
            for (uint32_t x = 0; x < BuiltinTextures::cubeSide; ++x)
                texels.push_back(reinterpret_cast<const uint32_t*>(lock.row(y))[x]);
        EXPECT_EQ(texels, faces[face].argb) << face;
    }
    // The sky is above, the ground below.
    EXPECT_GT(faces[2].at(128, 128) & 0xFF, faces[3].at(128, 128) & 0xFF);

    // Faces of unequal size make no file; a cut file gives the stand-in.
    ImageFileWriter::Image uneven[6] = {faces[0], faces[1], faces[2], faces[3], faces[4], patternImage(8, 8)};
    EXPECT_TRUE(ImageFileWriter::ddsCube(uneven).empty());
    std::vector<uint8_t> cut = ImageFileWriter::ddsCube(faces);
    cut.resize(cut.size() / 2);
    Memory damaged(cut);
    TextureRef stand;
    EXPECT_FALSE(loadCube(damaged, stand));
    EXPECT_FALSE(stand.isBound());
}

TEST_F(TextureLoading, BuiltinTexturesLoadFromTheModuleAsTheBuilderMadeThem)
{
    const struct
    {
        const wchar_t* name;
        uint16_t id;
        ImageFileWriter::Image image;
    } effects[] = {{L"Lensflare01", 106, BuiltinTextures::lensflare()},
                   {L"Fire01", 107, BuiltinTextures::fire()},
                   {L"Smoke01", 108, BuiltinTextures::smoke()}};
    for (size_t i = 0; i < 3; ++i) {
        TextureRef ref;
        ASSERT_TRUE(Texture::loadFromResource(ref, String(effects[i].name), String(L"dds"), effects[i].id,
                                              D3DX_DEFAULT, D3DX_DEFAULT, nullptr, 1, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, D3DX_DEFAULT, false));
        EXPECT_EQ(readLevel(ref).texels, effects[i].image.argb) << i;
    }

    // The light mask becomes white with its red channel as alpha.
    TextureRef light;
    ASSERT_TRUE(Texture::loadImageFile(light, String(L"DefLight"), String(L"bmp"), 169, 1, D3DFMT_A8R8G8B8,
                                       D3DPOOL_MANAGED, true, nullptr));
    Texture::whiteFromRed(light);
    const ImageFileWriter::Image image = BuiltinTextures::light();
    std::vector<uint32_t> want;
    for (uint32_t argb : image.argb)
        want.push_back((argb & 0x00FF0000u) << 8 | 0x00FFFFFFu);
    EXPECT_EQ(readLevel(light).texels, want);

    // An image that decodes to nothing, or a format the texels cannot be
    // written in, gives no texture and leaves the reference as it was.
    const auto records = TextureList::records().count();
    TextureRef kept = light;
    for (const auto& [id, format] : {std::pair{uint16_t(9999), D3DFMT_A8R8G8B8}, std::pair{uint16_t(169), D3DFMT_DXT1}}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(Texture::loadImageFile(kept, String(L"refused"), String(L"bmp"), id, 1, format, D3DPOOL_MANAGED,
                                            true, nullptr));
        EXPECT_EQ(kept.texture(), light.texture());
    }
    EXPECT_EQ(TextureList::records().count(), records);

    // The window class's icon: Windows reads our icon file back as 32 x 32
    // colour texels with a mask.
    HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(184));
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, 32);
    EXPECT_EQ(colour.bmHeight, 32);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

}

namespace {

// A second load of a name binds the record already listed; a reload makes a
// new record, and the lookup by name still finds the oldest.
TEST_F(TextureLoading, SameNameSharesARecordUnlessReloaded)
{
    const std::wstring path = tempFile(L"korvanta-shared.png", ImageFileWriter::png(patternImage(8, 8)));
    const auto before = TextureList::records().count();
    TextureRef a, b, c, found;
    for (auto [ref, reload] : {std::pair{&a, false}, {&b, false}, {&c, true}})
        ASSERT_TRUE(Texture::createFromFileByName(*ref, String(path.c_str()), nullptr, 1, D3DFMT_A8R8G8B8,
                                                  D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, reload));
    EXPECT_EQ(a.texture(), b.texture());
    EXPECT_NE(c.texture(), a.texture());
    EXPECT_EQ(TextureList::records().count(), before + 2);
    ASSERT_TRUE(Texture::findByName(found, String(path.c_str())));
    EXPECT_EQ(found.texture(), a.texture());
    DeleteFileW(path.c_str());
}

// Without an operational device the gated routines create nothing and leave
// the reference as it was; a cube record is bound and filled later.
TEST_F(TextureLoading, WithoutAnOperationalDeviceGatedRoutinesCreateNothing)
{
    TextureRef ref;
    ASSERT_TRUE(Texture::create(ref, String(L"before"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    Texture* before = ref.texture();
    IDirect3DDevice9* device = gDevice;
    gDevice = nullptr;
    EXPECT_FALSE(Texture::deviceReady());
    EXPECT_FALSE(Texture::create(ref, String(L"gated"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    EXPECT_EQ(ref.texture(), before);
    TextureRef cube;
    EXPECT_TRUE(Texture::createCube(cube, String(L"cube"), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    EXPECT_EQ(cube.texture()->cubeTexture, nullptr);
    EXPECT_EQ(Texture::createCubeObject(cube.texture(), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), 0);
    gDevice = device;
    EXPECT_TRUE(Texture::deviceReady());
    EXPECT_EQ(Texture::createCubeObject(cube.texture(), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3D_OK);
    EXPECT_NE(cube.texture()->cubeTexture, nullptr);
}

}

namespace {

// Unbound references show the 32 x 32 checkerboard of three levels (red and
// dark blue squares of 4 texels on level 0); device release takes it away.
TEST_F(TextureLoading, DefaultCheckerboardStandsBehindUnboundReferences)
{
    TextureRef unbound;
    ASSERT_NE(unbound.texture()->texture, nullptr);
    EXPECT_STREQ(unbound.texture()->name->text(), L"default.bmp");
    EXPECT_EQ(unbound.texture()->texture->GetLevelCount(), 3u);
    const Level level0 = readLevel(unbound), level1 = readLevel(unbound, 1);
    ASSERT_EQ(level0.width, 32u);
    const std::tuple<uint32_t, uint32_t, uint32_t> texels[] = {{0, 0, 0xFFFF0000u}, {4, 0, 0xFF000084u},
                                                               {4, 4, 0xFFFF0000u}, {31, 27, 0xFF000084u}};
    for (const auto& [x, y, colour] : texels)
        EXPECT_EQ(level0.at(x, y), colour) << x << "," << y;
    EXPECT_EQ(level1.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(level1.at(2, 0), 0xFF000084u);

    Texture::releaseDefault();
    EXPECT_EQ(unbound.texture()->texture, nullptr);
    EXPECT_EQ(unbound.texture()->name, nullptr);
    Texture::createDefault();
    EXPECT_NE(unbound.texture()->texture, nullptr);
}

}
