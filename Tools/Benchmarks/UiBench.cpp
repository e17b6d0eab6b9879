// Prints the cost of the user interface at 1024 x 768 on one core: the
// user-interface pass over 20 panels and 20 texts of 20 characters, once with
// a device whose calls do nothing (our own code) and once with the device
// under Wine, its work waited for (60 small blended quads beside it for
// comparison); the layout of 200 wrapped characters; and making a 24-point
// face with its 95 glyphs (load time); then a race's head-up display (mode
// 1, eight standings rows, items, a message and a lap time): its refresh and
// layout, the compass update and the widgets' share of the interface pass.
// Minimum and median of several runs. Needs a display.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "HudSamples.h"
#include "ObjectPackageSamples.h"
#include "QuadSample.h"
#include "ResourceArchiveWriter.h"

#include "Objects/Compass.h"
#include "Objects/DynObject.h"
#include "Objects/HUD.h"
#include "Objects/HUDWidgets.h"
#include "Objects/ObjectPackage.h"

#include "Application/Globals.h"
#include "Entity/StaticEntity.h"
#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Race/GameVehicle.h"

#include "Menu/Panel.h"
#include "Menu/Text.h"
#include "Menu/UIFont.h"
#include "Menu/UserInterface.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/FileArray.h"
#include "Core/ResourceManager.h"
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

// Stands for the player's inventory, which the display only needs present.
class InventoryStandIn final : public ObjectFuncInstInterface
{
};

// Swaps the device, the font's vertex buffer and its state blocks for the
// idle stand-ins while it lives.
class IdleDevice
{
public:
    explicit IdleDevice(UIFont& font) : font_(font), real_(gDevice), kept_(font.vertexBuffer2D)
    {
        saved_ = font.stateBlockSaved;
        text_ = font.stateBlockText;
        gDevice = reinterpret_cast<IDirect3DDevice9*>(&Idle::device);
        font.vertexBuffer2D.buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(&Idle::buffer);
        font.stateBlockSaved = font.stateBlockText = reinterpret_cast<IDirect3DStateBlock9*>(&Idle::block);
    }
    ~IdleDevice()
    {
        gDevice = real_;
        font_.vertexBuffer2D = kept_;
        font_.stateBlockSaved = saved_;
        font_.stateBlockText = text_;
    }
    IdleDevice(const IdleDevice&) = delete;
    IdleDevice& operator=(const IdleDevice&) = delete;

private:
    UIFont& font_;
    IDirect3DDevice9* real_;
    UIFont::VertexBuffer kept_;
    IDirect3DStateBlock9* saved_ = nullptr;
    IDirect3DStateBlock9* text_ = nullptr;
};

// The race head-up display on the builder's quad and pictures: eight
// vehicles, items on, a message and a lap time showing, the compass heading
// for a point off the way. Only its widgets are enabled in root's list.
void raceHud(D3D::Device::SwapChain& chain, UIFont& font, int runs,
             const std::function<double(const std::function<void()>&)>& device)
{
    using HUD = ObjPkgManager::Functions::HUD;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String folder = String(temp) + L"KorvantaUiBench\\";
    CreateDirectoryW(folder.text(), nullptr);
    CreateDirectoryW((folder + L"Objects").text(), nullptr);
    ResourceArchiveWriter archive;
    ResourceManager resources;
    if (!ObjectPackageSamples::save(folder) || !QuadSample::save(folder) || !HudSamples::save(folder) ||
        !HudSamples::addArchiveImages(archive) || !archive.save(folder + L"Resource.res") ||
        !resources.load(folder + L"Resource.res")) {
        std::printf("race HUD: cannot write the sample data\n");
        return;
    }
    gResourceManager = &resources;
    {
        Scene scene(String(L"UiBench"), 3500.0f);
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(folder + L"Objects\\");
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(16);
        Game& game = scene.game;
        game.choice.gameMode = Game::OffRoadRace;
        game.choice.items = 1;
        game.choice.goal = 3;
        game.phase = 3;
        Object* object =
            scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Quad")), {}, 1.0f);
        if (object)
            object->setState(StaticEntity::alwaysActive);
        DynObject* player = object ? dynamic_cast<DynObject*>(object->instance = object->createInstance()) : nullptr;
        if (!player) {
            std::printf("race HUD: no player quad\n");
        } else {
            player->functions->add(0x10, new InventoryStandIn);
            for (uint32_t slot = 0; slot < 8; ++slot) {
                auto* vehicle = new Game::Vehicle(&game, slot == 0 ? object : nullptr, slot);
                vehicle->isPlayer = slot == 0 ? 1 : 0;
                vehicle->place = int32_t(8 - slot);
                vehicle->lap = 2;
                vehicle->oil = 3;
                vehicle->nitro = 0.6f;
                vehicle->damage = 0.3f;
                Game::splitRaceTime(75430 + int32_t(slot) * 1000, vehicle->raceTime);
                game.vehicles.append(vehicle);
            }
            Game::Vehicle& me = *game.vehicles.head()->item;
            me.courseState = Game::Vehicle::offWayWarned;
            me.wayPoint.centre = {200.0f, 0.0f, 300.0f};
            chain.position = {0.0f, 5.0f, -10.0f};
            chain.Camera::update();
            auto* hud = new HUD(chain.userInterface, &scene, player);
            player->functions->add(HUD::flag, hud);
            hud->showMessage(String(L"Final lap"), 600000);
            hud->showLapTimes(83450, -1230);

            print("race HUD: refresh, one frame", BenchFigures::repeat(runs, [&] {
                      constexpr int calls = 2000;
                      return seconds([&] {
                                 for (int i = 0; i < calls; ++i) {
                                     // The places change every frame, as in a race.
                                     game.vehicles.head()->item->place = 1 + i % 8;
                                     hud->update();
                                 }
                             }) /
                             calls;
                  }),
                  1e3, "ms", 0.1);
            std::printf("%52s (shows \"%ls\", \"%ls\", \"%ls\", first row \"%ls\")\n", "", hud->speed->text(),
                        hud->lap->text(), hud->time->text(), hud->rows[0]->text.text());
            BenchFigures::print("race HUD: layout (a resize)", BenchFigures::repeat(runs, [&] {
                                    constexpr int calls = 2000;
                                    return seconds([&] {
                                               for (int i = 0; i < calls; ++i)
                                                   hud->layout();
                                           }) /
                                           calls;
                                }),
                                1e3, "ms");
            ObjPkgManager::Functions::Compass* compass = hud->compass ? hud->compass->instance : nullptr;
            if (compass)
                print("race HUD: compass update", BenchFigures::repeat(runs, [&] {
                          constexpr int calls = 20000;
                          return seconds([&] {
                                     for (int i = 0; i < calls; ++i)
                                         compass->update();
                                 }) /
                                 calls;
                      }),
                      1e6, "us", 2.0);
            if (compass)
                std::printf("%52s (the arrow at %.2f %.2f %.2f)\n", "", double(compass->world.m[12]),
                            double(compass->world.m[13]), double(compass->world.m[14]));
            else
                std::printf("race HUD: no compass\n");
            UserInterface::Root& root = *chain.userInterface;
            print("race HUD: its widgets in the UI pass, our code", BenchFigures::repeat(runs, [&] {
                      IdleDevice idle(font);
                      constexpr int frames = 500;
                      return seconds([&] {
                                 for (int f = 0; f < frames; ++f)
                                     UserInterface::renderAll(root);
                             }) /
                             frames;
                  }),
                  1e3, "ms", 0.3);
            BenchFigures::print("race HUD: the UI pass, device included",
                                BenchFigures::repeat(runs, [&] { return device([&] { UserInterface::renderAll(root); }); }),
                                1e3, "ms");
            player->functions->remove(HUD::flag);
            me.object = nullptr;
        }
        game.vehicles.deleteAll();
        scene.release();
    }
    gResourceManager = nullptr;
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

    for (auto& t : texts)
        t->disable();
    for (auto& p : panels)
        p->disable();
    raceHud(chain, font, runs, device);

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
