#include "Menu/GameMenuIntro.h"

#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/MenuFile.h"

#include <d3dx9.h>

GameMenu::Intro::Intro(GameMenu& owner) : Screen(owner, 0, 1.0f, 0.05f) {}

GameMenu::Intro::~Intro() = default;

void GameMenu::Intro::read(FileInterface& stream)
{
    uint32_t tag = 0;
    while (stream.readTag(tag)) {
        if (tag == MenuFile::pageImage) {
            if (!FileInterface::copyBlockTo(stream, image))
                return;
        } else if (tag == MenuFile::pageValue) {
            if (!stream.readValue(value))
                return;
        } else if (tag == MenuFile::pageExtra) {
            if (!FileInterface::copyBlockTo(stream, extra))
                return;
        }
    }
}

bool GameMenu::Intro::loadImage(TextureRef& out)
{
    image.seek(0, 0);
    if (image.size() == 0)
        return false;
    return Texture::loadFromMemory(image, nullptr, out, String(L"Intro01"), D3DX_DEFAULT, D3DX_DEFAULT, 1,
                                   D3DFMT_DXT1, D3DPOOL_MANAGED, D3DX_DEFAULT);
}

void GameMenu::Intro::nextImage()
{
    showUntil = raceNow() + showMilliseconds;
    shown = 1;
    TextureRef picture;
    loadImage(picture);
    texture = picture;
    setTexture(texture);
    enable();
    shader->alphaBlend = 1;
    colour.a = 0;
    targetOpacity = 1.0f;
    fadeSpeed = 0.05f;
    fadeIn();
}

void GameMenu::Intro::update()
{
    if (D3D::Device::SwapChain* chain = menu->swapChain()) {
        const int32_t width = int32_t(chain->presentParameters.BackBufferWidth);
        const int32_t height = int32_t(chain->presentParameters.BackBufferHeight);
        textureWidth = float(height);
        textureHeight = float(height);
        x = (width - height) / 2;
        y = 0;
    }
    // The deadline is passed once the clock is beyond it.
    if (shown && int32_t(raceNow() - showUntil) > 0)
        disable();
}
