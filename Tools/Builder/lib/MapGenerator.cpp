#include "MapGenerator.h"

#include "ImageFileWriter.h"
#include "MeadowSamples.h"
#include "ObjectPackageSamples.h"
#include "ObjectSamples.h"
#include "RecordsFileWriter.h"
#include "TerrainSamples.h"
#include "ValueNoise.h"
#include "WaterSamples.h"
#include "WaySamples.h"

#include "Core/HeightSurface.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace MapGenerator {

namespace {

constexpr float pi = 3.14159265f;
// The floor's middle height, height units.
constexpr float floorUnits = 20.0f;

float smoothstep(float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// A small generator of its own, so that every compiler gives the same maps.
class Random
{
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
    uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // In [low, high).
    float between(float low, float high) { return low + (high - low) * float(next() >> 8) / 16777216.0f; }

private:
    uint32_t state_;
};

// The seeded course: a loop around (cx, cz) whose radius wobbles with its
// angle, stretched by aspect along x. Points at a distance rho of the
// course's own radius lie on the same shape scaled.
struct Shape
{
    float cx = 0.0f, cz = 0.0f;
    float radius = 1100.0f;
    float aspect = 1.0f;
    float wobble2 = 0.0f, phase2 = 0.0f;
    float wobble3 = 0.0f, phase3 = 0.0f;
    float startAngle = 0.0f;

    float radiusAt(float angle) const
    {
        return radius * (1.0f + wobble2 * std::sin(2.0f * angle + phase2) + wobble3 * std::sin(3.0f * angle + phase3));
    }
    std::pair<float, float> at(float angle) const
    {
        const float r = radiusAt(angle);
        return {cx + aspect * r * std::cos(angle), cz + r * std::sin(angle) / aspect};
    }
    // The point's distance from the middle against the course's (1 on the course).
    float rho(float x, float z) const
    {
        const float u = (x - cx) / aspect, v = (z - cz) * aspect;
        return std::sqrt(u * u + v * v) / radiusAt(std::atan2(v, u));
    }
};

struct Lake
{
    bool present = false;
    float x = 0.0f, z = 0.0f, rx = 1.0f, rz = 1.0f;
    float levelUnits = 0.0f;
};

Shape makeShape(Random& random, float halfWidth)
{
    Shape shape;
    shape.radius = std::min(halfWidth * random.between(0.32f, 0.4f), 1300.0f);
    shape.aspect = random.between(0.82f, 1.22f);
    shape.wobble2 = random.between(0.04f, 0.14f);
    shape.phase2 = random.between(0.0f, 2.0f * pi);
    shape.wobble3 = random.between(0.0f, 0.07f);
    shape.phase3 = random.between(0.0f, 2.0f * pi);
    shape.startAngle = random.between(0.0f, 2.0f * pi);
    shape.cx = random.between(-0.05f, 0.05f) * halfWidth;
    shape.cz = random.between(-0.05f, 0.05f) * halfWidth;
    return shape;
}

// The loop's corners about 160 units apart along it, counter-clockwise
// from the start angle.
std::vector<std::pair<float, float>> loopCorners(const Shape& shape)
{
    constexpr int dense = 720;
    std::vector<std::pair<float, float>> points;
    std::vector<float> lengths{0.0f};
    for (int i = 0; i <= dense; ++i) {
        points.push_back(shape.at(shape.startAngle + 2.0f * pi * float(i) / float(dense)));
        if (i > 0)
            lengths.push_back(lengths.back() + std::hypot(points[i].first - points[i - 1].first,
                                                          points[i].second - points[i - 1].second));
    }
    const int count = std::max(12, int(lengths.back() / 160.0f + 0.5f));
    std::vector<std::pair<float, float>> corners;
    size_t k = 0;
    for (int c = 0; c < count; ++c) {
        const float s = lengths.back() * float(c) / float(count);
        while (k + 1 < lengths.size() && lengths[k + 1] < s)
            ++k;
        corners.push_back(points[k]);
    }
    return corners;
}

// The heights: the rolling floor, the hills beyond the course and the
// lake's hollow; across the course road and a margin beside it the ground
// lies level at the height of the road's middle, and blends into the floor
// over the next 24 units.
TerrainMapWriter::Map makeTerrain(const Settings& settings, const Shape* shape, const Lake& lake,
                                  const LevelFileWriter::Terrain& scales, const Track& track, float roadWidth)
{
    TerrainMapWriter::Map map;
    map.size = settings.size;
    const int32_t size = map.size;
    const float half = TerrainSamples::halfWidth(map, scales);
    const uint32_t seed = settings.seed;
    const float cell = 8.0f * scales.horizontalScale;
    // The height at grid place (i, j), whole or between samples.
    const auto heightAt = [&](float i, float j) {
        const float x = i * cell - half;
        const float z = half - j * cell;
        float units = floorUnits + settings.rolling * 2.0f * (valueNoise(i, j, 24.0f, seed) - 0.5f);
        // Hills beyond the course (or, without a loop, away from the middle).
        const float rho = shape ? shape->rho(x, z) : std::hypot(x, z) / (0.45f * half);
        const float rise = smoothstep((rho - 1.4f) / 0.9f);
        units += settings.hills * rise * (0.55f + 0.45f * valueNoise(i, j, 20.0f, seed + 1));
        units += 10.0f * rise * valueNoise(i, j, 6.0f, seed + 2);
        if (lake.present) {
            const float u = (x - lake.x) / lake.rx, v = (z - lake.z) / lake.rz;
            const float w = 1.0f - smoothstep((std::sqrt(u * u + v * v) - 0.6f) / 0.7f);
            units += (floorUnits - 12.0f - units) * w;
        }
        return units;
    };
    const auto heightAtPlace = [&](float x, float z) { return heightAt((x + half) / cell, (half - z) / cell); };
    map.heights.reserve(size_t(size) * size);
    for (int32_t i = 0; i < size; ++i)
        for (int32_t j = 0; j < size; ++j) {
            const float x = float(i) * cell - half;
            const float z = half - float(j) * cell;
            float units = levelledAcross(track, roadWidth, x, z, heightAt(float(i), float(j)), heightAtPlace);
            if (units > 190.0f)
                units = 190.0f + 60.0f * std::tanh((units - 190.0f) / 60.0f);
            map.heights.push_back(TerrainSamples::rawHeight(units));
        }
    struct Colours
    {
        float low[3], middle[3], high[3];
    };
    static const Colours palettes[] = {
        {{0.30f, 0.55f, 0.20f}, {0.50f, 0.40f, 0.25f}, {0.62f, 0.60f, 0.58f}}, // green
        {{0.76f, 0.62f, 0.38f}, {0.62f, 0.36f, 0.22f}, {0.55f, 0.45f, 0.40f}}, // dry
        {{0.25f, 0.42f, 0.22f}, {0.45f, 0.40f, 0.32f}, {0.92f, 0.94f, 0.97f}}, // cold
        {{0.88f, 0.90f, 0.94f}, {0.60f, 0.63f, 0.68f}, {0.97f, 0.97f, 1.00f}}, // snow
    };
    const Colours& c = palettes[size_t(settings.palette)];
    const uint8_t floorTop = uint8_t(floorUnits + settings.rolling + 20.0f);
    map.layers.push_back(TerrainSamples::layer(c.low[0], c.low[1], c.low[2], 0, floorTop, seed + 11));
    map.layers.push_back(TerrainSamples::layer(c.middle[0], c.middle[1], c.middle[2], uint8_t(floorTop - 15),
                                               uint8_t(floorTop + 50), seed + 13));
    map.layers.push_back(TerrainSamples::layer(c.high[0], c.high[1], c.high[2], uint8_t(floorTop + 35), 255, seed + 17));
    map.overlays[0] = TerrainSamples::overlay(0.85f, 0.3f, seed + 19);
    map.overlays[1] = TerrainSamples::overlay(0.08f, 0.12f, seed + 23);
    return map;
}

const WaySamples::Layout& courseLayout(int32_t courseType)
{
    return courseType == 2 ? WaySamples::curbstones : courseType == 3 ? WaySamples::paved : WaySamples::dirt;
}

// Lap speeds of a good driver, world units per second.
float lapSpeed(int32_t courseType) { return courseType == 2 ? 60.0f : courseType == 3 ? 52.0f : 45.0f; }

using Object = StaticObjectWriter::Object;
using Ground = std::function<float(float, float)>;

// The road a one-leg open course's grid takes behind its Start: eight slots 14
// apart, the first 20 behind the Start.
constexpr float gridRun = 130.0f;
// How far before the first leg's end a loop's Start stands.
constexpr float startBeforeCorner = 10.0f;

// courseGates gates evenly along the run after the Start.
std::vector<float> evenGates(float start, float run)
{
    std::vector<float> places;
    for (int32_t i = 1; i <= courseGates; ++i)
        places.push_back(start + run * float(i) / float(courseGates + 1));
    return places;
}

// An off-road loop's gates, as distances along it. The first stands 40
// past the Start, beyond the Start and Goal arches; the last 150 before it,
// behind the grid, so that no quad meets a gate on its way from the grid to
// the first. Between them each next gate stands as far on as the course
// keeps within the allowed stray from the line between the two, and no
// farther than 400. The stray allowed grows from gateLineOff until the
// gates fit their numbers.
std::vector<float> offRoadGates(const Track& track, float start)
{
    const float first = start + 40.0f, last = start + track.length() - 150.0f;
    std::vector<float> places;
    for (float allowed = gateLineOff;; allowed += 1.0f) {
        places.assign(1, first);
        for (float from = first; from < last;) {
            float to = std::min(from + 20.0f, last);
            while (to < last && to - from < 400.0f && track.strayFromLine(from, std::min(to + 10.0f, last)) <= allowed)
                to = std::min(to + 10.0f, last);
            places.push_back(to);
            from = to;
        }
        if (places.size() <= size_t(mostOffRoadGates) || allowed > 40.0f)
            return places;
    }
}

void addRace(std::vector<Object>& objects, const Track& track, bool closed, bool offRoad, float roadWidth,
             float middleX, float middleZ, const Ground& ground)
{
    const auto at = [&](const wchar_t* package, float x, float z, float rotation, float lift, uint8_t number,
                        uint8_t flag) -> Object& {
        Object o = ObjectSamples::placed(package, x, ground(x, z) + lift, z, rotation);
        o.state = number;
        o.flag = flag;
        objects.push_back(o);
        return objects.back();
    };
    const float length = track.length();
    // The Start near the end of the first leg, the grid behind it on that
    // leg. Not on the corner itself: there one road piece ends and the next
    // begins, and a point on the joint lies on neither, so the opponents'
    // route along the road to the Start would not find it and they would
    // head straight for it across the last bend. An open course of one leg
    // has no road beyond that leg's end: its Start stands where the grid has
    // just room behind it, the road ahead of it.
    const bool oneLeg = !closed && track.cornerDistance(1) >= track.length();
    const float start = oneLeg ? std::min(track.length(), gridRun) : track.cornerDistance(1) - startBeforeCorner;
    const Track::Place s = track.at(start);
    at(L"Start", s.x, s.z, s.heading(), 0.0f, 0, 0);
    const Track::Place g = track.at(closed ? start + 15.0f : length - 20.0f);
    at(L"Goal", g.x, g.z, g.heading(), 0.0f, 0, 0);
    // Outside: the side of the start away from the course's middle.
    const auto right = s.beside(1.0f);
    const float outside = std::hypot(right.first - middleX, right.second - middleZ) >
                                  std::hypot(s.x - middleX, s.z - middleZ)
                              ? 1.0f
                              : -1.0f;
    for (int32_t slot = 0; slot < gridSlots; ++slot) {
        const Track::Place p = track.at(start - 20.0f - 14.0f * float(slot));
        const auto [x, z] = p.beside(slot % 2 ? 3.5f : -3.5f);
        at(L"PlayerSlot", x, z, p.heading(), 3.0f, 0, uint8_t(slot));
    }
    for (int32_t slot = 0; slot < parkingSlots; ++slot) {
        const Track::Place p = track.at(start - 20.0f - 14.0f * float(slot));
        const auto [x, z] = p.beside(outside * (roadWidth * 0.5f + 20.0f));
        at(L"PlayerParkingSlot", x, z, p.heading(), 0.0f, 0, uint8_t(slot));
    }
    {
        const Track::Place p = track.at(start + 60.0f);
        const auto [x, z] = p.beside(outside * (roadWidth * 0.5f + 35.0f));
        at(L"Podium", x, z, p.heading() - 90.0f * outside, 0.0f, 0, 0);
        // A bonfire burns beside the podium.
        const Track::Place q = track.at(start + 90.0f);
        const auto [fx, fz] = q.beside(outside * (roadWidth * 0.5f + 35.0f));
        at(L"Bonfire", fx, fz, 0.0f, 0.0f, 0, 0);
    }
    // Gates facing along the way round, the flag modes' gates half way
    // between two of them. A road's gates stand on the middle of the road's
    // own curve and span it, their posts on the level margin beside it; an
    // off-road course's floor ends at the hollow's walls, and its gates are
    // a little narrower than the floor, their posts standing on it clear of
    // the walls.
    const float run = closed ? length : length - start;
    const std::vector<float> places =
        offRoad && closed ? offRoadGates(track, start) : evenGates(start, run);
    const float gateScale = offRoad ? (roadWidth - 2.0f * gateWallClearance) / 4.0f
                                    : ObjectPackageSamples::gateScaleSpanning(roadWidth);
    const auto gateAt = [&](float s, uint8_t number, uint8_t group) {
        const Track::Place p = offRoad ? track.at(s) : track.onRoad(s);
        at(L"Gate", p.x, p.z, p.heading(), 0.0f, number, group).scale = gateScale;
    };
    for (size_t i = 0; i < places.size(); ++i)
        gateAt(places[i], uint8_t(i + 1), 0);
    for (int32_t i = 0; i < flagGates; ++i) {
        const float wanted = start + run * (float(1 + 3 * i) + 0.5f) / float(courseGates + 1);
        size_t k = 1;
        while (k + 1 < places.size() && places[k] < wanted)
            ++k;
        gateAt((places[k - 1] + places[k]) * 0.5f, uint8_t(10 + i), 1);
    }
    // Pick-ups in pairs across the road, the flag half way round.
    const wchar_t* const items[4] = {L"Nitro", L"RepairKit", L"RocketPack", L"Oil"};
    for (int i = 0; i < 8; ++i) {
        const Track::Place p = track.at(start + run * (0.08f + 0.11f * float(i)));
        const auto [x, z] = p.beside(i % 2 ? 3.0f : -3.0f);
        at(items[i % 4], x, z, 0.0f, 0.0f, 0, 0);
    }
    const Track::Place flag = track.at(start + run * 0.5f);
    at(L"CaptureFlag", flag.x, flag.z, 0.0f, 0.0f, 0, 0);
}

// Camera objects 0 to 17: 0 the start view behind the grid, 1 to 8 views
// round the course for the race menu's tours, 9 to 17 round the podium for
// the championship's end. The flag byte b tilts a view down by 90 - b degrees.
void addCameras(std::vector<Object>& objects, const Track& track, float middleX, float middleZ, const Ground& ground)
{
    const auto view = [&](float x, float z, float lift, float lookX, float lookZ, uint8_t number, uint8_t flag) {
        const float heading = std::atan2(lookX - x, lookZ - z) * 180.0f / pi;
        Object o = ObjectSamples::placed(L"Camera", x, ground(x, z) + lift, z, heading);
        o.state = number;
        o.flag = flag;
        objects.push_back(o);
    };
    const float start = track.cornerDistance(1);
    const Track::Place behind = track.at(start - 220.0f);
    const Track::Place ahead = track.at(start);
    view(behind.x, behind.z, 40.0f, ahead.x, ahead.z, 0, 78);
    for (uint8_t n = 1; n <= 8; ++n) {
        const Track::Place p = track.at(start + track.length() * float(n - 1) / 8.0f);
        // Outside the course, looking across it towards the middle.
        const float ox = p.x - middleX, oz = p.z - middleZ;
        const float d = std::max(std::hypot(ox, oz), 1.0f);
        view(p.x + ox / d * 90.0f, p.z + oz / d * 90.0f, 35.0f, middleX, middleZ, n, uint8_t(72 + n % 3));
    }
    const Object* podium = nullptr;
    for (const Object& o : objects)
        if (o.package.sameText(String::borrowed(L"Podium")))
            podium = &o;
    const float px = podium ? podium->position[0] : ahead.x, pz = podium ? podium->position[2] : ahead.z;
    for (uint8_t n = 9; n < cameraObjects; ++n) {
        const float a = 2.0f * pi * float(n - 9) / 9.0f;
        const float r = 30.0f + 6.0f * float(n % 3);
        view(px + r * std::cos(a), pz + r * std::sin(a), 6.0f + 2.0f * float(n % 4), px, pz, n, 82);
    }
}

// Trees of two kinds and bushes on the floor, clear of the road, the race's markers and
// the lake.
void addPlants(std::vector<Object>& objects, Random& random, const Track& track, float roadWidth, const Lake& lake,
               float half, const Ground& ground)
{
    const size_t raceObjects = objects.size();
    const auto clear = [&](float x, float z) {
        if (track.distance(x, z) < roadWidth + 25.0f)
            return false;
        if (lake.present) {
            const float u = (x - lake.x) / lake.rx, v = (z - lake.z) / lake.rz;
            if (u * u + v * v < 1.7f)
                return false;
        }
        for (size_t i = 0; i < raceObjects; ++i)
            if (std::hypot(objects[i].position[0] - x, objects[i].position[2] - z) < 30.0f)
                return false;
        return true;
    };
    const float reach = half * 0.75f;
    for (int placed = 0, tries = 0; placed < 90 && tries < 2000; ++tries) {
        const float x = random.between(-reach, reach), z = random.between(-reach, reach);
        const bool bush = placed % 3 == 2;
        const float rotation = random.between(0.0f, 360.0f);
        const float scale = bush ? random.between(0.8f, 1.3f) : random.between(0.7f, 1.1f);
        if (!clear(x, z))
            continue;
        const wchar_t* package = bush ? L"Bush" : placed % 3 == 0 ? L"Tree" : L"GrownTree";
        Object o = ObjectSamples::placed(package, x, ground(x, z), z, rotation);
        o.scale = scale;
        objects.push_back(o);
        ++placed;
    }
}


}

float levelledAcross(const Track& track, float roadWidth, float x, float z, float units,
                     const std::function<float(float x, float z)>& height)
{
    const float level = roadWidth * 0.5f + levelMargin, blend = 24.0f;
    float nx = 0.0f, nz = 0.0f;
    const float off = track.nearest(x, z, nx, nz);
    if (off >= level + blend)
        return units;
    const float middle = height(nx, nz);
    return units + (middle - units) * (1.0f - smoothstep((off - level) / blend));
}

Map generate(const Settings& settings)
{
    Random random(settings.seed);
    Map map;
    LevelFileWriter::Level& level = map.level;
    const LevelFileWriter::Terrain scales;
    TerrainMapWriter::Map probe;
    probe.size = settings.size;
    const float half = TerrainSamples::halfWidth(probe, scales);

    // The course, and the lake inside a loop.
    Shape shape;
    std::vector<std::pair<float, float>> corners = settings.course;
    const bool seeded = corners.empty();
    if (seeded) {
        shape = makeShape(random, half);
        corners = loopCorners(shape);
    }
    const bool closed = seeded || settings.closed;
    Lake lake;
    if (settings.lake && seeded) {
        lake.present = true;
        lake.rx = shape.radius * random.between(0.24f, 0.32f) * shape.aspect;
        lake.rz = shape.radius * random.between(0.24f, 0.32f) / shape.aspect;
        lake.x = shape.cx + random.between(-0.08f, 0.08f) * shape.radius;
        lake.z = shape.cz + random.between(-0.08f, 0.08f) * shape.radius;
        lake.levelUnits = floorUnits - 3.0f;
    }
    WaySamples::Layout layout = courseLayout(settings.courseType);
    layout.width = wayWidth(settings.courseType);
    const Track track(corners, closed);
    map.courseLength = track.length();
    map.terrain = makeTerrain(settings, seeded ? &shape : nullptr, lake, scales, track, layout.width);
    const TerrainMapWriter::Map& terrain = map.terrain;
    const Ground ground = [&terrain, scales](float x, float z) {
        return TerrainSamples::groundHeight(terrain, scales, x, z);
    };
    // The ground as the race finds it: inside a dirt hollow, sunk as the
    // game sinks it.
    const bool hollow = layout.width > floorWidth(settings.courseType);
    const float wayHalf = layout.width * 0.5f;
    const Ground raceGround = [&ground, &track, hollow, wayHalf, scales](float x, float z) {
        const float fromEdge = hollow ? wayHalf - track.distance(x, z) : 0.0f;
        const float sunk = fromEdge > 0.0f ? hollowDepth * std::min(1.0f, hollowSlope * fromEdge) : 0.0f;
        return ground(x, z) - sunk * scales.verticalScale;
    };

    WayFileWriter::Way road = WaySamples::loop(layout, corners, ground);
    if (!closed)
        road.pop_back(); // an open course ends at its last corner
    else if (hollow)
        WaySamples::closeMidLeg(road, layout, ground);
    map.ways.push_back(road);
    WayFileWriter::deriveAsTheGame(map.ways);

    if (lake.present)
        map.water.push_back(WaterSamples::lake(L"Lake", lake.x, lake.z, lake.rx, lake.rz,
                                               lake.levelUnits * scales.verticalScale, 16.0f));
    // Grass on the floor; none grows on snow.
    const float grassHigh =
        settings.palette == Palette::Snow ? 0.0f : (floorUnits + settings.rolling + 25.0f) * scales.verticalScale;
    map.meadow = MeadowSamples::meadow(0.0f, grassHigh, lake.present ? lake.levelUnits * scales.verticalScale : -1.0f);

    float middleX = 0.0f, middleZ = 0.0f;
    for (const auto& [x, z] : corners) {
        middleX += x / float(corners.size());
        middleZ += z / float(corners.size());
    }
    addRace(map.objects, track, closed, settings.courseType == 1, floorWidth(settings.courseType), middleX, middleZ,
            raceGround);
    addCameras(map.objects, track, middleX, middleZ, ground);
    addPlants(map.objects, random, track, layout.width, lake, half, ground);

    level.name = settings.name;
    level.description = settings.code;
    level.preview = ImageFileWriter::png(TerrainSamples::shadedPicture(terrain, scales, map.water, 256, 128));
    level.courseType = settings.courseType;
    const float lapSeconds = map.courseLength / lapSpeed(settings.courseType);
    level.referenceTime = RecordsFileWriter::Time::fromMilliseconds(uint32_t(lapSeconds * 1000.0f)).word();
    level.timeOfDay = settings.timeOfDay;
    level.season = settings.season;
    level.animatedSky = 1;
    level.terrain.barrierFlag = 1;
    // The start view: behind the grid, above the road.
    const Track::Place behind = track.at(track.cornerDistance(1) - 250.0f);
    LevelFileWriter::Camera& camera = level.camera;
    camera.mode = 3;
    camera.targetHeight = camera.currentHeight = 40.0f;
    camera.position[0] = behind.x;
    camera.position[1] = ground(behind.x, behind.z) + 60.0f;
    camera.position[2] = behind.z;
    camera.pitch = 8.0f;
    camera.fogAmount = 0.3f;
    return map;
}

bool save(const Map& map, const String& folder, const String& base)
{
    const String path = folder + base;
    return LevelFileWriter::save(map.level, path + L".tee") && TerrainMapWriter::save(map.terrain, path + L".map") &&
           WaterFileWriter::save(map.water, path + L".wtr") && MeadowFileWriter::save(map.meadow, path + L".mdw") &&
           WayFileWriter::save(map.ways, path + L".way") && StaticObjectWriter::save(map.objects, path + L".obj");
}

std::vector<Settings> championship()
{
    // Each country: its code, its ground and three names, the off-road
    // map's, the race track's and the rally's.
    struct Country
    {
        const wchar_t* code;
        Palette palette;
        float hills;
        const wchar_t* names[3];
    };
    static const Country countries[] = {
        {L"AF", Palette::Dry, 90.0f, {L"Savanne", L"Oasenring", L"Kraterpiste"}},
        {L"DE", Palette::Green, 120.0f, {L"Waldweg", L"Nordring", L"Alpenpass"}},
        {L"FR", Palette::Green, 100.0f, {L"Lavendel", L"Loirering", L"Col du Vent"}},
        {L"ES", Palette::Dry, 110.0f, {L"Sierra", L"Arena", L"Costa"}},
        {L"IT", Palette::Green, 130.0f, {L"Toskana", L"Lagoring", L"Dolomiti"}},
        {L"US", Palette::Dry, 140.0f, {L"Canyon", L"Speedway", L"Rockies"}},
        {L"CA", Palette::Cold, 120.0f, {L"Ahornwald", L"Ahornring", L"Yukon"}},
        {L"GL", Palette::Snow, 150.0f, {L"Fjord", L"Eisring", L"Gletscher"}},
        {L"CN", Palette::Green, 140.0f, {L"Reisfeld", L"Drachenring", L"Bambus"}},
        {L"IN", Palette::Dry, 100.0f, {L"Monsun", L"Palastring", L"Ghats"}},
        {L"AU", Palette::Dry, 70.0f, {L"Outback", L"Kuestenring", L"Busch"}},
        {L"BR", Palette::Green, 110.0f, {L"Regenwald", L"Sambaring", L"Serra"}},
        {L"RU", Palette::Cold, 100.0f, {L"Taiga", L"Wolgaring", L"Ural"}},
    };
    std::vector<Settings> maps;
    uint32_t index = 0;
    for (const Country& country : countries)
        for (int32_t kind = 1; kind <= 3; ++kind, ++index) {
            Settings s;
            const std::wstring name = country.names[kind - 1];
            s.name = String((std::wstring(country.code) + L" " + name).c_str());
            s.code = String(country.code);
            std::wstring base = country.code;
            for (wchar_t c : name)
                if (c != L' ')
                    base += c;
            s.base = String(base.c_str());
            s.courseType = kind;
            s.seed = 7919u * (index + 1) + 104729u;
            s.palette = country.palette;
            s.hills = country.hills;
            // Race tracks lie on flatter ground than the off-road courses.
            s.rolling = kind == 2 ? 3.0f : kind == 3 ? 6.0f : 9.0f;
            s.timeOfDay = kind == 1 ? 11.0f : kind == 2 ? 13.5f : 16.0f;
            maps.push_back(std::move(s));
        }
    return maps;
}

bool saveChampionship(const String& root)
{
    const String folder = root + L"Data\\Map\\";
    for (const Settings& settings : championship())
        if (!save(generate(settings), folder, settings.base))
            return false;
    return true;
}

}
