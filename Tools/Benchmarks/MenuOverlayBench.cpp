// Prints the cost of the screens around a race on one core at 1024 x 768:
// one frame of the disperse transition's 384 tiles (their turn and corners,
// our CPU), the race results' update and draw of eight lines with their
// bars (our CPU, without the device's drawing), and whole frames of the
// sample level with the results over it, the scene blurred into the 64 x 64
// background every frame. Minimum and median of several runs. The frames
// need a display and the game data ("Data\Map\Valley.tee" under the
// working folder or the build folder).
#include "BenchDevice.h"
#include "BenchFigures.h"
#include "BenchWindow.h"

#include "Menu/GameMenu.h"
#include "Menu/GameMenuDisperse.h"
#include "Menu/GameMenuRaceResults.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/UIFont.h"

#include "Application/LanguageSetup.h"
#include "Entity/EntityManager.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Race/GameVehicle.h"
#include "Render/SwapChain.h"
#include "Way/WayModeler.h"

#include "Core/Language.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int runs = 7;

// The race logic of the results: eight vehicles, half of them finished.
class RaceWorld final : public GameMenu::World
{
public:
    explicit RaceWorld(Scene* scene) : GameMenu::World(scene)
    {
        race.choice.gameMode = Game::OffRoadRace;
        for (uint32_t slot = 0; slot < 8; ++slot) {
            auto* vehicle = new Game::Vehicle(&race, nullptr, slot);
            vehicle->place = int32_t(8 - slot);
            vehicle->isPlayer = slot == 0;
            vehicle->finished = slot % 2;
            vehicle->raceTime.minutes = uint8_t(2 + slot);
            race.vehicles.append(vehicle);
        }
    }
    Game* game() override { return &race; }

    Game race{nullptr, nullptr};
};

GameMenu* drawn = nullptr;

class Client final : public D3D::SwapChainInterface
{
public:
    void renderAfterScene() override
    {
        if (drawn)
            drawn->render();
    }
};

// The menu's faces as the menu file makes them.
void makeFaces(GameMenu& menu)
{
    UserInterface::UIFont* font = UserInterface::UIFont::global();
    if (!font)
        return;
    const struct
    {
        const wchar_t* name;
        int32_t points;
    } faces[GameMenu::fontCount] = {{L"Trebuchet MS", 24}, {L"Trebuchet MS", 19}, {L"Arial", 24},
                                    {L"Trebuchet MS", 18}, {L"Trebuchet MS", 40}};
    for (int i = 0; i < GameMenu::fontCount; ++i)
        menu.fonts[i] =
            font->createFace(String(faces[i].name), faces[i].points, 700, 0, -1, intvec2d{0, 0}, 0.3f, 0);
}

void cpuFigures()
{
    // A swap chain without a device: the widgets lay out, nothing draws.
    D3D::Device::SwapChain chain(nullptr);
    chain.presentParameters.BackBufferWidth = 1024;
    chain.presentParameters.BackBufferHeight = 768;
    chain.setProjection({1024, 768});
    chain.position = {10.0f, 50.0f, -20.0f};
    chain.angles = {10.0f, 30.0f, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    RaceWorld world(&scene);
    GameMenu menu(&scene);
    menu.world = &world;

    std::srand(56);
    constexpr int turnFrames = 200;
    const BenchFigures::Spread turn = BenchFigures::repeat(runs, [&] {
        GameMenu::DisperseScreen transition(menu, 0, TextureRef());
        uint32_t now = 1000;
        const double t0 = BenchDevice::seconds();
        for (int i = 0; i < turnFrames; ++i)
            transition.advance(now += 40, 0.3f);
        return (BenchDevice::seconds() - t0) / turnFrames;
    });
    BenchFigures::print("transition: 384 tiles, one frame (our CPU)", turn, 1000.0, "ms");
    std::printf("%52s (budget 0.3 ms)\n", "");

    menu.releaseScreens();
    scene.swapChain = nullptr;
}

void frameFigures()
{
    Client client;
    HWND window = nullptr;
    D3D::Device::SwapChain* opened = BenchDevice::open(L"MenuOverlayBench", 1024, 768, client, window);
    if (!opened)
        return;
    D3D::Device::SwapChain& chain = *opened;
    String archive(L"Data\\Resource\\Resource.res");
    if (GetFileAttributesW(archive.text()) == INVALID_FILE_ATTRIBUTES)
        archive = getModuleFolder() + L"..\\..\\Data\\Resource\\Resource.res";
    ResourceManager resources;
    resources.load(archive);
    createWayModelerSet(&resources);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    if (!scene.load(BenchWindow::sampleLevel()) || !gTerrain.isLoaded()) {
        std::printf("no sample level\n");
        return;
    }
    RaceWorld world(&scene);
    Language language;
    LanguageSetup::run(language, nullptr, 0x0409);
    Language* previous = gLanguage;
    gLanguage = &language;
    {
        GameMenu menu(&scene);
        menu.world = &world;
        makeFaces(menu);
        drawn = &menu;
        chain.position = {-100.0f, 90.0f, -300.0f};
        chain.angles = {30.0f, -6.0f, 0.0f};
        chain.setAnglesDeg();
        chain.Camera::update();
        gFrameFactor.store(1.0f);
        bool withMenu = false;
        double menuTime = 0.0;
        const auto frame = [&] {
            if (withMenu) {
                const double m0 = BenchDevice::seconds();
                menu.update();
                menuTime += BenchDevice::seconds() - m0;
            }
            scene.updateCamera();
            if (chain.entities)
                chain.entities->update();
            chain.update();
            chain.beginFrame();
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, chain.fogColour.argb() | 0xFF000000u,
                           1.0f, 0);
            chain.render(true);
            chain.present();
        };
        constexpr int frames = 60;
        const auto fps = [&] {
            return BenchFigures::repeat(runs, [&] {
                const double t0 = BenchDevice::seconds();
                for (int i = 0; i < frames; ++i)
                    frame();
                return double(frames) / (BenchDevice::seconds() - t0);
            });
        };
        for (int i = 0; i < 20; ++i)
            frame();
        const BenchFigures::Spread alone = fps();
        std::printf("%-52s min %9.1f fps, median %9.1f fps\n", "the level alone, whole frames", alone.minimum,
                    alone.median);

        withMenu = true;
        menu.showRaceResults(true);
        menu.openScreen(GameMenu::raceResultsState);
        auto& results = static_cast<GameMenu::RaceResults&>(*menu.raceResultsScreen);
        for (int i = 0; i < 20; ++i)
            frame();
        menuTime = 0.0;
        const BenchFigures::Spread rate = fps();
        const double menuShare = menuTime / double(frames * runs);
        std::printf("%-52s min %9.1f fps, median %9.1f fps\n", "level with the results over it, whole frames",
                    rate.minimum, rate.median);
        std::printf("%52s (budget at least 25 fps)\n", "");
        std::printf("%-52s mean %8.2f ms a frame\n", "  of which the menu's update (the 64 x 64 blur)", menuShare * 1000.0);

        // Our CPU of the results alone: headers laid out, rows and bars
        // drawn (the device queues the draws).
        constexpr int resultFrames = 300;
        const BenchFigures::Spread cpu = BenchFigures::repeat(runs, [&] {
            chain.beginFrame();
            gDevice->BeginScene();
            const double t0 = BenchDevice::seconds();
            for (int i = 0; i < resultFrames; ++i) {
                results.opacity = float(i % 50) / 49.0f;
                results.layoutHeaders();
                results.draw();
            }
            const double t = (BenchDevice::seconds() - t0) / resultFrames;
            gDevice->EndScene();
            chain.present();
            return t;
        });
        BenchFigures::print("results: update and draw of 8 lines (our CPU)", cpu, 1000.0, "ms");
        std::printf("%52s (budget 0.2 ms)\n", "");
        drawn = nullptr;
        menu.releaseScreens();
        menu.releaseSmoothing();
    }
    gLanguage = previous;
    scene.clear();
    scene.swapChain = nullptr;
    BenchWindow::close(window);
}

}

int main()
{
    cpuFigures();
    frameFigures();
    return 0;
}
