// Prints the cost of the menu screens that lead to a race, on one core at
// 1024 x 768: the map choice's layout of 30 tiles, the country choice's
// layout of 13 countries while the selected picture cross-fades (drawn
// again every frame), the country list read from 39 levels with 256 x 128
// previews, and whole frames of the main screen with the showroom (the quad
// on its mirrored turntable, the post-effect's glow, the buttons).
// Minimum and median of several runs. Needs a display. The layouts and the
// list are timed on one core; the frames run as the game runs them, the
// device's own threads (Wine's command stream, Mesa's rasterisers) free to
// use every core.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"
#include "MenuFileWriter.h"
#include "MenuSamples.h"
#include "ObjectPackageSamples.h"
#include "QuadSample.h"

#include "Entity/EntityManager.h"
#include "Landscape/Scene.h"
#include "Menu/GameMenu.h"
#include "Menu/GameMenuChooseCountry.h"
#include "Menu/GameMenuChooseMap.h"
#include "Menu/GameMenuMain.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/UIFont.h"
#include "Menu/UserInterface.h"
#include "Physics/PhysicsManager.h"

#include "Core/Timer.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

GameMenu* drawn = nullptr;

// The application's two hooks of the main screen.
class MenuClient final : public D3D::SwapChainInterface
{
public:
    void renderAfterScene() override
    {
        if (drawn)
            drawn->render();
    }
    void renderEffectScene() override
    {
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        if (auto* main = drawn ? dynamic_cast<GameMenu::Main*>(drawn->mainScreen) : nullptr)
            main->showroom->render(gDevice);
    }
};

class Maps final : public GameMenu::Interface
{
public:
    explicit Maps(std::wstring path) : folder(std::move(path)) {}
    String getMapFolder() override { return String(folder.c_str()); }
    std::wstring folder;
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

std::wstring freshFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + name + L"\\";
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

std::vector<uint8_t> preview(uint32_t seed)
{
    ImageFileWriter::Image image;
    image.width = 256;
    image.height = 128;
    for (uint32_t y = 0; y < 128; ++y)
        for (uint32_t x = 0; x < 256; ++x)
            image.argb.push_back(0xFF000000u | ((x + seed * 40) & 0xFF) << 16 | ((y * 2 + seed * 17) & 0xFF) << 8 |
                                 ((x ^ y) & 0xFF));
    return ImageFileWriter::png(image);
}

void writeLevels(const std::wstring& folder, int count, int countries)
{
    const wchar_t* codes[] = {L"AF", L"DE", L"FR", L"ES", L"IT", L"US", L"CA",
                              L"GL", L"CN", L"IN", L"AU", L"BR", L"RU"};
    for (int i = 0; i < count; ++i) {
        LevelFileWriter::Level level;
        const std::wstring code = codes[i % countries];
        level.name = String((code + L" Map " + std::to_wstring(i)).c_str());
        level.description = String(code.c_str());
        level.courseType = 1 + i % 3;
        level.preview = preview(uint32_t(i));
        LevelFileWriter::save(level, String((folder + L"Map" + std::to_wstring(i) + L".tee").c_str()));
    }
}

}

int main()
{
    UserInterface::UIFont::initGlobals();
    MenuClient client;
    HWND window = nullptr;
    D3D::Device::SwapChain* opened = BenchDevice::open(L"MenuScreensBench", 1024, 768, client, window);
    if (!opened)
        return 1;
    // Pinned only after the device is made: its threads inherit the mask of
    // the thread that makes them, and Mesa counts the cores it may use then.
    DWORD_PTR processMask = 0, systemMask = 0;
    GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask);
    SetThreadAffinityMask(GetCurrentThread(), 1);
    gTimer.init();
    gFrameFactor.store(1.0f);
    constexpr int runs = 9;
    Scene scene{String(L"Korvanta"), 3500.0f};
    scene.swapChain = opened;

    // The map choice: 30 levels, ten of each kind.
    const std::wstring mapFolder = freshFolder(L"MenuScreensBenchMaps");
    writeLevels(mapFolder, 30, 13);
    Maps maps(mapFolder);
    {
        GameMenu menu{&scene, &maps};
        auto* choice = dynamic_cast<GameMenu::ChooseMap*>(menu.createChooseMap());
        choice->enter(GameMenu::noScreen);
        print("map choice: layout of 30 tiles", BenchFigures::repeat(runs, [&] {
                  constexpr int calls = 500;
                  return seconds([&] {
                             for (int i = 0; i < calls; ++i) {
                                 if (i % 50 == 0)
                                     choice->onKeyRight();
                                 choice->layout(false);
                             }
                         }) /
                         calls;
              }),
              1e6, "us", 50.0);
        choice->close();
    }

    // The country choice: 39 levels, three for each of 13 countries.
    const std::wstring countryFolder = freshFolder(L"MenuScreensBenchCountries");
    writeLevels(countryFolder, 39, 13);
    Maps countries(countryFolder);
    {
        GameMenu menu{&scene, &countries};
        auto* choice = dynamic_cast<GameMenu::ChooseCountry*>(menu.createChooseCountry());
        print("country choice: the list from 39 levels", BenchFigures::repeat(5, [&] {
                  return seconds([&] { choice->buildCountryList(); });
              }),
              1e3, "ms", 400.0);
        choice->enter(GameMenu::noScreen);
        print("country choice: layout of 13, the picture fading (our CPU)", BenchFigures::repeat(runs, [&] {
                  constexpr int calls = 100;
                  double total = 0.0;
                  for (int i = 0; i < calls; ++i) {
                      choice->selectedCountry()->nextChange = 0;
                      total += seconds([&] { choice->layout(false); });
                  }
                  gDevice->Present(nullptr, nullptr, nullptr, nullptr);
                  return total / calls;
              }),
              1e3, "ms", 0.5);
        choice->close();
    }

    // The main screen with the builder's quad on the turntable.
    const std::wstring data = freshFolder(L"MenuScreensBenchData");
    CreateDirectoryW((data + L"Objects").c_str(), nullptr);
    QuadSample::save(String(data.c_str()));
    ObjectPackageSamples::save(String(data.c_str()));
    scene.objectPackages.loadFolder(String((data + L"Objects\\").c_str()));
    scene.objectPackages.buildPackages();
    opened->entities->physicsManager->start(16);
    const std::wstring menuPath = data + L"Menu.mnu";
    MenuFileWriter::save(MenuSamples::sample(), String(menuPath.c_str()));
    SetThreadAffinityMask(GetCurrentThread(), processMask);
    {
        GameMenu menu{&scene};
        menu.load(String(menuPath.c_str()));
        menu.openScreen(GameMenu::mainState);
        drawn = &menu;
        auto* main = dynamic_cast<GameMenu::Main*>(menu.mainScreen);
        if (!main || !main->showroom || !main->showroom->hasQuad())
            std::printf("the showroom has no quad\n");
        // Frames per second of each run: its best, median and worst.
        const auto frames = [&](bool whole) {
            return BenchFigures::repeat(runs, [&] {
                constexpr int count = 20;
                return seconds([&] {
                           for (int i = 0; i < count; ++i) {
                               menu.update();
                               if (auto* physics = opened->entities->physicsManager.get())
                                   physics->update();
                               opened->beginFrame();
                               gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0,
                                              1.0f, 0);
                               if (whole)
                                   opened->render(true);
                               opened->present();
                           }
                       }) /
                       count;
            });
        };
        const auto printRate = [](const char* what, const BenchFigures::Spread& spread) {
            std::printf("%-52s best %6.1f fps, median %6.1f fps, worst %6.1f fps\n", what, 1.0 / spread.minimum,
                        1.0 / spread.median, 1.0 / spread.worst);
        };
        printRate("empty frames: clear and present only", frames(false));
        printRate("main screen with the showroom, whole frames", frames(true));
        std::printf("%52s (budget at least 30 fps)\n", "");
        drawn = nullptr;
        menu.releaseSounds();
    }
    scene.release();
    return 0;
}
