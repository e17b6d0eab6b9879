// The effect functions on the real device of the test window, with the
// sound device on Wine's silent output: a puddle darkens the white ground
// on its ribbon only, a fire brightens what lies above it and loops its
// sound, a rocket's explosion brightens the place it hit and its systems end.
// Frames are saved where KORVANTA_SCREENSHOTS points.
#include "../Landscape/SceneFrames.h"

#include "EffectsTestSupport.h"

#include "Objects/Fire.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"

#include "Audio/Audio.h"
#include "Audio/Sound3D.h"
#include "Entity/Entity.h"
#include "Entity/ParticleSystem.h"

#include <cmath>

using namespace TestDevice;
using namespace EffectsTests;

namespace {

int brightness(uint32_t c)
{
    return int(c >> 16 & 0xFF) + int(c >> 8 & 0xFF) + int(c & 0xFF);
}

class EffectsDevice : public DeviceSuite
{
protected:
    void SetUp() override
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"effectsdevice");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        ObjectPackageSamples::save(String(folder.c_str()));
        scene = std::make_unique<Scene>(String(L"KorvantaTests"), 3500.0f);
        scene->swapChain = &chain();
        scene->objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene->objectPackages.buildPackages();
        chain().fogEnabled = 0;
    }
    void TearDown() override
    {
        scene->release();
        scene.reset();
    }

    DynObject* place(const wchar_t* name, const vec3d& at, float scale = 1.0f)
    {
        Object* object =
            scene->objectPackages.createObject(scene->objectPackages.findPackage(String(name)), at, scale);
        if (!object)
            return nullptr;
        object->instance = object->createInstance();
        return dynamic_cast<DynObject*>(object->instance);
    }

    // One frame: every object's prepare, then the passes.
    Level frame(uint32_t clear)
    {
        chain().entities->assignTexProjs();
        return drawFrame(chain(), clear);
    }

    static uint32_t at(const Level& pixels, const vec3d& p)
    {
        const vec2d s = screenPoint(chain(), p);
        if (s.x < 0.0f || s.y < 0.0f || s.x >= float(pixels.width) || s.y >= float(pixels.height))
            return 0;
        return pixels.at(uint32_t(s.x), uint32_t(s.y)) & 0xFFFFFF;
    }

    std::unique_ptr<Scene> scene;
};

}

TEST_F(EffectsDevice, APuddleDarkensTheGroundOnItsRibbonOnly)
{
    Clock clock;
    Ground ground(Ground::flat());
    ASSERT_TRUE(ground.loaded);
    const vec3d middle = ground.middle();
    DynObject* object = place(L"OilPuddle", middle);
    auto* puddle = World::instanceOf<ObjPkgManager::Functions::OilPuddle::Instance>(
        object, ObjPkgManager::Functions::OilPuddle::flag);
    ASSERT_NE(puddle, nullptr);
    EntityManager::Entity dropper(*chain().entities);
    dropper.world.setRow(3, middle);
    puddle->source = &dropper;
    puddle->spill(true);
    // From above and behind, looking down the path along +z.
    SceneFrames::look(chain(), middle + vec3d(0.0f, 45.0f, -10.0f), 0.0f, -55.0f);

    const uint32_t white = 0xFFFFFFFFu;
    for (int f = 0; f < 170; ++f) {
        Clock::now += 10;
        if (f < 51)
            dropper.world.m[14] += 1.2f;
        const Level pixels = frame(white);
        if (f != 60 && f != 169)
            continue;
        // Growing (drawn from memory) and final (from its buffers) alike.
        EXPECT_EQ(puddle->isFinal(), f == 169);
        ASSERT_GE(puddle->pointCount, 4);
        const vec3d origin = object->world.row(3);
        for (int32_t i = 1; i + 2 < puddle->pointCount; ++i) {
            const vec3d on = (puddle->points[i].centre + puddle->points[i + 1].centre) * 0.5f + origin;
            const uint32_t c = at(pixels, on);
            EXPECT_LT(brightness(c), 3 * 240) << f << " point " << i << std::hex << " " << c;
            EXPECT_GT(brightness(c), 3 * 150) << f << " see-through " << i;
        }
        const BoundingBox& box = puddle->worldBox;
        for (const vec3d& beside : {vec3d(box.minimum.x - 6.0f, middle.y, box.center.z),
                                    vec3d(box.maximum.x + 6.0f, middle.y, box.center.z)})
            EXPECT_EQ(at(pixels, beside), 0xFFFFFFu) << f;
    }
}

TEST_F(EffectsDevice, AFireBrightensAboveItsPlaceAndLoopsItsSound)
{
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        Clock clock;
        Ground ground(Ground::flat());
        const vec3d middle = ground.middle();
        const size_t sounds = Audio::SoundInterface::list().count();
        DynObject* bonfire = place(L"Bonfire", middle, 1.0f);
        auto* fires = World::instanceOf<ObjPkgManager::Functions::Fire::Instance>(bonfire,
                                                                                 ObjPkgManager::Functions::Fire::flag);
        ASSERT_NE(fires, nullptr);
        ASSERT_EQ(fires->builtCount, 3);
        SceneFrames::look(chain(), middle + vec3d(0.0f, 3.0f, -25.0f), 0.0f, 0.0f);
        const uint32_t dark = 0xFF101010u;
        Level pixels;
        for (int f = 0; f < 20; ++f)
            pixels = frame(dark);
        // Above the middle flame the additive flames brighten the dark.
        const vec3d flame = middle + fires->object(0)->fire->position;
        int brightest = 0;
        for (float up = 0.5f; up < 5.0f; up += 0.5f)
            brightest = std::max(brightest, brightness(at(pixels, flame + vec3d(0.0f, up, 0.0f))));
        EXPECT_GT(brightest, 3 * 0x10 + 60);
        EXPECT_EQ(at(pixels, flame + vec3d(12.0f, 2.0f, 0.0f)), 0x101010u) << "beside the fire";

        // The crackle loops on the silent device where the fire burns.
        Audio::Sound3D* crackle = fires->object(0)->sound;
        ASSERT_NE(crackle, nullptr);
        Audio::update();
        EXPECT_EQ(crackle->state, Audio::SoundInterface::playing);
        EXPECT_EQ(crackle->loop, 1u);
        EXPECT_EQ(*crackle->positionSource, fires->object(0)->soundPosition);
        Object* placed = bonfire->object;
        placed->destroyInstance(bonfire);
        placed->instance = nullptr;
        EXPECT_EQ(Audio::SoundInterface::list().count(), sounds);
    }
    scene->release();
    Audio::release();
}

TEST_F(EffectsDevice, AnExplosionBrightensTheHitAndItsSystemsEnd)
{
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        Clock clock;
        Ground ground(Ground::flat());
        const vec3d middle = ground.middle() + vec3d(0.0f, 2.0f, 0.0f);
        const size_t systems = chain().particles->systems.count();
        // An undrawn wall 40 ahead.
        EntityManager::Entity wall(*chain().entities);
        ASSERT_TRUE(chain().entities->listEntity(wall));
        wall.worldBox.axes[0] = {1.0f, 0.0f, 0.0f};
        wall.worldBox.axes[1] = {0.0f, 1.0f, 0.0f};
        wall.worldBox.axes[2] = {0.0f, 0.0f, 1.0f};
        wall.worldBox.halfExtents = {5.0f, 5.0f, 1.0f};
        wall.worldBox.center = middle + vec3d(0.0f, 0.0f, 40.0f);
        DynObject* object = place(L"Rocket", middle);
        auto* rocket = World::instanceOf<ObjPkgManager::Functions::Rocket::Instance>(
            object, ObjPkgManager::Functions::Rocket::flag);
        ASSERT_NE(rocket, nullptr);
        EntityManager::Entity launcher(*chain().entities), target(*chain().entities);
        launcher.world.setRow(3, middle);
        target.worldBox.center = middle + vec3d(0.0f, 0.0f, 200.0f);
        rocket->fire(&launcher, &target, 0.0f, 3.0f);
        // The flight beside the launcher sounds on the silent device.
        Audio::update();
        ASSERT_NE(rocket->flyVehicleSound, nullptr);
        EXPECT_EQ(rocket->flyVehicleSound->state, Audio::SoundInterface::playing);
        // Past the launch, straight at the wall.
        rocket->state = ObjPkgManager::Functions::Rocket::Instance::flying;
        rocket->direction = {0.0f, 0.0f, 1.0f};
        rocket->speed = 2.0f;
        object->world.setRow(3, middle);
        object->onMoved();
        SceneFrames::look(chain(), middle + vec3d(-20.0f, 4.0f, 30.0f), -60.0f, 0.0f);

        const uint32_t dark = 0xFF101010u;
        int frames = 0;
        while (!rocket->isFinished() && frames < 100) {
            Clock::now += 10;
            frame(dark);
            Audio::update();
            ++frames;
        }
        ASSERT_TRUE(rocket->isFinished());
        EXPECT_EQ(chain().particles->systems.count(), systems + 3);
        // The bang plays where the rocket ended, on its own copy of the place,
        // heard far: 6000 units, the full volume within 6000^0.42.
        const vec3d hit = rocket->position();
        const Audio::Sound3D* bang = nullptr;
        for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next)
            if (node->item->file == rocket->files[ObjPkgManager::Functions::Rocket::explosion] &&
                node->item->state == Audio::SoundInterface::playing)
                bang = dynamic_cast<const Audio::Sound3D*>(node->item);
        ASSERT_NE(bang, nullptr);
        EXPECT_EQ(bang->positionSource, &bang->ownPosition);
        ObjectsTests::expectNear(bang->ownPosition, hit, 1e-4f, "bang");
        EXPECT_EQ(bang->maxDistance, 6000.0f);
        EXPECT_NEAR(bang->minDistance, std::pow(6000.0f, 0.42f), 1e-2f);
        const Level pixels = frame(dark);
        int brightest = 0;
        for (float dx = -1.0f; dx <= 1.0f; dx += 0.5f)
            for (float dy = -1.0f; dy <= 1.0f; dy += 0.5f)
                brightest = std::max(brightest, brightness(at(pixels, hit + vec3d(dx, dy, 0.0f))));
        EXPECT_GT(brightest, 3 * 0x10 + 90);
        // Every system of the explosion is gone within 250 frames.
        for (int f = 0; f < 255; ++f)
            frame(dark);
        EXPECT_EQ(chain().particles->systems.count(), systems);
    }
    scene->release();
    Audio::release();
}
