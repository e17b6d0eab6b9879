// The country choice's pictures on the real device: each country draws its
// previews into a target of its own, inside a scene, and binds it again
// after the device was reset.
#include "MenuMapFolder.h"

#include "../Render/TestDevice.h"

#include "Menu/GameMenuChooseCountry.h"

#include "Landscape/Scene.h"
#include "Render/RenderTexture.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

using namespace TestDevice;

namespace {

class CountryDevice : public DeviceSuite
{
protected:
    CountryDevice() : application(folder) {}
    void SetUp() override
    {
        scene.swapChain = &chain();
        gFrameFactor = 1.0f;
    }
    void TearDown() override { scene.swapChain = nullptr; }

    // The centre texel of a country's picture, read back.
    static uint32_t pictureCentre(GameMenu::ChooseCountry::Country& country)
    {
        TextureRef copy;
        EXPECT_TRUE(Texture::create(copy, String(L"PictureCopy"), 256, 256, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
        RenderTexture::captureBackBuffer(*country.picture, copy);
        const Level pixels = readLevel(copy);
        return pixels.width == 256 ? pixels.at(128, 128) & 0xFFFFFF : 0xDEADBEEF;
    }

    MenuStandIn::Clock clock{5000};
    MenuMaps::Folder folder{L"KorvantaCountryPictures"};
    MenuMaps::Application application;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene, &application};
};

}

TEST_F(CountryDevice, EachCountryShowsItsOwnPictureAlsoAfterAReset)
{
    ASSERT_TRUE(folder.level(L"de.tee", L"DE Red", L"DE", 1, MenuMaps::preview(0xFFFF0000u)));
    ASSERT_TRUE(folder.level(L"fr.tee", L"FR Blue", L"FR", 1, MenuMaps::preview(0xFF0000FFu)));
    auto* choice = dynamic_cast<GameMenu::ChooseCountry*>(menu.createChooseCountry());
    ASSERT_NE(choice, nullptr);
    menu.openScreen(GameMenu::chooseCountryState);
    ASSERT_EQ(choice->countries.count(), 2);
    GameMenu::ChooseCountry::Country& first = *choice->countries.head()->item;
    GameMenu::ChooseCountry::Country& second = *choice->countries.head()->next->item;
    ASSERT_NE(first.picture, nullptr);
    ASSERT_NE(second.picture, nullptr);
    EXPECT_NE(first.picture, second.picture) << "a target each";
    EXPECT_EQ(first.picture->key, -1);
    auto isRed = [](uint32_t c) { return (c >> 16 & 0xFF) > 200 && (c & 0xFF) < 60; };
    auto isBlue = [](uint32_t c) { return (c & 0xFF) > 200 && (c >> 16 & 0xFF) < 60; };
    const uint32_t a = pictureCentre(first), b = pictureCentre(second);
    EXPECT_TRUE(first.code.text()[0] == L'D' ? isRed(a) && isBlue(b) : isBlue(a) && isRed(b)) << std::hex << a << " " << b;
    // The panel shows its own target.
    EXPECT_EQ(first.shader->textures[0].texture(), first.picture->renderTexture.texture());

    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_EQ(gDirectGraphics.record.resetting, 0u);
    menu.onViewChanged();
    EXPECT_EQ(first.shader->textures[0].texture(), first.picture->renderTexture.texture()) << "bound again";
    choice->layout(false);
    const uint32_t c = pictureCentre(first), d = pictureCentre(second);
    EXPECT_EQ(c, a);
    EXPECT_EQ(d, b);
    choice->close();
}
