// Loading textures on a real device: image files from memory and from disk,
// the default checkerboard, texture blocks and raw blocks.
#include "TextureTestDevice.h"

#include "ImageFileWriter.h"
#include "TextureBlockWriter.h"

#include "Core/Color.h"
#include "Core/File.h"
#include "Core/FileArray.h"
#include "Core/ImageData.h"

#include <d3dx9.h>

#include <cstdio>
#include <functional>
#include <span>
#include <string>

using namespace TextureTest;

namespace {

using Writer = std::vector<uint8_t> (*)(const ImageFileWriter::Image&);

struct FileKind
{
    const wchar_t* extension;
    Writer write;
    bool keepsAlpha;
};

const FileKind kinds[] = {
    {L"png", ImageFileWriter::png, true},
    {L"dds", ImageFileWriter::dds, true},
    {L"bmp", ImageFileWriter::bmp, false},
    {L"tga", ImageFileWriter::tga, true},
};

// A memory stream holding bytes, read from its start.
struct Memory : FileArray
{
    explicit Memory(const std::vector<uint8_t>& bytes) : FileArray(4096)
    {
        write(bytes.data(), uint32_t(bytes.size()));
        seek(0, 0);
    }
};

std::wstring tempPath(const std::wstring& fileName)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + fileName;
}

bool saveFile(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    const bool written = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    fclose(f);
    return written;
}

void expectTexels(const Level& level, const ImageFileWriter::Image& image, bool alpha, const std::wstring& what)
{
    ASSERT_EQ(level.width, image.width) << std::string(what.begin(), what.end());
    ASSERT_EQ(level.height, image.height);
    const uint32_t mask = alpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
    int wrong = 0;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x)
            if ((level.at(x, y) & mask) != (image.at(x, y) & mask))
                ++wrong;
    EXPECT_EQ(wrong, 0) << std::string(what.begin(), what.end());
}

class TextureLoading : public DeviceSuite
{
};

TEST_F(TextureLoading, DefaultCheckerboardStandsBehindUnboundReferences)
{
    TextureRef unbound;
    ASSERT_NE(unbound.texture()->texture, nullptr);
    ASSERT_NE(unbound.texture()->name, nullptr);
    EXPECT_STREQ(unbound.texture()->name->text(), L"default.bmp");
    EXPECT_EQ(unbound.texture()->texture->GetLevelCount(), 3u);
    const Level level0 = readLevel(unbound.texture()->texture, 0);
    const Level level1 = readLevel(unbound.texture()->texture, 1);
    ASSERT_EQ(level0.width, 32u);
    EXPECT_EQ(level0.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(level0.at(4, 0), 0xFF000084u);
    EXPECT_EQ(level0.at(4, 4), 0xFFFF0000u);
    EXPECT_EQ(level1.at(0, 0), 0xFFFF0000u);
    EXPECT_EQ(level1.at(2, 0), 0xFF000084u);
}

TEST_F(TextureLoading, ImageFilesLoadFromMemoryAndFromDisk)
{
    uint32_t seed = 1;
    for (const FileKind& kind : kinds) {
        const ImageFileWriter::Image image = patternImage(16, 4, seed++);
        const std::vector<uint8_t> bytes = kind.write(image);
        ASSERT_FALSE(bytes.empty());

        Memory stream(bytes);
        TextureRef fromMemory;
        ASSERT_TRUE(Texture::loadFromMemory(stream, nullptr, fromMemory, String(L"memory"), D3DX_DEFAULT,
                                            D3DX_DEFAULT, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE))
            << std::wstring(kind.extension).size();
        expectTexels(readLevel(fromMemory), image, kind.keepsAlpha, std::wstring(L"memory ") + kind.extension);

        // The extension test ignores letter case.
        std::wstring upper = kind.extension;
        for (wchar_t& c : upper)
            c = wchar_t(towupper(c));
        const std::wstring path = tempPath(L"korvanta-texture-test." + upper);
        ASSERT_TRUE(saveFile(path, bytes));
        TextureRef fromFile;
        ASSERT_TRUE(Texture::loadFromFile(fromFile, String(path.c_str()), D3DX_DEFAULT, D3DX_DEFAULT, nullptr, 1,
                                          D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE, true));
        expectTexels(readLevel(fromFile), image, kind.keepsAlpha, std::wstring(L"file ") + kind.extension);
        EXPECT_STREQ(fromFile.texture()->name->text(), path.c_str());
        DeleteFileW(path.c_str());
    }
}

TEST_F(TextureLoading, SameNameSharesARecordUnlessReloaded)
{
    const std::wstring path = tempPath(L"korvanta-shared.png");
    ASSERT_TRUE(saveFile(path, ImageFileWriter::png(patternImage(8, 8))));
    const size_t before = listedRecords();
    TextureRef a, b, c;
    ASSERT_TRUE(Texture::createFromFileByName(a, String(path.c_str()), nullptr, 1, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, false));
    ASSERT_TRUE(Texture::createFromFileByName(b, String(path.c_str()), nullptr, 1, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, false));
    EXPECT_EQ(a.texture(), b.texture());
    EXPECT_EQ(listedRecords(), before + 1);
    ASSERT_TRUE(Texture::createFromFileByName(c, String(path.c_str()), nullptr, 1, D3DFMT_A8R8G8B8,
                                              D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, true));
    EXPECT_NE(c.texture(), a.texture());
    TextureRef found;
    ASSERT_TRUE(Texture::findByName(found, String(path.c_str())));
    EXPECT_EQ(found.texture(), a.texture());
    DeleteFileW(path.c_str());
}

TEST_F(TextureLoading, RejectedInputLeavesTheReferenceAsItWas)
{
    const size_t before = listedRecords();
    TextureRef ref;
    const std::wstring gif = tempPath(L"korvanta-picture.gif");
    ASSERT_TRUE(saveFile(gif, ImageFileWriter::png(patternImage(4, 4))));
    EXPECT_FALSE(Texture::createFromFileByName(ref, String(gif.c_str()), nullptr, 1, 0, D3DPOOL_MANAGED,
                                               D3DX_DEFAULT, D3DX_DEFAULT, false));
    EXPECT_FALSE(Texture::createFromFileByName(ref, String(L"no-dot"), nullptr, 1, 0, D3DPOOL_MANAGED, D3DX_DEFAULT,
                                               D3DX_DEFAULT, false));
    EXPECT_FALSE(Texture::createFromFileByName(ref, String(tempPath(L"korvanta-missing.png").c_str()), nullptr, 1, 0,
                                               D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, false));
    DeleteFileW(gif.c_str());

    // Garbage, and a valid file cut short, in memory: the stand-in stays.
    std::vector<uint8_t> garbage(300);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 73 + 11);
    std::vector<uint8_t> cut = ImageFileWriter::png(patternImage(16, 16));
    cut.resize(cut.size() / 2);
    std::vector<uint8_t> cutDds = ImageFileWriter::dds(patternImage(16, 16));
    cutDds.resize(100);
    for (const auto* bytes : {&garbage, &cut, &cutDds}) {
        Memory stream(*bytes);
        EXPECT_FALSE(Texture::loadFromMemory(stream, nullptr, ref, String(L"bad"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                             D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT));
    }
    FileArray emptyStream(4096);
    EXPECT_FALSE(Texture::loadFromMemory(emptyStream, nullptr, ref, String(L"empty"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                         D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT));
    // Resource types are compared exactly; a missing resource makes nothing.
    EXPECT_FALSE(Texture::loadFromResource(ref, String(L"res"), String(L"PNG"), 60001, D3DX_DEFAULT, D3DX_DEFAULT,
                                           nullptr, 1, 0, D3DPOOL_MANAGED, D3DX_DEFAULT, false));
    EXPECT_FALSE(Texture::loadFromResource(ref, String(L"res"), String(L"png"), 60001, D3DX_DEFAULT, D3DX_DEFAULT,
                                           nullptr, 1, 0, D3DPOOL_MANAGED, D3DX_DEFAULT, false));
    EXPECT_FALSE(Texture::loadImageFile(ref, String(L"image"), String(L"bmp"), 60002, 1, D3DFMT_A8R8G8B8,
                                        D3DPOOL_MANAGED, true, nullptr));
    EXPECT_FALSE(ref.isBound());
    EXPECT_EQ(listedRecords(), before);

    // A bound reference keeps its record through a failed load.
    ASSERT_TRUE(Texture::create(ref, String(L"kept"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    Texture* kept = ref.texture();
    Memory stream(garbage);
    EXPECT_FALSE(Texture::loadFromMemory(stream, nullptr, ref, String(L"bad"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                         D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT));
    EXPECT_EQ(ref.texture(), kept);
    EXPECT_FALSE(Texture::create(ref, String(L"thin"), 1, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    EXPECT_EQ(ref.texture(), kept);
}

TEST_F(TextureLoading, ColourKeyAndImageReader)
{
    ImageFileWriter::Image image = patternImage(8, 4);
    image.argb[0] = 0xFF102030;
    Memory stream(ImageFileWriter::bmp(image));
    const Color24 key(0x10, 0x20, 0x30);
    TextureRef keyed;
    ASSERT_TRUE(Texture::loadFromMemory(stream, &key, keyed, String(L"keyed"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                        D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_NONE));
    const Level level = readLevel(keyed);
    EXPECT_EQ(level.at(0, 0) >> 24, 0u);
    EXPECT_EQ(level.at(1, 0) >> 24, 0xFFu);

    // The engine's reader into a 16-bit texture: texels converted, not copied.
    ImageData decoded;
    const std::vector<uint8_t> bmp = ImageFileWriter::bmp(patternImage(6, 3));
    ASSERT_TRUE(decoded.decode(std::span<const uint8_t>(bmp.data(), bmp.size()), ImageData::TypeBmp));
    TextureRef converted;
    ASSERT_TRUE(Texture::createFromImage(converted, String(L"image"), decoded, 1, D3DPOOL_MANAGED, D3DFMT_R5G6B5,
                                         false, nullptr));
    const Level texels = readLevel(converted);
    ASSERT_EQ(texels.width, 6u);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 6; ++x) {
            const Color want = Color::fromArgb(patternTexel(x, y));
            EXPECT_EQ(texels.at(x, y), fromColor<ColorR5G6B5>(want).value) << x << "," << y;
        }
}

TEST_F(TextureLoading, TextureBlocksRoundTrip)
{
    const ImageFileWriter::Image image = patternImage(16, 8, 3);
    const std::vector<uint8_t> png = ImageFileWriter::png(image);
    FileArray block(4096);
    ASSERT_TRUE(TextureBlockWriter::writeTextureBlock(block, 1, png.data(), uint32_t(png.size())));
    ASSERT_TRUE(TextureBlockWriter::writeTextureBlock(block, 1, png.data(), uint32_t(png.size())));
    block.seek(0, 0);

    TextureRef stored, chain;
    ASSERT_TRUE(Texture::readFromStream(block, stored, 0));
    EXPECT_EQ(stored.texture()->texture->GetLevelCount(), 1u);
    EXPECT_STREQ(stored.texture()->name->text(), L"Empty");
    expectTexels(readLevel(stored), image, true, L"stored level count");
    ASSERT_TRUE(Texture::readFromStream(block, chain, 0xFFFFFFFF));
    EXPECT_EQ(chain.texture()->texture->GetLevelCount(), 5u);

    // The game's own writer, read back.
    FileArray written(4096);
    ASSERT_TRUE(Texture::writeToStream(written, stored, D3DXIFF_PNG));
    written.seek(0, 0);
    uint32_t levels = 0;
    ASSERT_TRUE(written.readValue(levels));
    EXPECT_EQ(levels, 1u);
    written.seek(0, 0);
    TextureRef again;
    ASSERT_TRUE(Texture::readFromStream(written, again, 0));
    expectTexels(readLevel(again), image, true, L"written block");
    TextureRef unbound;
    EXPECT_FALSE(Texture::writeToStream(written, unbound, D3DXIFF_PNG));

    // A block whose byte count runs past the data is refused.
    FileArray cut(4096);
    ASSERT_TRUE(TextureBlockWriter::writeTextureBlock(cut, 1, png.data(), uint32_t(png.size())));
    FileArray shortened(4096);
    shortened.write(cut.memory(), cut.size() - 10);
    shortened.seek(0, 0);
    TextureRef none;
    EXPECT_FALSE(Texture::readFromStream(shortened, none, 0));
    EXPECT_FALSE(none.isBound());
}

TEST_F(TextureLoading, RawBlocksAreReadRowByRowAndBadDescriptionsRefused)
{
    // A 16-bit texture five texels wide: its locked rows are wider than 10 bytes.
    std::vector<uint16_t> texels;
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            texels.push_back(uint16_t(0x8000 | (x * 0x1234 + y * 0x0111)));
    TextureBlockWriter::RawDescription d;
    d.format = D3DFMT_A1R5G5B5;
    d.width = 5;
    d.height = 6;
    FileArray raw(4096);
    ASSERT_TRUE(TextureBlockWriter::writeRawTextureBlock(raw, 1, d, texels.data(), uint32_t(texels.size() * 2)));
    raw.seek(0, 0);
    TextureRef ref;
    ASSERT_TRUE(Texture::readRaw(raw, ref));
    EXPECT_STREQ(ref.texture()->name->text(), L"Unnamed");
    const Level level = readLevel(ref);
    ASSERT_EQ(level.width, 5u);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            EXPECT_EQ(level.at(x, y), texels[y * 5 + x]);

    std::vector<uint32_t> big(64 * 64, 0xFF00FF00u);
    struct Case
    {
        const char* what;
        std::function<void(TextureBlockWriter::RawDescription&)> change;
        uint32_t levels;
        uint32_t bytes;
    };
    const Case cases[] = {
        {"compressed format", [](auto& c) { c.format = D3DFMT_DXT1; }, 1, 64 * 64 * 4},
        {"unknown format", [](auto& c) { c.format = 0; }, 1, 64 * 64 * 4},
        {"default pool", [](auto& c) { c.pool = D3DPOOL_DEFAULT; }, 1, 64 * 64 * 4},
        {"render-target usage", [](auto& c) { c.usage = D3DUSAGE_RENDERTARGET; }, 1, 64 * 64 * 4},
        {"zero width", [](auto& c) { c.width = 0; }, 1, 64 * 64 * 4},
        {"huge size", [](auto& c) { c.width = c.height = 0x40000000; }, 1, 64 * 64 * 4},
        {"too many levels", [](auto&) {}, 99, 64 * 64 * 4},
        {"texels cut short", [](auto&) {}, 1, 64 * 64 * 4 - 4},
    };
    const size_t before = listedRecords();
    for (const Case& c : cases) {
        TextureBlockWriter::RawDescription bad;
        bad.width = 64;
        bad.height = 64;
        c.change(bad);
        FileArray stream(4096);
        TextureBlockWriter::writeRawTextureBlock(stream, c.levels, bad, big.data(), c.bytes);
        stream.seek(0, 0);
        TextureRef none;
        EXPECT_FALSE(Texture::readRaw(stream, none)) << c.what;
        EXPECT_FALSE(none.isBound()) << c.what;
    }
    EXPECT_EQ(listedRecords(), before);
}

}

namespace {

TEST_F(TextureLoading, WithoutAnOperationalDeviceGatedRoutinesCreateNothing)
{
    TextureRef ref;
    ASSERT_TRUE(Texture::create(ref, String(L"before"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    Texture* before = ref.texture();
    IDirect3DDevice9* device = gDevice;
    gDevice = nullptr;
    EXPECT_FALSE(Texture::create(ref, String(L"gated"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    EXPECT_EQ(ref.texture(), before);
    TextureRef cube;
    EXPECT_TRUE(Texture::createCube(cube, String(L"cube"), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    EXPECT_TRUE(cube.isBound());
    EXPECT_EQ(cube.texture()->cubeTexture, nullptr);
    gDevice = device;
    // The owner fills the cube record once the device is back.
    EXPECT_EQ(Texture::createCubeObject(cube.texture(), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3D_OK);
    EXPECT_NE(cube.texture()->cubeTexture, nullptr);
}

}
