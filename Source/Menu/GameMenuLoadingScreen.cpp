#include "Menu/GameMenuLoadingScreen.h"

#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"

#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"

#include <cmath>
#include <numbers>

GameMenu::LoadingScreen::LoadingScreen(GameMenu& owner)
    : Panel(owner.swapChain(), 0, controlOpacity, controlFadeSpeed), menu(&owner)
{
    String loading = gLanguage ? gLanguage->getText(nullptr, String(L"Loading")) : String(L"");
    if (owner.fonts[0]) {
        text = new GameMenu::Text(0, owner.fonts[0], owner, loading, 0, 0, -1);
        text->enabled = 0;
    }
    if (uint16_t* index = indices.data()) {
        for (int32_t i = 0; i < segments; ++i) {
            const uint16_t first = uint16_t(4 * i);
            const uint16_t six[6] = {first, uint16_t(first + 1), uint16_t(first + 2),
                                     uint16_t(first + 2), uint16_t(first + 1), uint16_t(first + 3)};
            for (int k = 0; k < 6; ++k)
                index[6 * i + k] = six[k];
        }
    }
    if (Vertex* vertex = vertices.data())
        for (int32_t i = 0; i < segments * 4; ++i)
            vertex[i] = {0.0f, 0.0f, 0.0f, 1.0f, Color(0, 0, 0, 0)};
    if (owner.callbacks)
        owner.callbacks->setCursorShown(false);
}

GameMenu::LoadingScreen::~LoadingScreen()
{
    delete text;
}

Color GameMenu::LoadingScreen::segmentColour(int32_t segment, float progress)
{
    return float(segment) / 65.0f <= progress ? Color(255, 9, 32, 255) : Color(100, 100, 100, 255);
}

void GameMenu::LoadingScreen::buildRing(int32_t width, int32_t height, float progress)
{
    Vertex* vertex = vertices.data();
    if (!vertex)
        return;
    const float outer = outerRadius(width);
    const float inner = outer - 35.0f;
    const float cx = float(width / 2);
    const float cy = float(height / 2);
    constexpr float step = std::numbers::pi_v<float> / 32.0f;
    for (int32_t i = 0; i < segments; ++i) {
        const float a0 = float(i) * step;
        const float a1 = float(i + 1) * step;
        const Color c = segmentColour(i, progress);
        Vertex* v = vertex + 4 * i;
        v[0] = {cx + outer * std::sin(a0), cy - outer * std::cos(a0), 0.0f, 1.0f, c};
        v[1] = {cx + outer * std::sin(a1), cy - outer * std::cos(a1), 0.0f, 1.0f, c};
        v[2] = {cx + inner * std::sin(a0), cy - inner * std::cos(a0), 0.0f, 1.0f, c};
        v[3] = {cx + inner * std::sin(a1), cy - inner * std::cos(a1), 0.0f, 1.0f, c};
    }
}

void GameMenu::LoadingScreen::draw()
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = menu->swapChain();
    if (!chain)
        return;
    const int32_t width = int32_t(chain->presentParameters.BackBufferWidth);
    const int32_t height = int32_t(chain->presentParameters.BackBufferHeight);
    buildRing(width, height, chain->progress);
    if (!gDevice)
        return;
    gDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    menu->blankScreen();
    DWORD fog = 0;
    gDevice->GetRenderState(D3DRS_FOGENABLE, &fog);
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    gDevice->SetFVF(Vertex::format);
    if (fog)
        gDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    if (vertices.data() && indices.data())
        gDevice->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, segments * 4, segments * 2, indices.data(),
                                        D3DFMT_INDEX16, vertices.data(), sizeof(Vertex));
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    if (text) {
        text->calc();
        const UserInterface::Size size = text->getSize();
        text->x = (width - size.width) / 2;
        text->y = (size.height + height) / 2 + int32_t(outerRadius(width));
        text->colour.a = 255;
        text->draw();
    }
    if (fog)
        gDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
}

bool GameMenu::LoadingScreen::capture(int32_t width, int32_t height, TextureRef& out)
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = menu->swapChain();
    if (!chain || !gDevice || width < 2 || height < 2)
        return false;
    RenderTexture* target =
        RenderTexture::acquire(RenderTexture::shared, width, height, false, true, -1, D3DFMT_A8R8G8B8);
    if (!target)
        return false;
    chain->pushRenderTarget(target->renderSurface, target->depthSurface);
    // Direct3D draws only inside a scene.
    gDevice->BeginScene();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    draw();
    gDevice->EndScene();
    chain->popRenderTarget();
    TextureRef picture;
    const bool made =
        Texture::create(picture, String(L"ScreenTex"), uint32_t(width), uint32_t(height), 1, 0, D3DFMT_A8R8G8B8,
                        D3DPOOL_MANAGED);
    if (made)
        RenderTexture::captureBackBuffer(*target, picture);
    RenderTexture::releaseByKey(RenderTexture::shared, target);
    if (made)
        out = picture;
    return made;
}
