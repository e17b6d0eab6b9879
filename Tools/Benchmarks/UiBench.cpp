// Prints the cost of the user interface at 1024 x 768 on one core: the
// user-interface pass over 20 panels and 20 texts of 20 characters, once with
// a device whose calls do nothing (our own code) and once with the device
// under Wine, its work waited for (60 small blended quads beside it for
// comparison); the layout of 200 wrapped characters; and making a 24-point
// face with its 95 glyphs (load time). Minimum and median of several runs.
// Needs a display.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "Menu/Panel.h"
#include "Menu/Text.h"
#include "Menu/UIFont.h"
#include "Menu/UserInterface.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/Timer.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using UserInterface::UIFont;

namespace {

class EmptyClient final : public D3D::SwapChainInterface
{
};

// Stand-ins for the device, the vertex buffer and the state blocks whose
// methods do nothing and succeed, so that a pass times only our own code.
// On x64 the caller removes its arguments, so one function with none can
// stand for every method; the buffer's Lock hands out a scratch block.
namespace Idle {

long nothing()
{
    return 0;
}

uint8_t scratch[1024 * sizeof(UIFont::ScreenVertex)];

long lock(void*, UINT, UINT, void** data, DWORD)
{
    *data = scratch;
    return 0;
}

struct Object
{
    void* const* table;
};

void* methods[160];
void* bufferMethods[160];
Object device{methods};
Object buffer{bufferMethods};
Object block{methods};

void init()
{
    for (void*& m : methods)
        m = reinterpret_cast<void*>(&nothing);
    std::memcpy(bufferMethods, methods, sizeof(methods));
    // IUnknown (3) and IDirect3DResource9 (8) come before Lock.
    bufferMethods[11] = reinterpret_cast<void*>(&lock);
}

}

double seconds(const std::function<void()>& work)
{
    const double start = BenchDevice::seconds();
    work();
    return BenchDevice::seconds() - start;
}

void print(const char* what, const BenchFigures::Spread& figures, double scale, const char* unit, double budget)
{
    BenchFigures::print(what, figures, scale, unit);
    std::printf("%52s (budget %.2f %s)\n", "", budget, unit);
}

}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    UIFont::initGlobals();
    EmptyClient client;
    HWND window = nullptr;
    D3D::Device::SwapChain* opened = BenchDevice::open(L"UiBench", 1024, 768, client, window);
    if (!opened)
        return 1;
    D3D::Device::SwapChain& chain = *opened;
    UIFont& font = *UIFont::global();
    IDirect3DQuery9* query = nullptr;
    gDevice->CreateQuery(D3DQUERYTYPE_EVENT, &query);
    gFrameFactor.store(1.0f);
    constexpr int runs = 9;

    print("24-point face with 95 glyphs", BenchFigures::repeat(runs, [&] {
              UIFont::Face* face = nullptr;
              const double s = seconds([&] {
                  face = font.createFace(String(L"Trebuchet MS"), 24, 700, 0, -1, {}, 0.3f, 0);
              });
              font.releaseFace(face);
              return s;
          }),
          1e3, "ms", 15.0);

    UIFont::Face* face = font.createFace(String(L"Trebuchet MS"), 19, 700, 0, -1, {}, 0.3f, 0);
    UserInterface::Text layout(&chain, face, 0, 300, -1, 1.0f, 0.1f);
    std::wstring words;
    while (words.size() < 200)
        words += L"Korvanta races on ";
    layout.setText(String(words.substr(0, 200).c_str()));
    layout.disable();
    print("Text::calc, 200 characters wrapped at 300", BenchFigures::repeat(runs, [&] {
              constexpr int calls = 2000;
              return seconds([&] {
                         for (int i = 0; i < calls; ++i) {
                             layout.changed = 1;
                             layout.calc();
                         }
                     }) /
                     calls;
          }),
          1e6, "us", 10.0);

    TextureRef texture;
    Texture::create(texture, String(L"panel"), 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    {
        TextureDevice::LevelLock lock(texture.texture()->texture, 0);
        for (uint32_t y = 0; lock.ok() && y < 64; ++y)
            std::memset(lock.row(y), 0x80, 64 * 4);
    }
    std::vector<std::unique_ptr<UserInterface::Panel>> panels;
    std::vector<std::unique_ptr<UserInterface::Text>> texts;
    for (int i = 0; i < 20; ++i) {
        auto panel = std::make_unique<UserInterface::Panel>(&chain, 0, 0.5f, 0.1f);
        panel->setTexture(texture);
        panel->textureWidth = 160;
        panel->textureHeight = 40;
        panel->x = 40 + (i % 5) * 190;
        panel->y = 60 + (i / 5) * 160;
        panel->shader->alphaBlend = 1;
        panel->enable();
        panels.push_back(std::move(panel));
        auto text = std::make_unique<UserInterface::Text>(&chain, face, 1, -1, -1, 0.5f, 0.1f);
        text->x = 50 + (i % 5) * 190;
        text->y = 70 + (i / 5) * 160;
        text->setText(String((L"Menu entry number " + std::to_wstring(10 + i)).c_str()));
        text->enable();
        texts.push_back(std::move(text));
    }
    UserInterface::Root& root = *chain.userInterface;

    Idle::init();
    print("UI pass, 20 panels + 20 texts, our code", BenchFigures::repeat(runs, [&] {
              IDirect3DDevice9* real = gDevice;
              const UIFont::VertexBuffer kept = font.vertexBuffer2D;
              IDirect3DStateBlock9* saved = font.stateBlockSaved;
              IDirect3DStateBlock9* text = font.stateBlockText;
              gDevice = reinterpret_cast<IDirect3DDevice9*>(&Idle::device);
              font.vertexBuffer2D.buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(&Idle::buffer);
              font.stateBlockSaved = font.stateBlockText = reinterpret_cast<IDirect3DStateBlock9*>(&Idle::block);
              constexpr int frames = 500;
              const double s = seconds([&] {
                  for (int f = 0; f < frames; ++f)
                      UserInterface::renderAll(root);
              });
              gDevice = real;
              font.vertexBuffer2D = kept;
              font.stateBlockSaved = saved;
              font.stateBlockText = text;
              return s / frames;
          }),
          1e3, "ms", 0.1);

    // Milliseconds per frame of a pass drawn and waited for.
    const auto device = [&](const std::function<void()>& pass) {
        constexpr int frames = 30;
        double total = 0.0;
        for (int f = 0; f < frames; ++f) {
            chain.beginFrame();
            BenchDevice::finish(query);
            gDevice->BeginScene();
            total += seconds([&] {
                pass();
                gDevice->EndScene();
                BenchDevice::finish(query);
            });
            D3D::releaseInterface(chain.targets[0].surface);
        }
        return total / frames;
    };
    const auto pass = [&] { return device([&] { UserInterface::renderAll(root); }); };
    print("UI pass, 20 panels + 20 texts, device included", BenchFigures::repeat(runs, pass), 1e3, "ms", 3.0);

    // Where the device's time goes: the panels and the texts alone, then
    // the same widgets shrunk to about a pixel (what each costs besides
    // the pixels it fills).
    for (auto& t : texts)
        t->disable();
    BenchFigures::print("  the panels alone (20 x 160 x 40 pixels)", BenchFigures::repeat(runs, pass), 1e3, "ms");
    for (auto& p : panels)
        p->textureWidth = p->textureHeight = 0.5f;
    BenchFigures::print("  the panels a pixel small", BenchFigures::repeat(runs, pass), 1e3, "ms");
    for (auto& p : panels) {
        p->textureWidth = 160;
        p->textureHeight = 40;
        p->disable();
    }
    for (auto& t : texts)
        t->enable();
    BenchFigures::print("  the texts alone (400 glyph cells)", BenchFigures::repeat(runs, pass), 1e3, "ms");
    for (auto& t : texts)
        t->scale = 0.01f;
    BenchFigures::print("  the texts a pixel small", BenchFigures::repeat(runs, pass), 1e3, "ms");
    for (auto& t : texts)
        t->scale = 1.0f;
    for (auto& p : panels)
        p->enable();

    struct Quad
    {
        float x, y, z, rhw;
        DWORD colour;
    };
    BenchFigures::print("60 small blended quads (for comparison)", BenchFigures::repeat(runs, [&] {
                            return device([&] {
                                gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
                                gDevice->SetTexture(0, nullptr);
                                gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
                                for (int i = 0; i < 60; ++i) {
                                    const float x = float(20 + (i % 10) * 95), y = float(40 + (i / 10) * 110);
                                    const Quad q[4] = {{x, y, 0, 1, 0x80FF8040},
                                                       {x + 80, y, 0, 1, 0x80FF8040},
                                                       {x, y + 30, 0, 1, 0x80FF8040},
                                                       {x + 80, y + 30, 0, 1, 0x80FF8040}};
                                    gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(Quad));
                                }
                                gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
                            });
                        }),
                        1e3, "ms");

    texts.clear();
    panels.clear();
    layout.face = nullptr;
    if (query)
        query->Release();
    gDirectGraphics.release();
    UIFont::exitGlobals();
    DestroyWindow(window);
    return 0;
}
