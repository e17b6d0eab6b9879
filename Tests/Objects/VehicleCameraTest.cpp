// The vehicle camera over generated ground with frame factor 1 and the
// test's race clock: the still timer and turn rate worked by hand, a chase
// point under a hill, the orbit, the driver view, a long random drive and a
// pose that blew up.
#include "ObjectFunctionsWorld.h"

#include "Objects/VehicleCamera.h"

#include "Render/Camera.h"

#include "Core/Math.h"

#include <cmath>
#include <cstring>
#include <random>

using namespace ObjectFunctionsTests;
using VehicleCamera = ObjPkgManager::Functions::VehicleCamera;

namespace {

constexpr float flatHeight = 20000.0f;

TerrainMapWriter::Map flatMap()
{
    return TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return flatHeight; });
}

// A vehicle: the sample camera marker alive at the middle of the ground.
struct Rig
{
    explicit Rig(const TerrainMapWriter::Map& map, float horizontal = 3.0f) : ground(map, horizontal)
    {
        EXPECT_TRUE(ground.loaded);
        middle = gTerrain.box.center;
        middle.y = gTerrain.getHeight(middle.x, middle.z, 3);
        vehicle = world.place(L"Camera", middle);
        EXPECT_NE(vehicle, nullptr);
        pose(matrix3d::identity(), middle);
    }

    // The vehicle's rows and position; it has not moved since its prepare.
    void pose(const matrix3d& rotation, const vec3d& at)
    {
        vehicle->world = rotation;
        vehicle->world.setRow(3, at);
        vehicle->previousPosition = at;
    }

    Ground ground;
    World world;
    vec3d middle;
    DynObject* vehicle = nullptr;
};

matrix3d yawed(float degrees)
{
    return matrix3d::fromAngles({0.0f, degrees, 0.0f});
}

void expectVec(const vec3d& got, const vec3d& want, float tolerance, const std::string& what)
{
    EXPECT_NEAR(got.x, want.x, tolerance) << what;
    EXPECT_NEAR(got.y, want.y, tolerance) << what;
    EXPECT_NEAR(got.z, want.z, tolerance) << what;
}

bool finite(const matrix3d& m)
{
    for (float v : m.m)
        if (!std::isfinite(v))
            return false;
    return true;
}

}

// A quad standing upright and still: the timer starts, and once it is past
// the view turns toward the forward axis at rate 0.1 with each component of
// the correction clamped to 0.4.
TEST(VehicleCamera, AStillUprightQuadPullsTheViewBehindIt)
{
    Rig rig(flatMap());
    FrameFactor factor(1.0f);
    TestClock clock(10000);
    VehicleCamera camera(nullptr, rig.vehicle);
    expectVec(camera.viewDirection, {0.0f, 0.0f, 1.0f}, 0.0f, "the forward axis at the start");
    EXPECT_EQ(camera.mode, VehicleCamera::chase);
    // The quad turns to face +x and stands.
    rig.pose(yawed(90.0f), rig.middle);
    const vec3d forward = rig.vehicle->world.row(2);
    ASSERT_NEAR(forward.x, 1.0f, 1e-6f);

    matrix3d out;
    struct Step
    {
        uint32_t now;
        uint32_t timer;
        vec3d view;
    };
    // By hand: the correction (1, 0, -1) clamps to (0.4, 0, -0.4), then
    // (0.4, 0, -0.4) again, then (0.4, 0, -0.4) while z is above 0.4.
    const Step steps[] = {
        {10000, 10500, {0.0f, 0.0f, 1.0f}},  {10300, 10500, {0.0f, 0.0f, 1.0f}},
        {10500, 10500, {0.0f, 0.0f, 1.0f}},  {10501, 10500, {0.04f, 0.0f, 0.96f}},
        {10530, 10500, {0.08f, 0.0f, 0.92f}}, {10560, 10500, {0.12f, 0.0f, 0.88f}},
    };
    for (const Step& s : steps) {
        TestClock::now = s.now;
        camera.update({}, out);
        EXPECT_EQ(camera.stillTimer, s.timer) << s.now;
        expectVec(camera.viewDirection, s.view, 1e-6f, "view at " + std::to_string(s.now));
    }
    // It settles on the forward axis.
    for (int i = 0; i < 200; ++i) {
        TestClock::now += 28;
        camera.update({}, out);
    }
    expectVec(camera.viewDirection, forward, 1e-3f, "settled");
    // The chase point stands 45 behind and looks at the quad.
    expectVec(out.row(3), rig.middle - forward * 45.0f + vec3d{0.0f, 22.5f, 0.0f}, 0.05f, "chase point");
    EXPECT_GT(out.row(2).x, 0.9f) << "looking along +x";
    EXPECT_GT(out.row(1).y, 0.9f) << "upright";
}

// The timer stays 0 for a quad lying on its side or one that moves fast;
// then the camera follows the motion at a rate of 3 x L^4 at most 0.1.
TEST(VehicleCamera, AQuadOnItsSideOrMovingKeepsTheTimerStopped)
{
    Rig rig(flatMap());
    FrameFactor factor(1.0f);
    TestClock clock(5000);
    struct Case
    {
        const char* what;
        matrix3d rotation;
        vec3d displacement;
        float rate;
    };
    const Case cases[] = {
        {"on its side, creeping", matrix3d::fromAngles({0.0f, 0.0f, 90.0f}), {0.5f, 0.0f, 0.0f}, 3.0f * 0.0625f},
        {"on its side, slow", matrix3d::fromAngles({0.0f, 0.0f, 90.0f}), {0.2f, 0.0f, 0.0f}, 3.0f * 0.0016f},
        {"upright, fast", matrix3d::identity(), {3.5f, 0.0f, 0.0f}, 0.1f},
        {"on its side, climbing", matrix3d::fromAngles({0.0f, 0.0f, 90.0f}), {0.5f, 0.5f, 0.0f}, 0.1f},
    };
    for (const Case& c : cases) {
        rig.pose(c.rotation, rig.middle);
        VehicleCamera camera(nullptr, rig.vehicle);
        camera.viewDirection = {0.0f, 0.0f, 1.0f};
        matrix3d out;
        for (int frame = 0; frame < 40; ++frame) {
            TestClock::now += 40;
            const vec3d before = camera.viewDirection;
            camera.update(c.displacement, out);
            ASSERT_EQ(camera.stillTimer, 0u) << c.what << " frame " << frame;
            ASSERT_EQ(camera.viewDirection.y, 0.0f) << c.what << ": the view follows the motion horizontally";
            if (frame == 0) {
                const float rate = c.rate > 0.1f ? 0.1f : c.rate;
                expectVec(camera.viewDirection, before + vec3d{0.4f, 0.0f, -0.4f} * rate, 2e-4f, c.what);
            }
        }
        EXPECT_GT(camera.viewDirection.x, 0.0f) << c.what << ": turning toward the motion";
    }
}

// A hill behind the quad: the height offset rises by 0.1 of what is still
// needed each frame, and the camera never ends below the ground + 0.6.
TEST(VehicleCamera, AChasePointUnderAHillRisesSmoothly)
{
    // Low ground ahead, a high plateau behind: 128 rows of 4 units from
    // z = 256 down to -256, the plateau from z = 32 on.
    Rig rig(TerrainTestMaps::heightMap(128, [](int32_t, int32_t j) { return j < 56 ? 20000.0f : 40000.0f; }), 0.5f);
    FrameFactor factor(1.0f);
    TestClock clock(1000);
    const vec3d at = gTerrain.box.center + vec3d{0.0f, 0.0f, 60.0f};
    // Facing +z; the chase point lies 45 behind, over the plateau.
    const vec3d chase = at - vec3d{0.0f, 0.0f, 45.0f};
    rig.pose(matrix3d::identity(), {at.x, gTerrain.getHeight(at.x, at.z, 3), at.z});
    const float quadY = rig.vehicle->world.m[13];
    const float ground = gTerrain.getHeight(chase.x, chase.z, 0);
    const float need = ground + 3.0f - (quadY + 22.5f);
    ASSERT_GT(need, 10.0f) << "the plateau towers over the plain chase point";

    VehicleCamera camera(nullptr, rig.vehicle);
    matrix3d out;
    float offset = 0.0f;
    for (int frame = 0; frame < 60; ++frame) {
        TestClock::now += 28;
        camera.update({}, out);
        offset += (need - offset) * 0.1f;
        ASSERT_NEAR(camera.heightOffset, offset, 1e-3f * need) << frame;
        const vec3d p = out.row(3);
        EXPECT_GE(p.y, gTerrain.getHeight(p.x, p.z, 0) + 0.6f - 1e-4f) << frame;
        if (frame == 0) {
            EXPECT_NEAR(p.y, ground + 0.6f, 1e-3f) << "clamped over the ground at once";
        }
    }
    // Driving off the hill the offset falls at 0.03 of the way per frame.
    rig.pose(yawed(180.0f), rig.vehicle->world.row(3));
    camera.setMode(VehicleCamera::chase);
    const float high = camera.heightOffset;
    camera.update({}, out);
    EXPECT_NEAR(camera.heightOffset, high - high * 0.03f, 1e-3f) << "the chase point is over the plain now";
}

// In orbit the view keeps circling a standing quad, about one degree a frame.
TEST(VehicleCamera, TheOrbitKeepsCirclingAStandingQuad)
{
    Rig rig(flatMap());
    FrameFactor factor(1.0f);
    TestClock clock(1000);
    VehicleCamera camera(nullptr, rig.vehicle);
    camera.setMode(VehicleCamera::orbit);
    matrix3d out;
    float turned = 0.0f, steady = 0.0f;
    float previous = 0.0f;
    bool first = true;
    for (int frame = 0; frame < 800; ++frame) {
        TestClock::now += 28;
        camera.update({}, out);
        const vec3d offset = out.row(3) - rig.middle;
        const float heading = std::atan2(offset.x, offset.z);
        if (!first) {
            float step = heading - previous;
            if (step > 3.14159265f)
                step -= 6.2831853f;
            if (step < -3.14159265f)
                step += 6.2831853f;
            turned += step;
            if (frame >= 300)
                steady += step;
        }
        first = false;
        previous = heading;
    }
    EXPECT_GT(std::fabs(turned), 2.0f * 6.2831853f) << "more than two rounds in 800 frames";
    // Once the view caught up it turns with the orbit angle, a degree a frame.
    EXPECT_NEAR(std::fabs(steady) / 500.0f, 0.017453292f, 0.002f);
    EXPECT_NEAR(camera.orbitAngle, std::fmod(800.0f, 360.0f), 1e-2f);
}

// Driver mode starts from the quad's rotation and sits at the driver's eye,
// never under the ground.
TEST(VehicleCamera, TheDriverViewStartsFromTheQuadsRotation)
{
    Rig rig(flatMap());
    FrameFactor factor(1.0f);
    TestClock clock(1000);
    VehicleCamera camera(nullptr, rig.vehicle);
    for (const vec3d angles : {vec3d{10.0f, 30.0f, 5.0f}, vec3d{-20.0f, 200.0f, 40.0f}, vec3d{0.0f, -90.0f, 0.0f}}) {
        const vec3d at = rig.middle + vec3d{0.0f, 4.0f, 0.0f};
        rig.pose(matrix3d::fromAngles(angles), at);
        camera.setMode(VehicleCamera::driver);
        matrix3d out;
        camera.update({}, out);
        for (int r = 0; r < 3; ++r)
            expectVec(out.row(r), rig.vehicle->world.row(r), 1e-5f, "row " + std::to_string(r));
        const matrix3d& pose = rig.vehicle->world;
        expectVec(out.row(3), at + pose.row(2) * 0.2f + pose.row(1) * 2.5f, 1e-4f, "at the eye");
    }
    // Upside down at ground level the eye stays 0.6 over the ground.
    rig.pose(matrix3d::fromAngles({0.0f, 0.0f, 180.0f}), rig.middle);
    camera.setMode(VehicleCamera::driver);
    matrix3d out;
    camera.update({}, out);
    EXPECT_NEAR(out.m[13], gTerrain.getHeight(out.m[12], out.m[14], 3) + 0.6f, 1e-4f);
    // At five frames a second (frame factor 7) one frame turns the view as
    // far as seven frames of 1/35 s, and never past the quad's heading.
    float turned[2];
    for (int k = 0; k < 2; ++k) {
        const vec3d at = rig.middle + vec3d{0.0f, 4.0f, 0.0f};
        rig.pose(matrix3d::identity(), at);
        camera.setMode(VehicleCamera::driver);
        camera.update({}, out);
        rig.pose(yawed(60.0f), at);
        FrameFactor slow(k == 0 ? 1.0f : 7.0f);
        for (int frame = 0; frame < (k == 0 ? 7 : 1); ++frame)
            camera.update({}, out);
        turned[k] = std::fabs(std::atan2(out.m[8], out.m[10])) * 57.29578f;
    }
    EXPECT_NEAR(turned[1], turned[0], 3.0f);
    // Back to chase: the view runs along the forward axis again.
    rig.pose(yawed(45.0f), rig.middle);
    camera.setMode(VehicleCamera::chase);
    expectVec(camera.viewDirection, rig.vehicle->world.row(2), 1e-4f, "chase again");
}

// A thousand frames of random driving over rolling ground, through every
// mode: the view's axes stay orthonormal, the camera above the ground and
// the view carries the camera's position to the origin.
TEST(VehicleCamera, ARandomDriveKeepsTheViewSound)
{
    Rig rig(TerrainTestMaps::randomMap(128, 4401));
    FrameFactor factor(1.0f);
    TestClock clock(1000);
    Camera view;
    VehicleCamera camera(&view, rig.vehicle);
    std::mt19937 random(4402);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const BoundingBox& box = gTerrain.box;
    vec3d at = rig.middle;
    vec3d angles{};
    float speed = 1.0f;
    for (int frame = 0; frame < 1000; ++frame) {
        TestClock::now += 28;
        if (random() % 100 == 0)
            camera.setMode(int32_t(random() % 3));
        speed = std::fmax(0.0f, std::fmin(4.0f, speed + unit(random) * 0.5f));
        angles += vec3d{unit(random) * 3.0f, unit(random) * 4.0f, unit(random) * 6.0f};
        angles.x = std::fmax(-40.0f, std::fmin(40.0f, angles.x));
        angles.z = std::fmax(-120.0f, std::fmin(120.0f, angles.z));
        const matrix3d rotation = matrix3d::fromAngles(angles);
        vec3d next = at + rotation.row(2) * speed;
        // Kept over the ground, well inside the map.
        next.x = std::fmax(box.minimum.x + 100.0f, std::fmin(box.maximum.x - 100.0f, next.x));
        next.z = std::fmax(box.minimum.z + 100.0f, std::fmin(box.maximum.z - 100.0f, next.z));
        next.y = gTerrain.getHeight(next.x, next.z, 3) + 1.0f;
        rig.vehicle->world = rotation;
        rig.vehicle->world.setRow(3, next);
        rig.vehicle->previousPosition = at;
        at = next;

        camera.frameStep();
        const vec3d right{view.view.m[0], view.view.m[4], view.view.m[8]};
        const vec3d up{view.view.m[1], view.view.m[5], view.view.m[9]};
        const vec3d forward{view.view.m[2], view.view.m[6], view.view.m[10]};
        const std::string what = "frame " + std::to_string(frame) + " mode " + std::to_string(camera.mode);
        ASSERT_NEAR(right.lengthSq(), 1.0f, 2e-3f) << what;
        ASSERT_NEAR(up.lengthSq(), 1.0f, 2e-3f) << what;
        ASSERT_NEAR(forward.lengthSq(), 1.0f, 2e-3f) << what;
        ASSERT_NEAR(right.dot(up), 0.0f, 2e-3f) << what;
        ASSERT_NEAR(right.dot(forward), 0.0f, 2e-3f) << what;
        ASSERT_NEAR(up.dot(forward), 0.0f, 2e-3f) << what;
        EXPECT_GT(right.cross(up).dot(forward), 0.99f) << what << ": a left-handed frame";
        const vec3d p = view.position;
        const int32_t detail = camera.mode == VehicleCamera::driver ? 3 : 0;
        ASSERT_GE(p.y, gTerrain.getHeight(p.x, p.z, detail) + 0.6f - 1e-3f) << what;
        const float* m = view.view.m;
        const vec3d origin{p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
                           p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
        ASSERT_LT(std::sqrt(origin.lengthSq()), 1e-3f * (1.0f + std::sqrt(p.lengthSq()))) << what;
        // The camera's own axes and frustum follow the view.
        ASSERT_EQ(view.forward, forward) << what;
        ASSERT_EQ(view.right, right) << what;
        const matrix3d product = view.view * view.projection;
        ASSERT_EQ(std::memcmp(view.viewProjection.m, product.m, sizeof(product.m)), 0) << what;
    }
}

// A body that blew up (a pose or a last position that is not finite) leaves
// the view at its last sound matrix; the camera goes on once the pose is
// sound again.
TEST(VehicleCamera, APoseThatIsNotFiniteLeavesTheView)
{
    Rig rig(flatMap());
    FrameFactor factor(1.0f);
    TestClock clock(1000);
    Camera view;
    VehicleCamera camera(&view, rig.vehicle);
    camera.frameStep();
    ASSERT_TRUE(finite(view.view));
    const matrix3d kept = view.view;
    const vec3d keptPosition = view.position;
    const float nan = std::nanf("");
    const float inf = INFINITY;
    const float huge = 3.3e38f;
    struct Case
    {
        const char* what;
        vec3d position;
        float axis; // the pose's first element
        vec3d previous;
        bool kept;  // the view and the camera's state stay as they were
        float yaw = 0.0f;
        int onlyIn = -1; // the mode the case is for; -1 for all
    };
    const Case cases[] = {
        {"a NaN position", {rig.middle.x, nan, rig.middle.z}, 1.0f, rig.middle, true},
        {"an infinite axis", rig.middle, inf, rig.middle, true},
        // Sound itself, but the driver's view turned 45 degrees would carry it
        // past the float range.
        {"a position at the float range's end", {huge, rig.middle.y, huge}, 0.70710677f, {huge, rig.middle.y, huge},
         true, 45.0f, VehicleCamera::driver},
        {"a NaN last position", rig.middle, 1.0f, {nan, 0.0f, 0.0f}, false},
    };
    for (int mode : {0, 1, 2}) {
        camera.setMode(mode);
        for (const Case& c : cases) {
            if (c.onlyIn >= 0 && c.onlyIn != mode)
                continue;
            rig.pose(yawed(c.yaw), c.position);
            rig.vehicle->world.m[0] = c.axis;
            camera.viewDirection = rig.vehicle->world.row(2);
            camera.orientation = quaternion::fromMatrix(yawed(c.yaw));
            rig.vehicle->previousPosition = c.previous;
            view.view = kept;
            view.position = keptPosition;
            camera.stillTimer = 0;
            const float angle = camera.orbitAngle;
            const quaternion orientation = camera.orientation;
            const float offset = camera.heightOffset;
            camera.frameStep();
            const std::string what = std::string(c.what) + " mode " + std::to_string(mode);
            EXPECT_TRUE(finite(view.view)) << what;
            EXPECT_TRUE(std::isfinite(camera.viewDirection.x) && std::isfinite(camera.heightOffset) &&
                        std::isfinite(camera.orientation.w))
                << what;
            if (c.kept) {
                EXPECT_EQ(std::memcmp(view.view.m, kept.m, sizeof(kept.m)), 0) << what;
                EXPECT_EQ(view.position, keptPosition) << what;
                EXPECT_EQ(camera.stillTimer, 0u) << what;
                EXPECT_EQ(camera.orbitAngle, angle) << what;
                EXPECT_EQ(camera.orientation.w, orientation.w) << what;
                EXPECT_EQ(camera.heightOffset, offset) << what;
            }
        }
    }
    rig.pose(matrix3d::identity(), rig.middle);
    camera.setMode(VehicleCamera::chase);
    camera.frameStep();
    EXPECT_TRUE(finite(view.view));
    EXPECT_TRUE(std::isfinite(view.position.y));
}
