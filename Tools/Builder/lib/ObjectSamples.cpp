#include "ObjectSamples.h"

#include "ObjectPackageSamples.h"
#include "WaySamples.h"

#include <array>
#include <cmath>

StaticObjectWriter::Object ObjectSamples::placed(const wchar_t* package, float x, float y, float z, float rotation)
{
    StaticObjectWriter::Object o;
    o.package = String(package);
    o.position[0] = x;
    o.position[1] = y;
    o.position[2] = z;
    o.rotation = rotation;
    return o;
}

using ObjectSamples::placed;

std::vector<StaticObjectWriter::Object> ObjectSamples::valleyRace(const Ground& ground)
{
    std::vector<StaticObjectWriter::Object> objects;
    const auto at = [&](const wchar_t* package, float x, float z, float rotation, float lift, uint8_t number,
                        uint8_t group) {
        StaticObjectWriter::Object o = placed(package, x, (ground ? ground(x, z) : 50.0f) + lift, z, rotation);
        o.state = number;
        o.flag = group;
        objects.push_back(o);
        return &objects.back();
    };
    // The course of the sample ways runs north on x = 200, turns east round
    // z = 1125, south on x = 650 and back round z = -1125.
    constexpr float west = 200.0f, east = 650.0f, middle = 425.0f;
    at(L"Start", west, -300.0f, 0.0f, 0.0f, 0, 0);
    at(L"Goal", west, -285.0f, 0.0f, 0.0f, 0, 0);
    // The grid: two staggered rows, the quads held a little above the road.
    for (uint8_t slot = 0; slot < 8; ++slot)
        at(L"PlayerSlot", west + (slot % 2 ? 3.5f : -3.5f), -320.0f - 14.0f * float(slot), 0.0f, 3.0f, 0, slot);
    // Gates spanning the road, facing along the way round; the flag modes'
    // two on the shortcut span it. A course gate stands between two of the
    // way's points: where two segments join lies on neither of them, and a
    // gate there stands on no road the drivers' routes can reach. On the
    // turns (round (425, +-900), radius 225) they stand every 15 degrees,
    // half way between the way's points (every 30): in an off-road race the
    // drivers head straight from gate to gate, and a chord of 15 degrees
    // keeps within the road's half width of the bend.
    const float turn = (east - west) * 0.5f;
    std::vector<std::array<float, 3>> gates = {{west, 375.0f, 0.0f}, {west, 825.0f, 0.0f}};
    const auto turnGates = [&](float centreZ, float fromDegrees) {
        for (int i = 0; i < 12; ++i) {
            const float degrees = fromDegrees - 7.5f - 15.0f * float(i);
            const float a = degrees * 3.14159265f / 180.0f;
            gates.push_back({middle + turn * std::cos(a), centreZ + turn * std::sin(a), 180.0f - degrees});
        }
    };
    turnGates(900.0f, 180.0f);
    gates.push_back({east, 525.0f, 180.0f});
    gates.push_back({east, -375.0f, 180.0f});
    turnGates(-900.0f, 0.0f);
    // The valley's road follows its slopes across: the gates' posts stand
    // a little further out, clear of a quad on the road's higher edge.
    const float courseGate = ObjectPackageSamples::gateScaleSpanning(WaySamples::courseWidth + 8.0f);
    const float shortcutGate = ObjectPackageSamples::gateScaleSpanning(WaySamples::paved.width);
    for (size_t i = 0; i < gates.size(); ++i)
        at(L"Gate", gates[i][0], gates[i][1], std::fmod(gates[i][2] + 360.0f, 360.0f), 0.0f, uint8_t(i + 1), 0)->scale =
            courseGate;
    at(L"Gate", 330.0f, 15.0f, 90.0f, 0.0f, 10, 1)->scale = shortcutGate;
    at(L"Gate", 520.0f, 15.0f, 90.0f, 0.0f, 11, 1)->scale = shortcutGate;
    // Pick-ups in pairs along the straights, the flag on the shortcut.
    const wchar_t* const items[4] = {L"Nitro", L"RepairKit", L"RocketPack", L"Oil"};
    for (int i = 0; i < 4; ++i) {
        at(items[i], west + (i % 2 ? 3.0f : -3.0f), 100.0f + 120.0f * float(i), 0.0f, 0.0f, 0, 0);
        at(items[i], east + (i % 2 ? -3.0f : 3.0f), 300.0f - 120.0f * float(i), 0.0f, 0.0f, 0, 0);
    }
    at(L"CaptureFlag", middle, 25.0f, 0.0f, 0.0f, 0, 0);
    // KnockOut's parking beside the grid, and the podium facing the road.
    for (uint8_t slot = 0; slot < 7; ++slot)
        at(L"PlayerParkingSlot", west - 25.0f, -320.0f - 14.0f * float(slot), 0.0f, 0.0f, 0, slot);
    at(L"Podium", west - 40.0f, -180.0f, 90.0f, 0.0f, 0, 0);
    return objects;
}

std::vector<StaticObjectWriter::Object> ObjectSamples::valley(const Ground& ground)
{
    std::vector<StaticObjectWriter::Object> objects;
    // The start view looks down the valley from its southern end (tilt 90 - 70 degrees).
    StaticObjectWriter::Object camera = placed(L"Camera", 0.0f, 120.0f, -2600.0f);
    camera.flag = 70;
    objects.push_back(camera);
    // Camera objects 1 to 8 for the menu's tours: three flights of three
    // views each down the valley (object 0 starts the first).
    for (uint8_t n = 1; n <= 8; ++n) {
        const float z = -2600.0f + 520.0f * float(n);
        StaticObjectWriter::Object view = placed(L"Camera", (n % 2 ? 1.0f : -1.0f) * 240.0f, 110.0f, z,
                                                 float(n * 40 % 360));
        view.state = n;
        view.flag = uint8_t(60 + n);
        objects.push_back(view);
    }
    // Trees in two loose rows on the valley floor, on both sides of 0: the
    // eastern row between the lake's shore and the course's west straight,
    // clear of its road.
    for (int i = 0; i < 16; ++i) {
        const float z = -2400.0f + 320.0f * float(i);
        const float x = i % 2 ? 120.0f + 30.0f * std::sin(float(i)) : -(180.0f + 60.0f * std::sin(float(i)));
        StaticObjectWriter::Object tree = placed(L"Tree", x, 55.0f, z, float(i * 37 % 360));
        tree.scale = 0.8f + 0.05f * float(i % 5);
        objects.push_back(tree);
    }
    // Rocks on the slopes, across cell boundaries and below zero; with
    // ground, they rest on it.
    const float rocks[][3] = {{-2100.0f, 140.0f, -300.0f}, {2050.0f, 150.0f, 400.0f},
                              {-2049.0f, 130.0f, 2047.0f}, {1500.0f, 90.0f, -2049.0f}};
    for (const auto& r : rocks) {
        const float y = ground ? ground(r[0], r[2]) : r[1];
        StaticObjectWriter::Object rock = placed(L"Rock", r[0], y, r[2], 15.0f);
        rock.scale = 2.5f;
        rock.heightOffset = -0.6f;
        objects.push_back(rock);
    }
    // The finish gate lives wherever the camera is; it belongs to no group
    // of the race's gates.
    StaticObjectWriter::Object gate = placed(L"Gate", 40.0f, 50.0f, 2300.0f, 180.0f);
    gate.state = 254;
    gate.flag = 2;
    objects.push_back(gate);
    // Crates stacked by the track near the valley's middle.
    for (int i = 0; i < 4; ++i)
        objects.push_back(placed(L"Crate", 30.0f + 3.0f * float(i), 50.0f, 120.0f + float(i % 2), float(i * 20)));
    // A marker of a later builder: its unknown tag carries nothing.
    StaticObjectWriter::Object marker = placed(L"Marker", -60.0f, ground ? ground(-60.0f, 0.0f) : 48.0f, 0.0f);
    marker.flag = 3;
    marker.laterTags = {9};
    objects.push_back(marker);
    for (const StaticObjectWriter::Object& o : valleyRace(ground))
        objects.push_back(o);
    return objects;
}

bool ObjectSamples::save(const String& root, const Ground& ground)
{
    return StaticObjectWriter::save(valley(ground), root + L"Data\\Map\\Valley.obj");
}
