// A grass layer's blades: their colour and fade distance when placed, their
// size, turn and tilt when first shown, their light, their bending under the
// touch bodies and their vertices.
#include "Landscape/GrasLayer.h"

#include "Render/Light.h"

#include "Core/Math.h"
#include "Core/Timer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float degrees = 0.017453292f;

// v turned by angle (radians) about the unit axis k.
vec3d turn(const vec3d& v, const vec3d& k, float angle)
{
    const float c = floatCos(angle), s = floatSin(angle);
    return v * c + k.cross(v) * s + k * (k.dot(v) * (1.0f - c));
}

uint8_t channel(float value) { return value >= 255.0f ? 255 : value > 0.0f ? uint8_t(value) : 0; }

bool holds(const OrientedBox& box, const vec3d& p)
{
    const vec3d d = p - box.center;
    for (int a = 0; a < 3; ++a)
        if (std::fabs(d.dot(box.axes[a])) > box.halfExtents[a])
            return false;
    return true;
}

// The first hit of the ray from origin along the unit direction with one of
// the body's shapes within length: its parameter (0 when the origin lies in
// the shape) and the normal of the surface hit.
bool hitBody(const Meadow::TouchBody& body, const vec3d& origin, const vec3d& direction, float length, float& t,
             vec3d& normal)
{
    bool hit = false;
    t = length;
    for (auto* node = body.boxes.head(); node; node = node->next) {
        const OrientedBox& box = *node->item;
        float s = 0.0f;
        vec3d n;
        const int face = box.intersectRay(origin, direction, s);
        if (face < 6) {
            if (s < 0.0f)
                continue;
            n = boxHitNormal;
        } else if (face == 6 && holds(box, origin)) {
            s = 0.0f;
            n = -direction;
        } else {
            continue;
        }
        if (s < t) {
            t = s;
            normal = n;
            hit = true;
        }
    }
    for (auto* node = body.spheres.head(); node; node = node->next) {
        const Meadow::TouchBody::Sphere& sphere = *node->item;
        const vec3d oc = origin - sphere.centre;
        const float b = oc.dot(direction), c = oc.lengthSq() - sphere.radiusSq;
        const float discriminant = b * b - c;
        if (discriminant < 0.0f)
            continue;
        float s = -b - floatSqrt(discriminant);
        if (c <= 0.0f)
            s = 0.0f; // the origin lies in the sphere
        else if (s < 0.0f)
            continue;
        if (s < t) {
            t = s;
            hit = true;
            normal = (origin + direction * s - sphere.centre) * sphere.inverseRadius;
        }
    }
    return hit && t < length;
}

}

void Meadow::GrasLayer::initBlade(Blade& blade)
{
    const Settings& s = settings;
    blade.groundNormal = blade.groundNormal.normalised();
    blade.restDirection = blade.groundNormal;
    blade.direction = blade.groundNormal;
    blade.built = 0;
    const float fade = drawnFadeStart + float(random() % 1000) * 0.001f * (drawnRange - drawnFadeStart);
    blade.fadeDistanceSq = fade * fade;
    blade.colour = s.colour;
    if (const uint32_t v = s.colourVariation) {
        blade.colour.r = uint8_t(blade.colour.r - uint32_t(random()) % v);
        blade.colour.g = uint8_t(blade.colour.g - uint32_t(random()) % v);
        blade.colour.b = uint8_t(blade.colour.b - uint32_t(random()) % v);
    }
}

void Meadow::GrasLayer::buildBlade(Blade& blade)
{
    const Settings& s = settings;
    lightBlade(blade);
    blade.shape = s.shape;
    blade.hidden = 0;
    blade.fadeRate = 1.0f / (blade.fadeDistanceSq - fullOpacityLimit);
    blade.opacity = 1.0f;
    blade.bendX = blade.bendZ = 0.0f;
    // Flat ground grows the tallest blades; the steepest allowed slope
    // still 35 % of them. Equal normal limits leave no slope to weigh.
    const float h = (s.maximumNormal - s.minimumNormal) * 0.5f, m = s.minimumNormal + h;
    float t = 1.0f - m > 0.0f ? (blade.groundNormal.y + h - m) / (1.0f - m) : 1.0f;
    t = std::clamp(t + (1.0f - t) * 0.35f, 0.0f, 1.0f);
    blade.height = s.minimumHeight + (s.maximumHeight - s.minimumHeight) * float(random() % 100) * 0.01f * t;
    const float angle = -float(random() % 360) * degrees;
    const float w = blade.scale * t * s.width;
    blade.widthA = turn({w, 0.0f, 0.0f}, blade.groundNormal, angle);
    blade.widthB = turn({0.0f, 0.0f, w}, blade.groundNormal, angle);
    // The tilt starts from the ground again at every build, so that blades
    // shown anew do not lean further each time.
    blade.restDirection = blade.groundNormal;
    if (const int32_t v = int32_t(std::min<uint32_t>(s.tilt, 360))) {
        const float aboutX = float(random() % v - v / 2) * degrees;
        const float aboutZ = float(random() % v - v / 2) * degrees;
        blade.restDirection = turn(turn(blade.restDirection, {1.0f, 0.0f, 0.0f}, aboutX), {0.0f, 0.0f, 1.0f}, aboutZ);
    }
    blade.direction = blade.restDirection;
    blade.built = 1;
}

void Meadow::GrasLayer::lightBlade(Blade& blade)
{
    const Settings& s = settings;
    const Color c = blade.colour;
    if (s.lighting == 1 && owner && owner->terrain) {
        // The terrain's light where the blade stands; a spot without light
        // (its ground not in view) is looked for nearby a few times.
        float x = blade.position.x, z = blade.position.z;
        uint32_t sample = 0;
        for (int tries = 0; tries < 4; ++tries) {
            if (owner->terrain->sampleLight(x, z, sample)) {
                const Color lit = Color::fromArgb(sample);
                blade.litColour = Color(channel(float(lit.r) * float(c.r) / 255.0f * s.brightness),
                                        channel(float(lit.g) * float(c.g) / 255.0f * s.brightness),
                                        channel(float(lit.b) * float(c.b) / 255.0f * s.brightness), lit.a);
                return;
            }
            x += float(random()) / 32767.0f * 0.5f;
            z += float(random()) / 32767.0f * 0.5f;
        }
    }
    // Lit by the sun.
    static const LightRecord noon;
    const LightRecord& sun = gSunLight ? *gSunLight : noon;
    D3DCOLORVALUE ambient{1.0f, 1.0f, 1.0f, 1.0f}, diffuse{1.0f, 1.0f, 1.0f, 1.0f};
    if (owner && owner->terrain) {
        ambient = owner->terrain->material.Ambient;
        diffuse = owner->terrain->material.Diffuse;
    }
    const float lit = sun.direction.dot(blade.groundNormal);
    const float d = lit > 0.0f ? lit : 0.0f;
    const float a[3] = {ambient.r * sun.ambient[0], ambient.g * sun.ambient[1], ambient.b * sun.ambient[2]};
    const float f[3] = {diffuse.r * sun.diffuse[0], diffuse.g * sun.diffuse[1], diffuse.b * sun.diffuse[2]};
    blade.litColour = Color(channel(float(c.r) * (a[0] + d * (f[0] - a[0]))),
                            channel(float(c.g) * (a[1] + d * (f[1] - a[1]))),
                            channel(float(c.b) * (a[2] + d * (f[2] - a[2]))), c.a);
}

Meadow::Vertex* Meadow::GrasLayer::writeBladeVertices(const Blade& blade, Vertex* out) const
{
    const float s = blade.opacity;
    const vec3d& p = blade.position;
    const vec3d top = p + blade.direction * (blade.height * s);
    const vec3d A = blade.widthA * s, B = blade.widthB * s;
    const uint32_t colour = blade.litColour.argb();
    auto quad = [&](const vec3d& e, const vec3d& f) {
        *out++ = {p + e, colour, 0.0f, 1.0f};
        *out++ = {p + f, colour, 1.0f, 1.0f};
        *out++ = {top + e, colour, 0.0f, 0.0f};
        *out++ = {top + f, colour, 1.0f, 0.0f};
    };
    switch (settings.shape) {
    case 1: quad(-A, A); break;
    case 2:
        quad(-A, A);
        quad(-B, B);
        break;
    case 3:
        quad(B, -B - A);
        quad(B, -B + A);
        quad(-B - A, -B + A);
        break;
    case 4:
        quad(B - A, -B - A);
        quad(B + A, -B + A);
        quad(B - A, B + A);
        quad(-B - A, -B + A);
        break;
    case 5:
        *out++ = {top - B + A, colour, 0.0f, 1.0f};
        *out++ = {top + B + A, colour, 1.0f, 1.0f};
        *out++ = {top - B - A, colour, 0.0f, 0.0f};
        *out++ = {top + B - A, colour, 1.0f, 0.0f};
        break;
    default: break;
    }
    return out;
}

void Meadow::GrasLayer::fadeBlades(Patch& patch, bool relight, bool bend, const TouchBody* const* bodies,
                                   int32_t bodyCount)
{
    const float d = patch.distanceSq;
    uint32_t visible = 0;
    bool moved = false;
    for (uint32_t k = 0; k < patch.bladeCount; ++k) {
        Blade& blade = patch.blades[k];
        if (blade.fadeDistanceSq <= d) {
            blade.hidden = 1;
            blade.built = 0;
            continue;
        }
        if (!blade.built)
            buildBlade(blade);
        else if (relight)
            lightBlade(blade);
        blade.hidden = 0;
        blade.opacity = std::min(1.0f, (blade.fadeDistanceSq - d) * blade.fadeRate);
        if (bend)
            moved = bendBlade(blade, bodies, bodyCount) || moved;
        else if (blade.bendX != 0.0f || blade.bendZ != 0.0f)
            blade.direction = (blade.restDirection + vec3d{blade.bendX, 0.0f, blade.bendZ}).normalised();
        ++visible;
    }
    patch.visibleCount = visible;
    if (bend && !moved)
        patch.touched = 0;
}

bool Meadow::GrasLayer::bendBlade(Blade& blade, const TouchBody* const* bodies, int32_t bodyCount)
{
    const float length = blade.height * blade.opacity;
    if (!(length > 0.0f))
        return false;
    const vec3d& p = blade.position;
    const vec3d tip = p + blade.direction * length;
    const vec3d low{std::min(p.x, tip.x), std::min(p.y, tip.y), std::min(p.z, tip.z)};
    const vec3d high{std::max(p.x, tip.x), std::max(p.y, tip.y), std::max(p.z, tip.z)};
    auto overlaps = [&](const TouchBody& body) {
        const BoundingBox& b = body.box;
        return b.minimum.x <= high.x && b.maximum.x >= low.x && b.minimum.y <= high.y && b.maximum.y >= low.y &&
               b.minimum.z <= high.z && b.maximum.z >= low.z;
    };
    auto hitsAny = [&](const vec3d& direction, float& t, vec3d& normal, const TouchBody*& which) {
        bool hit = false;
        t = length;
        for (int32_t i = 0; i < bodyCount; ++i) {
            float s = 0.0f;
            vec3d n;
            if (overlaps(*bodies[i]) && hitBody(*bodies[i], p, direction, length, s, n) && s < t) {
                t = s;
                normal = n;
                which = bodies[i];
                hit = true;
            }
        }
        return hit;
    };

    float t = 0.0f;
    vec3d normal;
    const TouchBody* body = nullptr;
    if (hitsAny(blade.direction, t, normal, body)) {
        const float depth = length - t;
        // Back from the tip: how far the blade reaches through the body and
        // the face it pushes against.
        float back = 0.0f;
        vec3d backNormal;
        if (hitBody(*body, tip, -blade.direction, length, back, backNormal) && back > 0.0f)
            normal = backNormal;
        const float amount = (depth - back) * body->push * 0.01f;
        const vec3d along = blade.direction - normal * blade.direction.dot(normal);
        const float dx = along.x * amount, dz = along.z * amount;
        blade.bendX += dx;
        blade.bendZ += dz;
        blade.recoverySpeed = 0.0f;
        blade.direction = (blade.restDirection + vec3d{blade.bendX, 0.0f, blade.bendZ}).normalised();
        return std::fabs(dx) > 0.0001f || std::fabs(dz) > 0.0001f;
    }
    if (blade.bendX == 0.0f && blade.bendZ == 0.0f)
        return false;
    // Springing back, unless bent too far over to rise.
    const float rise = (tip.dot(blade.groundNormal) - p.dot(blade.groundNormal)) / length - 0.3f;
    if (!(rise > 0.0f))
        return false;
    const float keepX = blade.bendX, keepZ = blade.bendZ;
    const vec3d keepDirection = blade.direction;
    blade.bendX *= 1.0f - blade.recoverySpeed;
    blade.bendZ *= 1.0f - blade.recoverySpeed;
    if (blade.recoverySpeed < 0.02f)
        blade.recoverySpeed += 0.003f * gFrameFactor.load();
    blade.direction = (blade.restDirection + vec3d{blade.bendX, 0.0f, blade.bendZ}).normalised();
    if (hitsAny(blade.direction, t, normal, body)) {
        blade.bendX = keepX;
        blade.bendZ = keepZ;
        blade.direction = keepDirection;
        blade.recoverySpeed = 0.0f;
        return false;
    }
    if (std::fabs(blade.bendX) < 0.0001f && std::fabs(blade.bendZ) < 0.0001f) {
        blade.bendX = blade.bendZ = 0.0f;
        blade.direction = blade.restDirection;
    }
    // Still on its way back: the first step, at no speed yet, counts too.
    return true;
}
