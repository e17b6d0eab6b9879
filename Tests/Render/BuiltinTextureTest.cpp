// The built-in textures: the files compiled in are the ones the builder
// makes, and they load through the game's resource routines.
#include "TextureTestDevice.h"

#include "BuiltinTextures.h"

#include "Core/Resource.h"

#include <d3dx9.h>

#include <cstring>

using namespace TextureTest;

namespace {

class BuiltinTextures : public DeviceSuite
{
};

TEST_F(BuiltinTextures, EffectTexturesLoadFromTheModule)
{
    const std::vector<::BuiltinTextures::File> files = ::BuiltinTextures::files();
    struct Effect
    {
        const wchar_t* name;
        uint16_t id;
        ImageFileWriter::Image image;
    };
    const Effect effects[] = {{L"Lensflare01", 106, ::BuiltinTextures::lensflare()},
                              {L"Fire01", 107, ::BuiltinTextures::fire()},
                              {L"Smoke01", 108, ::BuiltinTextures::smoke()}};
    for (size_t i = 0; i < 3; ++i) {
        const Effect& e = effects[i];
        // The compiled-in file is the one the builder writes today.
        Resource resource(e.id, 10);
        ASSERT_EQ(resource.size(), files[i].bytes.size()) << i;
        EXPECT_EQ(std::memcmp(resource.memory(), files[i].bytes.data(), files[i].bytes.size()), 0) << i;

        TextureRef ref;
        ASSERT_TRUE(Texture::loadFromResource(ref, String(e.name), String(L"dds"), e.id, D3DX_DEFAULT, D3DX_DEFAULT,
                                              nullptr, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT, false));
        const Level level = readLevel(ref);
        ASSERT_EQ(level.width, ::BuiltinTextures::side);
        EXPECT_EQ(level.texels, e.image.argb) << i;
        // A second load by name finds the record.
        TextureRef again;
        ASSERT_TRUE(Texture::loadFromResource(again, String(e.name), String(L"dds"), 60000, D3DX_DEFAULT,
                                              D3DX_DEFAULT, nullptr, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                              D3DX_DEFAULT, false));
        EXPECT_EQ(again.texture(), ref.texture());
    }
}

TEST_F(BuiltinTextures, LightMaskBecomesWhiteWithTheRedChannelAsAlpha)
{
    TextureRef light;
    ASSERT_TRUE(Texture::loadImageFile(light, String(L"DefLight"), String(L"bmp"), 169, 1, D3DFMT_A8R8G8B8,
                                       D3DPOOL_MANAGED, true, nullptr));
    Texture::whiteFromRed(light);
    const Level level = readLevel(light);
    const ImageFileWriter::Image image = ::BuiltinTextures::light();
    ASSERT_EQ(level.width, image.width);
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x)
            ASSERT_EQ(level.at(x, y), (image.at(x, y) & 0x00FF0000u) << 8 | 0x00FFFFFFu) << x << "," << y;
}

}
