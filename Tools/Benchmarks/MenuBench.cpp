// Prints the cost of the game menu on one core at 1024 x 768: one
// GameMenu::update (keys polled, a held key repeating, the intro page's
// step), the first GameMenu::load of the builder's sample menu file (the
// five faces made with it) and a reload as after a race, and one loading
// frame of the loading screen (the ring built and its draw issued; the
// device's own work is not waited for); the control screen's frame update and
// its refresh of the 30 binding names; and the device reset that the
// graphics screen's Apply asks for. Minimum and median of several runs.
// Needs a display.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "MenuFileWriter.h"
#include "MenuSamples.h"

#include "Application/ControlBindings.h"
#include "Landscape/Scene.h"
#include "Menu/GameMenu.h"
#include "Menu/GameMenuControl.h"
#include "Menu/GameMenuIntro.h"
#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/UIFont.h"
#include "Render/DirectGraphics.h"

#include "Core/Timer.h"

#include <dinput.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

class EmptyClient final : public D3D::SwapChainInterface
{
};

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

// The faces a load made, given back so that runs do not pile them up.
void releaseFaces(GameMenu& menu)
{
    for (UserInterface::UIFont::Face*& face : menu.fonts) {
        UserInterface::UIFont::global()->releaseFace(face);
        face = nullptr;
    }
}

}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    UserInterface::UIFont::initGlobals();
    EmptyClient client;
    HWND window = nullptr;
    D3D::Device::SwapChain* opened = BenchDevice::open(L"MenuBench", 1024, 768, client, window);
    if (!opened)
        return 1;
    gTimer.init();
    gFrameFactor.store(1.0f);
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const String path((std::wstring(folder) + L"MenuBench.mnu").c_str());
    if (!MenuFileWriter::save(MenuSamples::sample(), path)) {
        std::printf("cannot write the sample menu\n");
        return 1;
    }
    Scene scene{String(L"Korvanta"), 3500.0f};
    scene.swapChain = opened;
    constexpr int runs = 9;

    print("first GameMenu::load of the sample (with its faces)", BenchFigures::repeat(runs, [&] {
              GameMenu menu{&scene};
              const double s = seconds([&] { menu.load(path); });
              releaseFaces(menu);
              return s;
          }),
          1e3, "ms", 120.0);

    GameMenu menu{&scene};
    menu.load(path);
    print("reload after a race (GameMenu::load with an empty path)", BenchFigures::repeat(runs, [&] {
              return seconds([&] { menu.load(String(L"")); });
          }),
          1e3, "ms", 20.0);

    UserInput::State state;
    Control control;
    control.keyboardSet.base = &state;
    Control::setDefaultKeys(control.keyboardSet);
    control.joystickSet = Control::BindingSet{};
    menu.controls = &control;
    menu.startIntro();
    print("GameMenu::update, intro page, a held key repeating", BenchFigures::repeat(runs, [&] {
              constexpr int calls = 5000;
              return seconds([&] {
                         for (int i = 0; i < calls; ++i) {
                             state.keyHeld[DIK_DOWN] = (i / 64) % 2 ? 0x80 : 0;
                             menu.update();
                         }
                     }) /
                     calls;
          }),
          1e6, "us", 20.0);

    GameMenu::LoadingScreen loading(menu);
    opened->progress = 0.4f;
    print("loading frame: ring and draw issued (our CPU)", BenchFigures::repeat(runs, [&] {
              constexpr int frames = 50;
              double total = 0.0;
              for (int i = 0; i < frames; ++i) {
                  opened->beginFrame();
                  gDevice->BeginScene();
                  total += seconds([&] { loading.draw(); });
                  gDevice->EndScene();
                  opened->present();
              }
              return total / frames;
          }),
          1e3, "ms", 0.5);
    print("loading screen ring alone", BenchFigures::repeat(runs, [&] {
              constexpr int calls = 2000;
              return seconds([&] {
                         for (int i = 0; i < calls; ++i)
                             loading.buildRing(1024, 768, float(i % 100) / 100.0f);
                     }) /
                     calls;
          }),
          1e6, "us", 500.0);

    // The control screen shown, its bindings the defaults over the bench's
    // state block.
    control.joystickSet.base = &state;
    Control::setDefaultJoystick(control.joystickSet);
    menu.openScreen(GameMenu::controlState, GameMenu::settingsState);
    if (auto* screen = static_cast<GameMenu::Control*>(menu.controlScreen)) {
        print("control screen update (48 widgets)", BenchFigures::repeat(runs, [&] {
                  constexpr int calls = 2000;
                  return seconds([&] {
                             for (int i = 0; i < calls; ++i)
                                 screen->update();
                         }) /
                         calls;
              }),
              1e6, "us", 50.0);
        print("control screen refreshBindings (30 values)", BenchFigures::repeat(runs, [&] {
                  constexpr int calls = 200;
                  return seconds([&] {
                             for (int i = 0; i < calls; ++i)
                                 screen->refreshBindings();
                         }) /
                         calls;
              }),
              1e3, "ms", 0.2);
        screen->close();
    }

    // What Apply asks of the device: a reset into another window size, and
    // back (printed, not bounded).
    D3D::Device& record = gDirectGraphics.record;
    const auto resetTo = [&](UINT width, UINT height) {
        D3DPRESENT_PARAMETERS parameters{};
        D3D::Device::fillPresentParameters(record.presentSettings, window, false, parameters);
        parameters.BackBufferWidth = width;
        parameters.BackBufferHeight = height;
        return seconds([&] { D3D::Device::reset(record, &parameters); });
    };
    const BenchFigures::Spread resets = BenchFigures::repeat(5, [&] {
        const double s = resetTo(800, 600);
        resetTo(1024, 768);
        return s;
    });
    BenchFigures::print("Apply's device reset to 800 x 600 (Wine)", resets, 1e3, "ms");

    menu.releaseSounds();
    releaseFaces(menu);
    return 0;
}
