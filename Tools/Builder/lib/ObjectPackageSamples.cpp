#include "ObjectPackageSamples.h"

#include "EffectPackageSamples.h"
#include "MeshSamples.h"
#include "PackagePartSamples.h"
#include "TreeSamples.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace ObjectPackageSamples {

PackagePartWriter::Mesh unitBox(const char* name, vec3d position, float scale)
{
    PackagePartWriter::Mesh m;
    m.body = MeshSamples::record();
    m.displayName = name;
    m.name = name;
    m.position = position;
    m.scale = scale;
    return m;
}

MeshWriter::Record blocks(const std::vector<Block>& parts)
{
    MeshWriter::Record r;
    r.format = 274;
    vec3d low(1e30f, 1e30f, 1e30f), high(-1e30f, -1e30f, -1e30f);
    for (const Block& part : parts) {
        const vec3d middle = (part.low + part.high) * 0.5f, half = (part.high - part.low) * 0.5f;
        for (int f = 0; f < 6; ++f) {
            const uint16_t first = uint16_t(r.positions.size());
            vec3d corners[4];
            for (int c = 0; c < 4; ++c) {
                const vec3d unit = MeshSamples::corner(MeshSamples::faces[f][c], 1.0f);
                corners[c] = middle + vec3d(unit.x * half.x, unit.y * half.y, unit.z * half.z);
            }
            const vec3d normal = (corners[1] - corners[0]).cross(corners[2] - corners[0]).normalised();
            static const float u[4] = {0.0f, 1.0f, 1.0f, 0.0f}, v[4] = {0.0f, 0.0f, 1.0f, 1.0f};
            for (int c = 0; c < 4; ++c) {
                r.positions.push_back(corners[c]);
                r.normals.push_back(normal);
                r.uvs.push_back(vec2d(u[c], v[c]));
            }
            for (uint16_t index : {0, 1, 2, 0, 2, 3})
                r.indices.push_back(uint16_t(first + index));
        }
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], part.low[k]);
            high[k] = std::max(high[k], part.high[k]);
        }
    }
    if (parts.empty())
        low = high = vec3d();
    r.box.minimum = low;
    r.box.maximum = high;
    r.box.center = (low + high) * 0.5f;
    r.box.radiusSq = (high - r.box.center).lengthSq();
    r.box.radius = std::sqrt(r.box.radiusSq);
    return r;
}

std::vector<Block> gateFrame()
{
    // Posts 0.1 thick at x = -0.45 and 0.45, the bar 0.1 deep along the top.
    return {{{-0.5f, -0.5f, -0.05f}, {-0.4f, 0.4f, 0.05f}},
            {{0.4f, -0.5f, -0.05f}, {0.5f, 0.4f, 0.05f}},
            {{-0.5f, 0.4f, -0.05f}, {0.5f, 0.5f, 0.05f}}};
}

ObjectPackageWriter::Package crate()
{
    ObjectPackageWriter::Package p;
    for (const PackagePartSamples::File& file : PackagePartSamples::files())
        if (file.name == "CrateBox.tga")
            p.files.push_back({file.name, file.bytes});
    p.meshes.push_back(PackagePartSamples::box());
    p.physics = PackagePartSamples::physics();
    p.functions = FunctionsRecordWriter::Record{};
    return p;
}

FunctionsRecordWriter::LensFlare gateFlares()
{
    // Gold lights on the frame's two posts, low and high, on the side a
    // vehicle comes from (their forward axis points through the gate).
    FunctionsRecordWriter::LensFlare flares;
    flares.flares.clear();
    for (float x : {-1.8f, 1.8f})
        for (float y : {1.2f, 3.4f}) {
            FunctionsRecordWriter::LensFlare::Flare f;
            f.position = {x, y, -0.4f};
            f.scale = 0.8f;
            f.coneAngle = 70.0f;
            f.colour = {80, 220, 255, 255};
            flares.flares.push_back(f);
        }
    return flares;
}

FunctionsRecordWriter::Spin pickUpSpin()
{
    // Three degrees a frame about the upright axis, bobbing slowly.
    FunctionsRecordWriter::Spin spin;
    spin.parameters[2] = 0.15f;
    spin.parameters[3] = 0.5f;
    spin.parameters[6] = 30.0f;
    return spin;
}

ObjectPackageWriter::Package gate()
{
    ObjectPackageWriter::Package p;
    p.version = "v1.1";
    PackagePartWriter::Mesh frame = unitBox("GateFrame", {0.0f, 2.0f, 0.0f}, 4.0f);
    frame.body = blocks(gateFrame());
    // Collision on the two posts only: a vehicle drives through between them.
    for (float side : {-0.45f, 0.45f})
        frame.geometries.push_back({{side * 4.0f, 0.0f, 0.0f}, {0.1f, 1.0f, 0.1f}, {}, 0});
    p.meshes.push_back(frame);
    p.meshes.push_back(unitBox("GateMarker", {0.0f, 5.0f, 0.0f}, 1.0f));
    FunctionsRecordWriter::Record functions;
    functions.gate = FunctionsRecordWriter::Gate{"GateMarker"};
    functions.lensFlare = gateFlares();
    p.functions = functions;
    return p;
}

ObjectPackageWriter::Package camera()
{
    ObjectPackageWriter::Package p;
    p.meshes.push_back(unitBox("CameraMarker", {}, 0.5f));
    return p;
}

ObjectPackageWriter::Package marker(const char* name, float side)
{
    ObjectPackageWriter::Package p;
    p.meshes.push_back(unitBox(name, {0.0f, side * 0.5f, 0.0f}, side));
    return p;
}

ObjectPackageWriter::Package arch(const char* name)
{
    constexpr float post = 0.8f, half = archWidth * 0.5f;
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh m;
    m.body = blocks({{{-half, 0.0f, -0.4f}, {-half + post, archHeight - 1.0f, 0.4f}},
                     {{half - post, 0.0f, -0.4f}, {half, archHeight - 1.0f, 0.4f}},
                     {{-half, archHeight - 1.0f, -0.4f}, {half, archHeight, 0.4f}}});
    m.displayName = name;
    m.name = name;
    p.meshes.push_back(m);
    return p;
}

ObjectPackageWriter::Package pickUp(const char* name, uint32_t value)
{
    ObjectPackageWriter::Package p;
    p.meshes.push_back(unitBox((std::string(name) + "Item").c_str(), {0.0f, 0.75f, 0.0f}, 0.75f));
    FunctionsRecordWriter::Record functions;
    functions.collect = FunctionsRecordWriter::Collect{value};
    functions.spin = pickUpSpin();
    p.functions = functions;
    return p;
}

std::vector<std::pair<const wchar_t*, uint32_t>> pickUpValues()
{
    return {{L"Nitro", 1}, {L"Oil", 2}, {L"RepairKit", 3}, {L"RocketPack", 4}, {L"CaptureFlag", 5}};
}

ObjectPackageWriter::Package tree(const char* name, uint32_t seed)
{
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh trunk;
    trunk.kind = 0;
    trunk.tree = TreeSamples::leafyTree(true, seed);
    trunk.displayName = name;
    trunk.name = name;
    p.meshes.push_back(trunk);
    return p;
}

std::vector<std::pair<const wchar_t*, ObjectPackageWriter::Package>> all()
{
    std::vector<std::pair<const wchar_t*, ObjectPackageWriter::Package>> packages{
        {L"Crate.teo", crate()}, {L"Gate.teo", gate()}, {L"Camera.teo", camera()}};
    static const wchar_t* const files[] = {L"Nitro.teo", L"Oil.teo", L"RepairKit.teo", L"RocketPack.teo",
                                           L"CaptureFlag.teo"};
    size_t i = 0;
    for (const auto& [name, value] : pickUpValues()) {
        const std::wstring wide(name);
        ObjectPackageWriter::Package package = pickUp(std::string(wide.begin(), wide.end()).c_str(), value);
        // The carried flag flies a cloth.
        if (value == 5 && package.functions)
            package.functions->cloths = EffectPackageSamples::flagCloth();
        packages.push_back({files[i++], package});
    }
    packages.push_back({L"OilPuddle.teo", EffectPackageSamples::oilPuddle()});
    packages.push_back({L"Bonfire.teo", EffectPackageSamples::bonfire()});
    packages.push_back({L"Rocket.teo", EffectPackageSamples::rocket()});
    packages.push_back({L"Bush.teo", EffectPackageSamples::bush()});
    packages.push_back({L"Banner.teo", EffectPackageSamples::banner()});
    // The race's markers: the grid, the course's ends, KnockOut's parking
    // and the championship's podium.
    // A grid slot's point is where its quad is held above the road, three
    // units up: its pad lies on the road below, out of the falling quad's way.
    ObjectPackageWriter::Package slot;
    slot.meshes.push_back(unitBox("PlayerSlotMarker", {0.0f, -2.5f, 0.0f}, 1.0f));
    packages.push_back({L"PlayerSlot.teo", slot});
    packages.push_back({L"Start.teo", arch("StartMarker")});
    packages.push_back({L"Goal.teo", arch("GoalMarker")});
    packages.push_back({L"PlayerParkingSlot.teo", marker("ParkingSlotMarker", 1.0f)});
    packages.push_back({L"Podium.teo", marker("PodiumBlock", 3.0f)});
    return packages;
}

bool save(const String& root)
{
    for (const auto& [name, package] : all())
        if (!ObjectPackageWriter::save(package, root + L"Objects\\" + name))
            return false;
    return true;
}

bool saveTree(const String& root)
{
    return ObjectPackageWriter::save(tree(), root + L"Objects\\Tree.teo") &&
           ObjectPackageWriter::save(tree("GrownTree", grownTreeSeed), root + L"Objects\\GrownTree.teo");
}

}
