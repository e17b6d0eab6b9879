#include "HudSamples.h"

#include "ObjectPackageSamples.h"
#include "ResourceArchiveWriter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

namespace HudSamples {

namespace {

// A shape in coordinates 0..1 across the picture and the colour it paints.
struct Layer
{
    std::function<bool(float, float)> covers;
    uint32_t argb;
};

// Later layers paint over earlier ones; 4 x 4 samples per texel give soft
// edges, averaged with their alpha.
ImageFileWriter::Image paint(uint32_t side, const std::vector<Layer>& layers)
{
    ImageFileWriter::Image out;
    out.width = out.height = side;
    constexpr int samples = 4;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            float a = 0.0f, r = 0.0f, g = 0.0f, b = 0.0f;
            for (int sy = 0; sy < samples; ++sy)
                for (int sx = 0; sx < samples; ++sx) {
                    const float u = (float(x) + (float(sx) + 0.5f) / samples) / float(side);
                    const float v = (float(y) + (float(sy) + 0.5f) / samples) / float(side);
                    uint32_t c = 0;
                    for (const Layer& layer : layers)
                        if (layer.covers(u, v))
                            c = layer.argb;
                    const float ca = float(c >> 24) / 255.0f;
                    a += ca;
                    r += ca * float(c >> 16 & 0xFF);
                    g += ca * float(c >> 8 & 0xFF);
                    b += ca * float(c & 0xFF);
                }
            const float n = float(samples * samples);
            uint32_t texel = 0;
            if (a > 0.0f)
                texel = uint32_t(std::lround(a / n * 255.0f)) << 24 | uint32_t(std::lround(r / a)) << 16 |
                        uint32_t(std::lround(g / a)) << 8 | uint32_t(std::lround(b / a));
            out.argb.push_back(texel);
        }
    return out;
}

bool inCircle(float u, float v, float cu, float cv, float radius)
{
    return (u - cu) * (u - cu) + (v - cv) * (v - cv) <= radius * radius;
}

// Inside the band of half width around the segment from (u0, v0) to (u1, v1).
bool nearSegment(float u, float v, float u0, float v0, float u1, float v1, float half)
{
    const float du = u1 - u0, dv = v1 - v0;
    const float t = std::clamp(((u - u0) * du + (v - v0) * dv) / (du * du + dv * dv), 0.0f, 1.0f);
    const float pu = u0 + t * du - u, pv = v0 + t * dv - v;
    return pu * pu + pv * pv <= half * half;
}

// Inside the triangle (counter-clockwise or not).
bool inTriangle(float u, float v, float u0, float v0, float u1, float v1, float u2, float v2)
{
    const auto side = [](float ax, float ay, float bx, float by, float px, float py) {
        return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
    };
    const float s0 = side(u0, v0, u1, v1, u, v), s1 = side(u1, v1, u2, v2, u, v), s2 = side(u2, v2, u0, v0, u, v);
    return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
}

constexpr uint32_t outlineWhite = 0xFFF0F0F0u;

ImageFileWriter::Image oil()
{
    // A black drop with a white rim and a highlight.
    const auto drop = [](float grow) {
        return [grow](float u, float v) {
            return inCircle(u, v, 0.5f, 0.62f, 0.28f + grow) ||
                   inTriangle(u, v, 0.5f, 0.06f - grow * 1.6f, 0.25f - grow, 0.55f, 0.75f + grow, 0.55f);
        };
    };
    return paint(48, {{drop(0.06f), outlineWhite},
                      {drop(0.0f), 0xFF141414u},
                      {[](float u, float v) { return inCircle(u, v, 0.4f, 0.6f, 0.07f); }, 0xFF6A6A70u}});
}

ImageFileWriter::Image rocket()
{
    // A rocket flying up and to the right, with fins and a flame.
    const float a0 = 0.22f, b0 = 0.78f, a1 = 0.7f, b1 = 0.3f;
    return paint(48, {{[=](float u, float v) { return nearSegment(u, v, 0.1f, 0.9f, 0.22f, 0.78f, 0.09f); }, 0xFFFFA020u},
                      {[=](float u, float v) { return nearSegment(u, v, a0, b0, a1, b1, 0.13f); }, outlineWhite},
                      {[=](float u, float v) { return nearSegment(u, v, a0, b0, a1, b1, 0.09f); }, 0xFFB0B4BCu},
                      {[=](float u, float v) { return inTriangle(u, v, 0.66f, 0.2f, 0.8f, 0.34f, 0.9f, 0.1f); }, 0xFFD02020u},
                      {[=](float u, float v) { return inTriangle(u, v, 0.18f, 0.62f, 0.38f, 0.82f, 0.1f, 0.9f); }, 0xFFD02020u}});
}

ImageFileWriter::Image nitro()
{
    // A blue bottle with a white label band.
    const auto bottle = [](float grow) {
        return [grow](float u, float v) {
            const bool body = std::fabs(u - 0.5f) <= 0.2f + grow && v >= 0.3f - grow && v <= 0.94f + grow;
            const bool shoulder = inCircle(u, v, 0.5f, 0.34f, 0.2f + grow);
            const bool neck = std::fabs(u - 0.5f) <= 0.07f + grow && v >= 0.06f - grow && v <= 0.3f;
            return body || shoulder || neck;
        };
    };
    return paint(48, {{bottle(0.05f), outlineWhite},
                      {bottle(0.0f), 0xFF1E50D8u},
                      {[](float u, float v) { return std::fabs(u - 0.5f) <= 0.2f && std::fabs(v - 0.64f) <= 0.08f; },
                       0xFFEFEFEFu}});
}

ImageFileWriter::Image repair()
{
    // A red cross on a white disc.
    return paint(48, {{[](float u, float v) { return inCircle(u, v, 0.5f, 0.5f, 0.46f); }, 0xFFF4F4F4u},
                      {[](float u, float v) {
                           return (std::fabs(u - 0.5f) <= 0.11f && std::fabs(v - 0.5f) <= 0.32f) ||
                                  (std::fabs(v - 0.5f) <= 0.11f && std::fabs(u - 0.5f) <= 0.32f);
                       },
                       0xFFD81E1Eu}});
}

ImageFileWriter::Image eliminated()
{
    // A red cross of two strokes.
    const auto cross = [](float half) {
        return [half](float u, float v) {
            return nearSegment(u, v, 0.2f, 0.2f, 0.8f, 0.8f, half) || nearSegment(u, v, 0.8f, 0.2f, 0.2f, 0.8f, half);
        };
    };
    return paint(24, {{cross(0.14f), 0xFF200000u}, {cross(0.09f), 0xFFE02020u}});
}

// A box from lo to hi as 6 faces of 4 vertices each with flat normals.
void addBox(MeshWriter::Record& r, vec3d lo, vec3d hi)
{
    const vec3d corners[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z},
                              {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
    // Each face counter-clockwise seen from outside.
    const int faces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 4, 7, 3}, {1, 2, 6, 5}, {0, 1, 5, 4}, {3, 7, 6, 2}};
    for (const auto& f : faces) {
        const uint16_t first = uint16_t(r.positions.size());
        const vec3d normal = (corners[f[1]] - corners[f[0]]).cross(corners[f[2]] - corners[f[0]]).normalised();
        for (int c = 0; c < 4; ++c) {
            r.positions.push_back(corners[f[c]]);
            r.normals.push_back(normal);
            r.uvs.push_back(vec2d(c == 1 || c == 2 ? 1.0f : 0.0f, c >= 2 ? 1.0f : 0.0f));
        }
        for (uint16_t i : {0, 1, 2, 0, 2, 3})
            r.indices.push_back(uint16_t(first + i));
    }
}

// A triangle turned so that its normal points away from inside.
void addTriangle(MeshWriter::Record& r, vec3d a, vec3d b, vec3d c, vec3d inside)
{
    vec3d normal = (b - a).cross(c - a).normalised();
    if (normal.dot(a - inside) < 0.0f) {
        std::swap(b, c);
        normal = normal * -1.0f;
    }
    const uint16_t first = uint16_t(r.positions.size());
    for (const vec3d& p : {a, b, c}) {
        r.positions.push_back(p);
        r.normals.push_back(normal);
        r.uvs.push_back(vec2d(0.5f, 0.5f));
    }
    for (uint16_t i : {0, 1, 2})
        r.indices.push_back(uint16_t(first + i));
}

}

std::vector<Named> images()
{
    return {{L"HUDOil", oil()},
            {L"HUDRocket", rocket()},
            {L"HUDNitro", nitro()},
            {L"HUDRepair", repair()},
            {L"HUDEliminated", eliminated()}};
}

bool addArchiveImages(ResourceArchiveWriter& archive)
{
    for (const Named& picture : images()) {
        const std::vector<uint8_t> bytes = ImageFileWriter::png(picture.image);
        const String name(picture.name);
        if (bytes.empty() || !archive.addEntry(name + L".png", name, bytes.data(), uint32_t(bytes.size()), 0, 0))
            return false;
    }
    return true;
}

PackagePartWriter::Mesh arrow()
{
    // The arrow floats above its origin: the compass puts the origin well
    // below the camera's view axis, the arrow itself in the lower part of
    // the picture.
    MeshWriter::Record r;
    r.format = 274;
    const float half = 0.12f;
    const float lift = arrowLift;
    addBox(r, {-0.22f, lift - half, -1.2f}, {0.22f, lift + half, 0.2f});
    // The head: a flat wedge from z 0.2 to the tip at 1.2.
    const vec3d left{-0.6f, lift, 0.2f}, right{0.6f, lift, 0.2f}, tip{0.0f, lift, 1.2f};
    const vec3d inside{0.0f, lift, 0.5f};
    const vec3d up{0.0f, half, 0.0f};
    addTriangle(r, left + up, tip + up, right + up, inside);
    addTriangle(r, left - up, right - up, tip - up, inside);
    for (const auto& [a, b] : {std::pair{left, tip}, std::pair{tip, right}, std::pair{right, left}}) {
        addTriangle(r, a - up, a + up, b + up, inside);
        addTriangle(r, a - up, b + up, b - up, inside);
    }
    const vec3d lo{-0.6f, lift - half, -1.2f}, hi{0.6f, lift + half, 1.2f};
    const float radius = ((hi - lo) * 0.5f).length();
    r.box = {(lo + hi) * 0.5f, radius, radius * radius, lo, hi};
    PackagePartWriter::Mesh m;
    m.body = r;
    m.name = "CompassArrow";
    m.displayName = "CompassArrow";
    return m;
}

ObjectPackageWriter::Package compass()
{
    ObjectPackageWriter::Package p;
    PackagePartWriter::Mesh pointer = arrow();
    // White: the compass tints the arrow by how near its target lies.
    ObjectPackageSamples::paint(p, pointer, "CompassArrow.tga",
                                ObjectPackageSamples::paintedFace(0xFFFFFFFFu, 0xFFFFFFFFu, ObjectPackageSamples::Emblem::none));
    p.meshes.push_back(pointer);
    FunctionsRecordWriter::Record functions;
    functions.compass = 1;
    p.functions = functions;
    return p;
}

bool save(const String& root)
{
    return ObjectPackageWriter::save(compass(), root + L"Objects\\Compass.teo");
}

}
