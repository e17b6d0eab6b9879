#include "ObjectPackageSamples.h"

#include "EffectPackageSamples.h"
#include "ImageFileWriter.h"
#include "MeshSamples.h"
#include "PackagePartSamples.h"
#include "TreeSamples.h"

#include <algorithm>
#include <array>
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

ImageFileWriter::Image paintedFace(uint32_t colour, uint32_t mark, Emblem emblem)
{
    constexpr uint32_t size = 32;
    ImageFileWriter::Image image{size, size, {}};
    // Each channel scaled by percent, alpha kept.
    const auto shade = [](uint32_t argb, uint32_t percent) {
        uint32_t out = argb & 0xFF000000u;
        for (int shift = 0; shift < 24; shift += 8)
            out |= std::min(255u, (argb >> shift & 0xFFu) * percent / 100u) << shift;
        return out;
    };
    uint32_t state = colour ^ 0x2545F491u;
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            state = state * 1664525u + 1013904223u;
            const float u = (float(x) + 0.5f) / 16.0f - 1.0f, v = (float(y) + 0.5f) / 16.0f - 1.0f;
            const float r = std::sqrt(u * u + v * v);
            bool marked = false;
            switch (emblem) {
            case Emblem::none: break;
            case Emblem::cross: marked = (std::fabs(u) < 0.2f && std::fabs(v) < 0.65f) ||
                                         (std::fabs(v) < 0.2f && std::fabs(u) < 0.65f); break;
            case Emblem::ring: marked = r > 0.4f && r < 0.65f; break;
            case Emblem::disc: marked = r < 0.55f - 0.25f * v; break;
            case Emblem::stripes: marked = (x + y) / 6u % 2u == 0u; break;
            case Emblem::arrow: marked = (v > -0.1f && std::fabs(u) < 0.18f && v < 0.65f) ||
                                         (v <= -0.1f && v > -0.65f && std::fabs(u) < (v + 0.65f) * 0.9f); break;
            case Emblem::bands: marked = x / 4u % 2u == 1u; break;
            }
            const bool rim = x < 2 || y < 2 || x >= size - 2 || y >= size - 2;
            const uint32_t base = rim && emblem != Emblem::bands ? shade(colour, 60) : marked ? mark : colour;
            image.argb.push_back(shade(base, 92u + (state >> 29)));
        }
    return image;
}

void paint(ObjectPackageWriter::Package& p, PackagePartWriter::Mesh& m, const std::string& file,
           const ImageFileWriter::Image& image)
{
    m.textureName = file;
    for (const ObjectPackageWriter::File& held : p.files)
        if (held.name == file)
            return;
    p.files.push_back({file, ImageFileWriter::tga(image)});
}

namespace {

// The record's box from its low and high corners.
void setBox(MeshWriter::Record& r, const vec3d& low, const vec3d& high)
{
    r.box.minimum = low;
    r.box.maximum = high;
    r.box.center = (low + high) * 0.5f;
    r.box.radiusSq = (high - r.box.center).lengthSq();
    r.box.radius = std::sqrt(r.box.radiusSq);
}

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
    setBox(r, low, high);
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
    // As heavy as some fifty quads: a quad that drives into a post bounces
    // off it rather than shoving the gate off its place.
    PackagePartWriter::PhysicsRecord physics;
    physics.mass = 40.0f;
    p.physics = physics;
    paint(p, frame, "GateFrame.tga", paintedFace(0xFFE8781Eu, 0xFFF2F2F2u, Emblem::bands));
    p.meshes.push_back(frame);
    PackagePartWriter::Mesh marker = unitBox("GateMarker", {0.0f, 5.0f, 0.0f}, 1.0f);
    paint(p, marker, "GateMarker.tga", paintedFace(0xFFF0D030u, 0xFF303030u, Emblem::ring));
    p.meshes.push_back(marker);
    FunctionsRecordWriter::Record functions;
    functions.gate = FunctionsRecordWriter::Gate{"GateMarker"};
    functions.lensFlare = gateFlares();
    p.functions = functions;
    return p;
}

namespace {

// A package of one painted box, its texture named after the mesh.
ObjectPackageWriter::Package paintedBox(const char* name, vec3d position, float scale,
                                        const ImageFileWriter::Image& face)
{
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh box = unitBox(name, position, scale);
    paint(p, box, std::string(name) + ".tga", face);
    p.meshes.push_back(box);
    return p;
}

}

ObjectPackageWriter::Package camera()
{
    return paintedBox("CameraMarker", {}, 0.5f, paintedFace(0xFF808488u, 0xFF404448u, Emblem::disc));
}

ObjectPackageWriter::Package marker(const char* name, float side)
{
    return paintedBox(name, {0.0f, side * 0.5f, 0.0f}, side, paintedFace(0xFFB8B0A0u, 0xFF8A8478u, Emblem::none));
}

MeshWriter::Record boulder()
{
    // An octahedron's eight faces, each split twice into four.
    std::vector<std::array<vec3d, 3>> faces;
    for (int f = 0; f < 8; ++f) {
        const float sx = f & 1 ? -1.0f : 1.0f, sy = f & 2 ? -1.0f : 1.0f, sz = f & 4 ? -1.0f : 1.0f;
        // Corners turning outward seen from outside, whatever the signs.
        std::array<vec3d, 3> face{vec3d(sx, 0.0f, 0.0f), vec3d(0.0f, sy, 0.0f), vec3d(0.0f, 0.0f, sz)};
        if (sx * sy * sz < 0.0f)
            std::swap(face[1], face[2]);
        faces.push_back(face);
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<std::array<vec3d, 3>> finer;
        for (const auto& [a, b, c] : faces) {
            const vec3d ab = ((a + b) * 0.5f).normalised(), bc = ((b + c) * 0.5f).normalised(),
                        ca = ((c + a) * 0.5f).normalised();
            finer.push_back({a, ab, ca});
            finer.push_back({ab, b, bc});
            finer.push_back({ca, bc, c});
            finer.push_back({ab, bc, ca});
        }
        faces = std::move(finer);
    }
    // The same direction always gets the same bulge, so faces stay joined.
    const auto shape = [](const vec3d& d) {
        const float bulge = 1.0f + 0.14f * std::sin(3.1f * d.x + 0.7f) * std::cos(2.3f * d.z - 0.4f) +
                            0.08f * std::sin(4.7f * d.y + 1.9f * d.x);
        const vec3d p(d.x * bulge, std::max(d.y * bulge * 0.6f, -0.15f), d.z * bulge * 0.85f);
        return p + vec3d(0.0f, 0.15f, 0.0f);
    };
    MeshWriter::Record r;
    r.format = 274;
    vec3d low(1e30f, 1e30f, 1e30f), high(-1e30f, -1e30f, -1e30f);
    for (const auto& face : faces) {
        const vec3d p[3] = {shape(face[0]), shape(face[1]), shape(face[2])};
        const vec3d normal = (p[1] - p[0]).cross(p[2] - p[0]).normalised();
        for (const vec3d& corner : p) {
            r.indices.push_back(uint16_t(r.positions.size()));
            r.positions.push_back(corner);
            r.normals.push_back(normal);
            r.uvs.push_back(vec2d(corner.x * 0.5f + corner.y * 0.25f, corner.z * 0.5f - corner.y * 0.25f));
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], corner[k]);
                high[k] = std::max(high[k], corner[k]);
            }
        }
    }
    setBox(r, low, high);
    return r;
}

namespace {

// A grey stone with darker flecks and a few light grains, as a TGA file.
std::vector<uint8_t> stoneImage()
{
    ImageFileWriter::Image image{64, 64, {}};
    uint32_t state = 0x5EED0u;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            state = state * 1664525u + 1013904223u;
            const uint32_t noise = state >> 24;
            const float wave = 0.5f + 0.5f * std::sin(float(x) * 0.35f + float(y) * 0.2f) * std::cos(float(y) * 0.27f);
            const uint32_t grey = std::min(255u, 96u + uint32_t(wave * 40.0f) + noise / 6u - (noise > 230u ? 40u : 0u));
            image.argb.push_back(0xFF000000u | grey << 16 | (grey - grey / 16u) << 8 | (grey - grey / 8u));
        }
    return ImageFileWriter::tga(image);
}

// Bands of red and white across u, four of each: the box's faces run u up
// the post.
std::vector<uint8_t> bandsImage()
{
    ImageFileWriter::Image image{64, 8, {}};
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x)
            image.argb.push_back(x / 8u % 2u ? 0xFFF2F2F2u : 0xFFD02020u);
    return ImageFileWriter::tga(image);
}

// What stands in the landscape and shows from afar: drawn in the far
// field's pictures beyond the distance at which it comes alive.
FunctionsRecordWriter::Record inTheDistance()
{
    FunctionsRecordWriter::Record functions;
    functions.farField = 1;
    return functions;
}

}

ObjectPackageWriter::Package rock()
{
    ObjectPackageWriter::Package p;
    p.files.push_back({"Rock.tga", stoneImage()});
    PackagePartWriter::Mesh stone;
    stone.body = boulder();
    stone.displayName = "RockBoulder";
    stone.name = "RockBoulder";
    stone.textureName = "Rock.tga";
    stone.textureMipLevels = 1;
    stone.shader.addressMode = 1;
    stone.shader.material.specular = {0.1f, 0.1f, 0.1f, 1.0f};
    // No collision geometry, as the trees have none: an object with geometry
    // becomes a rigid body of its package's mass, and a rock would slide off
    // its slope.
    p.meshes.push_back(stone);
    p.functions = inTheDistance();
    return p;
}

ObjectPackageWriter::Package surveyMarker()
{
    ObjectPackageWriter::Package p;
    p.files.push_back({"Marker.tga", bandsImage()});
    PackagePartWriter::Mesh post;
    post.body = blocks({{{-0.1f, 0.0f, -0.1f}, {0.1f, 2.0f, 0.1f}}});
    post.displayName = "MarkerPost";
    post.name = "MarkerPost";
    post.textureName = "Marker.tga";
    post.textureMipLevels = 1;
    p.meshes.push_back(post);
    return p;
}

ObjectPackageWriter::Package arch(const char* name, uint32_t colour)
{
    constexpr float post = 0.8f, half = archWidth * 0.5f;
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh m;
    m.body = blocks({{{-half, 0.0f, -0.4f}, {-half + post, archHeight - 1.0f, 0.4f}},
                     {{half - post, 0.0f, -0.4f}, {half, archHeight - 1.0f, 0.4f}},
                     {{-half, archHeight - 1.0f, -0.4f}, {half, archHeight, 0.4f}}});
    m.displayName = name;
    m.name = name;
    paint(p, m, std::string(name) + ".tga", paintedFace(colour, 0xFFF2F2F2u, Emblem::bands));
    p.meshes.push_back(m);
    return p;
}

namespace {

// Each item's colour and emblem, by its value 1 to 5.
ImageFileWriter::Image itemFace(uint32_t value)
{
    switch (value) {
    case 1: return paintedFace(0xFF2A7FD8u, 0xFFF2F2F2u, Emblem::arrow);  // nitro
    case 2: return paintedFace(0xFF5A4A32u, 0xFF141210u, Emblem::disc);   // oil
    case 3: return paintedFace(0xFFF2F2F2u, 0xFFD02828u, Emblem::cross);  // repair kit
    case 4: return paintedFace(0xFF56683Cu, 0xFFE0C040u, Emblem::stripes); // rocket pack
    default: return paintedFace(0xFFC01818u, 0xFFF2F2F2u, Emblem::ring);  // the flag
    }
}

}

ObjectPackageWriter::Package pickUp(const char* name, uint32_t value)
{
    const std::string item = std::string(name) + "Item";
    ObjectPackageWriter::Package p = paintedBox(item.c_str(), {0.0f, 0.75f, 0.0f}, 0.75f, itemFace(value));
    FunctionsRecordWriter::Record functions;
    functions.collect = FunctionsRecordWriter::Collect{value};
    functions.spin = pickUpSpin();
    // Vehicles drive through a pick-up and take it: its box is no obstacle.
    functions.markSubEntities = 1;
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
    p.functions = inTheDistance();
    return p;
}

std::vector<std::pair<const wchar_t*, ObjectPackageWriter::Package>> all()
{
    std::vector<std::pair<const wchar_t*, ObjectPackageWriter::Package>> packages{
        {L"Crate.teo", crate()}, {L"Gate.teo", gate()}, {L"Camera.teo", camera()}, {L"Rock.teo", rock()},
        {L"Marker.teo", surveyMarker()}};
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
    packages.push_back({L"PlayerSlot.teo", paintedBox("PlayerSlotMarker", {0.0f, -2.5f, 0.0f}, 1.0f,
                                                      paintedFace(0xFF9AA0A8u, 0xFFF2F2F2u, Emblem::arrow))});
    packages.push_back({L"Start.teo", arch("StartMarker", 0xFF2E9A3Cu)});
    packages.push_back({L"Goal.teo", arch("GoalMarker", 0xFF202020u)});
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
