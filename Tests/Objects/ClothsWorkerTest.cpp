// The cloths on the package manager's worker under Wine: the worker steps
// its cloths while the main thread attaches, detaches and rebuilds one each
// frame and resumes it through the scene's camera step; a template made
// while the worker is held, and a package clear while it is held, end.
#include "EffectsTestSupport.h"

#include "Objects/Cloths.h"

#include <mmsystem.h>

#include <array>
#include <memory>

using Cloths = ObjPkgManager::Functions::Cloths;
using Cloth = Cloths::Instance;

namespace {

struct Worker
{
    Worker()
    {
        ObjPkgManager::Package* banner = world.package(L"Banner");
        cloths = banner ? banner->functions.cloths : nullptr;
    }
    // A cloth without owner: it is stepped in every round.
    std::unique_ptr<Cloth> make(Cloths& from) { return std::unique_ptr<Cloth>(from.createInstance(&world.chain, nullptr)); }
    ThreadManager& threads() { return world.scene.objectPackages.threads; }
    uint32_t state() { return threads().state.load(); }

    // True once every cloth has been stepped since the call; false after a
    // minute (only a worker that stopped takes that long).
    template <size_t n>
    static bool allStepped(const std::array<std::unique_ptr<Cloth>, n>& list)
    {
        std::array<uint8_t, n> before{};
        for (size_t i = 0; i < n; ++i)
            before[i] = list[i]->stamp;
        const DWORD start = timeGetTime();
        while (timeGetTime() - start < 60000) {
            bool all = true;
            for (size_t i = 0; i < n; ++i)
                all = all && list[i]->stamp != before[i];
            if (all)
                return true;
            Sleep(5);
        }
        return false;
    }

    EffectsTests::World world;
    Cloths* cloths = nullptr;
};

}

TEST(ClothWorker, StepsThreeClothsWhileTheMainThreadChangesOneEachFrame)
{
    Worker w;
    ASSERT_NE(w.cloths, nullptr);
    ASSERT_TRUE(w.threads().thread.isRunning()) << "the first cloth template starts the worker";
    EXPECT_EQ(w.state(), ThreadManager::stateRunning);

    std::array<std::unique_ptr<Cloth>, 3> running;
    for (auto& cloth : running)
        cloth = w.make(*w.cloths);
    EXPECT_EQ(w.state(), ThreadManager::stateHeld) << "an attach holds the worker";
    w.world.scene.updateCamera();
    EXPECT_EQ(w.state(), ThreadManager::stateRunning);
    EXPECT_EQ(w.threads().jobs.count(), 3);
    EXPECT_TRUE(Worker::allStepped(running));

    std::unique_ptr<Cloth> extra;
    for (int frame = 0; frame < 500; ++frame) {
        switch (frame % 3) {
        case 0: extra = w.make(*w.cloths); break;
        case 1: extra.reset(); break;
        default: ASSERT_TRUE(running[size_t(frame / 3 % 3)]->build(false)); break;
        }
        ASSERT_EQ(w.state(), ThreadManager::stateHeld) << frame;
        w.world.scene.updateCamera();
        ASSERT_EQ(w.state(), ThreadManager::stateRunning) << frame;
    }
    EXPECT_EQ(w.threads().jobs.count(), 3);
    EXPECT_TRUE(Worker::allStepped(running));
    running = {};
    w.world.scene.updateCamera();
    EXPECT_EQ(w.threads().jobs.count(), 0);
}

TEST(ClothWorker, ATemplateMadeWhileTheWorkerIsHeldLeavesItHeld)
{
    Worker w;
    ASSERT_NE(w.cloths, nullptr);
    // A package built in the frame of an attach makes its template while
    // the worker is held: the worker stays held for the camera step, and
    // the next attach of the frame does not wait for it.
    std::unique_ptr<Cloths> later;
    std::array<std::unique_ptr<Cloth>, 2> cloths;
    cloths[0] = w.make(*w.cloths);
    ASSERT_EQ(w.state(), ThreadManager::stateHeld);
    later = std::make_unique<Cloths>(&w.world.package(L"Banner")->functions);
    EXPECT_EQ(w.state(), ThreadManager::stateHeld);
    cloths[1] = w.make(*later);
    EXPECT_EQ(w.state(), ThreadManager::stateHeld);
    w.world.scene.updateCamera();
    EXPECT_EQ(w.state(), ThreadManager::stateRunning);
    EXPECT_TRUE(Worker::allStepped(cloths));
    cloths = {};
}

TEST(ClothWorker, APackageClearEndsWhileADetachHoldsTheWorker)
{
    Worker w;
    ASSERT_NE(w.cloths, nullptr);
    std::unique_ptr<Cloth> cloth = w.make(*w.cloths);
    cloth.reset();
    ASSERT_EQ(w.state(), ThreadManager::stateHeld);
    w.world.scene.objectPackages.clear();
    EXPECT_FALSE(w.threads().thread.isRunning());
    EXPECT_EQ(w.state(), ThreadManager::stateStopped);
    EXPECT_EQ(w.world.scene.objectPackages.packages.count(), 0);
}
