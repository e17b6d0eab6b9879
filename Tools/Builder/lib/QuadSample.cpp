#include "QuadSample.h"

#include "ImageFileWriter.h"
#include "MeshSamples.h"
#include "RiderSample.h"
#include "SoundSamples.h"

#include <algorithm>
#include <cmath>

namespace QuadSample {

const std::array<std::string, 17> roleNames = {
    "QuadRearSwingArm",  "QuadRearShock",      "QuadRearWheels",      "QuadFrontLeftArm",
    "QuadFrontLeftShock", "QuadFrontLeftHub",  "QuadFrontLeftWheel",  "QuadFrontRightArm",
    "QuadFrontRightShock", "QuadFrontRightHub", "QuadFrontRightWheel", "QuadHandlebar",
    "QuadRearFender",    "QuadBody",           "QuadRider",           "QuadHelmet",
    "QuadHelmetVisor",
};

namespace {

// The unit box of the mesh samples stretched to half sizes half, around
// centre.
MeshWriter::Record box(vec3d half, vec3d centre = {})
{
    MeshWriter::Record r = MeshSamples::record();
    for (vec3d& p : r.positions)
        p = vec3d{p.x * 2.0f * half.x, p.y * 2.0f * half.y, p.z * 2.0f * half.z} + centre;
    r.box.center = centre;
    r.box.minimum = centre - half;
    r.box.maximum = centre + half;
    r.box.radiusSq = half.lengthSq();
    r.box.radius = half.length();
    return r;
}

struct Part
{
    vec3d half;
    vec3d position;
};

// The handlebar is drawn at handlebarScale: the game holds the grips
// (gripHeight, gripBack, gripSide) in the handlebar's frame, so its origin
// lies below the bar, where the grips come out at the bar's ends.
constexpr float handlebarScale = 0.375f;
constexpr float gripHeight = 1.78f, gripBack = 0.05f, gripSide = 0.8f;
const vec3d barCentre{0.0f, 1.05f, 0.55f};
const vec3d barHalf{0.36f, 0.03f, 0.03f};
const vec3d handlebarOrigin = barCentre - vec3d(0.0f, gripHeight, -gripBack) * handlebarScale;

// The helmet and visor hang on the rider's spine (bone 3), halfway up its
// frame, which the game grows by helmetScale and turns half round about
// the vertical: they are made small and facing -z.
constexpr float helmetScale = 4.2f;
// Around the head, and the visor before the face (rider's frame, from the
// top of the spine).
const vec3d helmetCentre{0.0f, 0.125f, 0.0f}, helmetHalf{0.13f, 0.14f, 0.13f};
const vec3d visorCentre{0.0f, 0.13f, 0.14f}, visorHalf{0.10f, 0.04f, 0.03f};

MeshWriter::Record carried(vec3d half, vec3d centre)
{
    return box(half * (1.0f / helmetScale), vec3d(-centre.x, centre.y, -centre.z) * (1.0f / helmetScale));
}

// Roles 1 to 17: a quad about 2 long with wheels of radius 0.3 standing on
// y = 0, the front at +z.
const Part parts[17] = {
    {{0.10f, 0.05f, 0.35f}, {0.0f, 0.35f, -0.35f}},   // rear swing arm
    {{0.05f, 0.20f, 0.05f}, {0.0f, 0.55f, -0.45f}},   // rear shock
    {{0.60f, 0.30f, 0.30f}, {0.0f, 0.30f, -0.70f}},   // rear wheels, both on one axle
    {{0.20f, 0.04f, 0.08f}, {-0.30f, 0.35f, 0.75f}},  // front left arm
    {{0.04f, 0.18f, 0.04f}, {-0.35f, 0.50f, 0.75f}},  // front left shock
    {{0.05f, 0.10f, 0.05f}, {-0.42f, 0.30f, 0.75f}},  // front left hub
    {{0.12f, 0.30f, 0.30f}, {-0.50f, 0.30f, 0.75f}},  // front left wheel
    {{0.20f, 0.04f, 0.08f}, {0.30f, 0.35f, 0.75f}},   // front right arm
    {{0.04f, 0.18f, 0.04f}, {0.35f, 0.50f, 0.75f}},   // front right shock
    {{0.05f, 0.10f, 0.05f}, {0.42f, 0.30f, 0.75f}},   // front right hub
    {{0.12f, 0.30f, 0.30f}, {0.50f, 0.30f, 0.75f}},   // front right wheel
    {barHalf * (1.0f / handlebarScale), handlebarOrigin}, // handlebar (drawn at handlebarScale)
    {{0.50f, 0.05f, 0.30f}, {0.0f, 0.70f, -0.70f}},   // rear fender, follows the swing arm
    {{0.45f, 0.18f, 0.85f}, {0.0f, 0.77f, 0.0f}},     // body, its floor well above the ground
    {{}, {}},                                         // rider (the rider sample), placed by riderPosition
    {helmetHalf, {}},                                 // helmet, carried by the rider
    {visorHalf, {}},                                  // visor, carried with the helmet
};

// The body's centre of mass is the package's origin. The two front units
// carry two thirds of the weight, the rear axle one: moved back by this, the
// rear axle stands twice as far behind the origin as the front wheels stand
// before it, and the quad rests level.
constexpr float balanceShift = -0.2667f;
// The springs of a quad of mass 0.8 at rest (the drive's force is made for
// about that mass), and each unit's damper: the springs settle within about
// a second.
constexpr float gravity = 9.81f;
constexpr float spring = 0.8f * gravity / (3.0f * restCompression);
constexpr float damper = 1.0f;

constexpr int handlebarRole = 12;
constexpr int driverRole = 15;
constexpr int helmetRole = 16;
constexpr int visorRole = 17;
constexpr int bodyRole = 14;
// The top of the body, where the rider sits.
constexpr float seatHeight = 0.95f;

// Where the rider stands in the package: seated (its "Sit" pose) with its
// pelvis on the seat, as far back as its arms reach the grips. The game
// points each upper arm at an elbow above and behind its grip (the grip's
// frame tilted by -50 degrees about its right axis, a forearm's length up
// its up row) and the forearm from there at the grip: the hands hold the
// grips where the shoulder lies an upper arm's length from that elbow.
vec3d riderPosition()
{
    matrix3d sit[RiderSample::boneCount];
    RiderSample::posePlacements("Sit", sit);
    constexpr int pelvis = 0, upperArm = 10, forearm = 11; // the left arm
    const RiderSample::BoneDescription& pelvisBone = RiderSample::bones[pelvis];
    const float y = seatHeight - (sit[pelvis].row(3).y - pelvisBone.length);
    const vec3d grip = handlebarOrigin + vec3d(-gripSide, gripHeight, -gripBack) * handlebarScale;
    const float tilt = -50.0f * 3.14159265f / 180.0f;
    const vec3d bend{0.0f, std::cos(tilt), std::sin(tilt)};
    const vec3d elbow = grip + bend * RiderSample::bones[forearm].length;
    const vec3d shoulder = sit[upperArm].row(3) + vec3d(0.0f, y, 0.0f);
    const float reach = RiderSample::bones[upperArm].length;
    const vec3d across = elbow - shoulder;
    const float square = reach * reach - across.x * across.x - across.y * across.y;
    return {0.0f, y, across.z - std::sqrt(square > 0.0f ? square : 0.0f)};
}

// A round image as a TGA file: each texel's colour comes from texel(edge,
// random), where edge falls from 1 in the middle to 0 at the rim and random is
// the seeded generator's next draw.
template <class Texel>
std::vector<uint8_t> roundImage(uint32_t seed, Texel texel)
{
    ImageFileWriter::Image image;
    image.width = image.height = textureSize;
    image.argb.resize(size_t(textureSize) * textureSize);
    uint32_t state = seed;
    const float half = float(textureSize) * 0.5f;
    for (uint32_t y = 0; y < textureSize; ++y)
        for (uint32_t x = 0; x < textureSize; ++x) {
            state = state * 1664525u + 1013904223u;
            const float dx = (float(x) + 0.5f - half) / half, dy = (float(y) + 0.5f - half) / half;
            const float edge = std::max(0.0f, 1.0f - std::sqrt(dx * dx + dy * dy));
            image.argb[size_t(y) * textureSize + x] = texel(edge, state);
        }
    return ImageFileWriter::tga(image);
}

// Crumbs of earth thrown in a round cloud: scattered opaque texels, thinning
// out to none at the rim, nearly white so that the clods take the ground's
// colour from their particles.
std::vector<uint8_t> crumbs(uint32_t seed)
{
    return roundImage(seed, [](float edge, uint32_t random) {
        const bool crumb = float((random >> 16) & 0xFFu) < edge * 96.0f;
        return crumb ? 0xE0D8D0C8u : 0x00D8D0C8u;
    });
}

// A soft round puff, nearly white so that the particles' own colours show:
// its alpha falls from the middle to nothing at the rim, with a grain of
// speckles over it.
std::vector<uint8_t> puff(uint32_t seed)
{
    return roundImage(seed, [](float edge, uint32_t random) {
        const float grain = 0.75f + 0.25f * float((random >> 24) & 0xFFu) / 255.0f;
        const uint32_t alpha = uint32_t(std::lround(std::min(1.0f, edge * edge * (3.0f - 2.0f * edge) * grain) * 230.0f));
        return alpha << 24 | 0xF4EEE4u;
    });
}

// A finish of the parts the game does not paint, as a TGA file: base with
// a light grain from the seeded generator; a tyre adds dark tread bars
// across its run (every eighth row of four).
std::vector<uint8_t> finish(uint32_t base, uint32_t seed, bool tread)
{
    ImageFileWriter::Image image;
    image.width = image.height = textureSize;
    image.argb.resize(size_t(textureSize) * textureSize);
    uint32_t state = seed;
    for (uint32_t y = 0; y < textureSize; ++y)
        for (uint32_t x = 0; x < textureSize; ++x) {
            state = state * 1664525u + 1013904223u;
            const float grain = 0.9f + 0.1f * float((state >> 24) & 0xFFu) / 255.0f;
            const float shade = tread && (y & 7u) < 3u ? grain * 0.45f : grain;
            uint32_t c = 0xFF000000u;
            for (int shift : {0, 8, 16})
                c |= uint32_t(std::lround(float((base >> shift) & 0xFFu) * shade)) << shift;
            image.argb[size_t(y) * textureSize + x] = c;
        }
    return ImageFileWriter::tga(image);
}

// The finish each role wears (roles 1 to 17); empty for the body and the
// helmet, which the game paints in the player's colour.
struct Finish
{
    const char* file;
    uint32_t base;
    bool tread;
};
constexpr Finish metal{"QuadMetal.tga", 0xFF8A8D92u, false};
constexpr Finish tyre{"QuadTyre.tga", 0xFF3A3A3Cu, true};
constexpr Finish plastic{"QuadPlastic.tga", 0xFF26272Au, false};
constexpr Finish suit{"QuadSuit.tga", 0xFF2E4A7Au, false};
constexpr Finish visor{"QuadVisor.tga", 0xFF15181Cu, false};
constexpr Finish painted{"", 0, false};
const Finish finishes[17] = {metal, metal, tyre,    metal, metal,   metal,   tyre, metal, metal,
                             metal, tyre,  metal,   plastic, painted, suit, painted, visor};

}

const std::vector<std::string>& finishFiles()
{
    static const std::vector<std::string> files = {metal.file, tyre.file, plastic.file, suit.file, visor.file};
    return files;
}

FunctionsRecordWriter::Fire fires()
{
    // Fires 0 and 1 burn over the engine of a badly damaged quad, fire 2 is
    // the nitro's flame out of the back; the race lights them.
    FunctionsRecordWriter::Fire fire;
    fire.flames.assign(3, FunctionsRecordWriter::Fire::Flame{});
    const float places[3][3] = {{-0.2f, 0.95f, 0.1f}, {0.2f, 0.95f, -0.1f}, {0.0f, 0.6f, -1.1f}};
    for (size_t i = 0; i < 3; ++i) {
        FunctionsRecordWriter::Fire::Flame& f = fire.flames[i];
        f.position = {places[i][0], places[i][1], places[i][2] + balanceShift};
        f.scale = i == 2 ? 0.5f : 0.8f;
        f.burningAtStart = 0;
    }
    fire.flames[2].angles = {-90.0f, 0.0f, 0.0f};
    fire.flames[2].look = {0.4f, 0.8f, 0.1f, 0.3f, 0.1f, 0.6f};
    return fire;
}

ObjectPackageWriter::Package package()
{
    ObjectPackageWriter::Package p;
    FunctionsRecordWriter::QuadPhysics quad;
    for (int role = 1; role <= 17; ++role) {
        const Part& part = parts[role - 1];
        PackagePartWriter::Mesh m;
        m.name = m.displayName = roleNames[size_t(role - 1)];
        m.position = part.position + vec3d(0.0f, 0.0f, balanceShift);
        if (role == driverRole) {
            m.body = RiderSample::record();
            m.position = riderPosition() + vec3d(0.0f, 0.0f, balanceShift);
        } else if (role == helmetRole || role == visorRole) {
            m.body = role == helmetRole ? carried(helmetHalf, helmetCentre) : carried(visorHalf, visorCentre);
        } else if (role == handlebarRole) {
            m.body = box(part.half, vec3d(0.0f, gripHeight, -gripBack));
            m.scale = handlebarScale;
        } else {
            m.body = box(part.half);
        }
        if (role == bodyRole)
            m.geometries.push_back({});
        m.textureName = finishes[role - 1].file;
        p.meshes.push_back(m);
        quad.roles[size_t(role - 1)] = roleNames[size_t(role - 1)];
    }
    for (const Finish& f : {metal, tyre, plastic, suit, visor})
        p.files.push_back({f.file, finish(f.base, f.base ^ 0x9E3779B9u, f.tread)});
    // Three wheel units, each pressed in by restCompression of its travel,
    // carry the quad: 3 x spring x compression = mass x gravity.
    PackagePartWriter::PhysicsRecord physics;
    physics.mass = 3.0f * spring * restCompression / gravity;
    p.physics = physics;

    quad.rearSpring = quad.frontSpring = spring;
    quad.rearDamper = quad.frontDamper = damper;
    for (int i = 0; i < 4; ++i)
        quad.sounds[size_t(i)] = SoundSamples::wav(SoundSamples::engineLoop(i));
    quad.sounds[4] = SoundSamples::wav(SoundSamples::drag());
    quad.sounds[5] = SoundSamples::wav(SoundSamples::tone(0.25, 1));
    quad.sounds[6] = SoundSamples::wav(SoundSamples::collision());
    quad.sounds[7] = SoundSamples::wav(SoundSamples::drag());
    quad.sounds[8] = SoundSamples::wav(SoundSamples::collision());
    quad.dustPath = "WheelDust.tga";
    quad.dust = puff(7);
    quad.dirtPath = "WheelDirt.tga";
    quad.dirt = crumbs(11);
    // Three lights that project nothing; the third marks the exhaust's
    // outlet, behind the body on the right, blowing up.
    PackagePartWriter::Light mark;
    mark.projectionKind = 2;
    mark.lightFlag = 0;
    p.lights = {mark, mark, mark};
    p.lights[2].position = exhaustOutlet;
    FunctionsRecordWriter::Record functions;
    functions.quadPhysics = quad;
    functions.fire = fires();
    // The pick-up chime of the quad's inventory.
    functions.inventory = FunctionsRecordWriter::Inventory{SoundSamples::wav(SoundSamples::chime())};
    p.functions = functions;
    return p;
}

bool save(const String& root)
{
    return ObjectPackageWriter::save(package(), root + L"Objects\\Quad.teo");
}

}
