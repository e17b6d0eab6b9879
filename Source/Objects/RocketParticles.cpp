// The three particle effects of a rocket's explosion: the burst, the embers
// and the smoke. Each particle keeps its numbers in its words (flags and
// float bits, never addresses); the emitter is the system's: its position,
// its direction (against the flight), strength in emitter value 0 and the
// smoke's drift in values 1 to 3.
#include "Objects/Rocket.h"

#include "Entity/ParticleSystem.h"

#include "Core/Timer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

namespace {

constexpr float pi = 3.14159265358979f;
// Where the embers' and the smoke's alphas reach 0: they end there.
constexpr float emberLife = 35.0f;
constexpr float smokeLife = 250.0f;
constexpr float burstLife = 3.0f;

// The spin turns the texture by the same angle each frame: its cosine and
// sine are kept, so a frame's turn is a product of two rotations, with no
// trigonometry past the first.
enum Word : int { started, dirX, dirY, dirZ, speedWord, anchorX, anchorY, anchorZ, spinCos, spinSin };

float number(const Particle& p, int w)
{
    return std::bit_cast<float>(uint32_t(p.words[w]));
}

void setNumber(Particle& p, int w, float value)
{
    p.words[w] = std::bit_cast<uint32_t>(value);
}

vec3d vector(const Particle& p, int first)
{
    return {number(p, first), number(p, first + 1), number(p, first + 2)};
}

void setVector(Particle& p, int first, const vec3d& v)
{
    setNumber(p, first, v.x);
    setNumber(p, first + 1, v.y);
    setNumber(p, first + 2, v.z);
}

float randomUnit()
{
    return float(std::rand()) / 32767.0f;
}

// The emitter's direction shaken by spread per component, as a unit vector.
vec3d scattered(const vec3d& direction, float spread)
{
    vec3d d = direction;
    for (int i = 0; i < 3; ++i)
        d[i] += spread * (randomUnit() - 0.5f);
    return d.normalised();
}

// Within 0 to 255; a value that is no number gives 0.
uint8_t alphaOf(float value)
{
    return value >= 0.0f ? uint8_t(std::min(value, 255.0f)) : 0;
}

void setTurn(Particle& p, float c, float s)
{
    p.textureTransform[0] = c;
    p.textureTransform[1] = s;
    p.textureTransform[3] = -s;
    p.textureTransform[4] = c;
}

void roll(Particle& p, float degrees)
{
    setTurn(p, std::cos(degrees * (pi / 180.0f)), std::sin(degrees * (pi / 180.0f)));
}

// The texture at its start angle, and the spin's turn per frame kept.
void startTurn(Particle& p, float angleDegrees, float spinDegrees)
{
    roll(p, angleDegrees);
    setNumber(p, spinCos, std::cos(spinDegrees * (pi / 180.0f)));
    setNumber(p, spinSin, std::sin(spinDegrees * (pi / 180.0f)));
}

// The texture turned on by the spin. The rotation is brought back to unit
// length each frame, so the rounding of a long life does not scale it.
void spinOn(Particle& p)
{
    const float c0 = p.textureTransform[0], s0 = p.textureTransform[1];
    const float sc = number(p, spinCos), ss = number(p, spinSin);
    float c = c0 * sc - s0 * ss, s = s0 * sc + c0 * ss;
    const float fix = 1.5f - 0.5f * (c * c + s * s);
    c *= fix;
    s *= fix;
    setTurn(p, c, s);
}

// t to the power 7.5 for t in 0 to 1, as t^7 times its root.
float power7_5(float t)
{
    if (!(t > 0.0f))
        return 0.0f;
    const float t2 = t * t, t4 = t2 * t2;
    return t4 * t2 * t * std::sqrt(t);
}

// The distance of point from the line through the emitter along its direction.
float axisDistance(const ParticleSystem& system, const vec3d& point)
{
    const vec3d offset = point - system.emitterPosition;
    const float along = offset.dot(system.emitterDirection);
    return std::sqrt(std::max(0.0f, offset.lengthSq() - along * along));
}

}

uint32_t ObjPkgManager::Functions::Rocket::Instance::burstParticle(Particle& p)
{
    const ParticleSystem* system = p.system;
    if (!system)
        return 0;
    const float strength = system->emitterValues[0];
    if (!p.words[started]) {
        p.position = system->emitterPosition;
        const vec3d d = scattered(system->emitterDirection, 1.4f);
        setVector(p, dirX, d);
        setNumber(p, speedWord, std::pow(system->emitterDirection.dot(d), 4.0f) * strength);
        roll(p, randomUnit() * 360.0f);
        p.hidden = 0;
        p.words[started] = 1;
    }
    if (p.age > burstLife)
        return 0;
    const float speed = number(p, speedWord);
    const float ff = gFrameFactor.load(std::memory_order_relaxed);
    // The callback moves the particle itself: the manager adds no velocity.
    p.velocity = {};
    p.position += vector(p, dirX) * (speed * 1.8f * ff);
    const float reach = (p.position - system->emitterPosition).lengthSq();
    p.width = p.height = std::max(0.0f, (18.0f - reach) * 0.1f * strength);
    const float life = std::max(0.0f, (burstLife - p.age) / burstLife);
    p.colour.a = alphaOf(std::floor(255.0f * std::pow(life, 0.4f * speed) * std::pow(life, 0.5f)));
    return 1;
}

uint32_t ObjPkgManager::Functions::Rocket::Instance::emberParticle(Particle& p)
{
    const ParticleSystem* system = p.system;
    if (!system)
        return 0;
    if (!p.words[started]) {
        p.position = system->emitterPosition;
        vec3d d = scattered(system->emitterDirection, 0.4f);
        setNumber(p, speedWord, std::pow(system->emitterDirection.dot(d), 75.0f) * 5.0f);
        d *= randomUnit() + 0.4f;
        setVector(p, dirX, d);
        const float angle = randomUnit() * 360.0f;
        startTurn(p, angle, 1.0f - 2.0f * randomUnit());
        p.hidden = 0;
        p.words[started] = 1;
    }
    if (p.age >= emberLife)
        return 0;
    float speed = number(p, speedWord);
    speed += (system->emitterPosition - p.position).dot(system->emitterDirection) * speed * 0.009f;
    setNumber(p, speedWord, speed);
    vec3d velocity = vector(p, dirX) * speed;
    velocity.y -= velocity.y * 0.1f;
    p.velocity = velocity;
    const float reach = std::sqrt((p.position - system->emitterPosition).lengthSq());
    p.width = p.height = reach * axisDistance(*system, p.position) * 0.2f;
    spinOn(p);
    p.colour.a = alphaOf(std::floor(255.0f * power7_5((emberLife - p.age) / emberLife)));
    return 1;
}

uint32_t ObjPkgManager::Functions::Rocket::Instance::smokeParticle(Particle& p)
{
    const ParticleSystem* system = p.system;
    if (!system)
        return 0;
    if (!p.words[started]) {
        p.position = system->emitterPosition;
        setVector(p, anchorX, system->emitterPosition);
        vec3d d = scattered(system->emitterDirection, 0.4f);
        const float speed = std::pow(system->emitterDirection.dot(d), 35.0f) * 12.0f;
        setNumber(p, speedWord, speed);
        d *= randomUnit() + 0.4f;
        setVector(p, dirX, d);
        const float angle = randomUnit() * 360.0f;
        startTurn(p, angle, (1.0f - 2.0f * randomUnit()) * speed * 0.1f);
        p.hidden = 0;
        p.words[started] = 1;
    }
    if (p.age >= smokeLife)
        return 0;
    const float ff = gFrameFactor.load(std::memory_order_relaxed);
    const vec3d drift(system->emitterValues[1], system->emitterValues[2], system->emitterValues[3]);
    vec3d anchor = vector(p, anchorX);
    const float s = (system->emitterPosition - anchor).dot(system->emitterDirection);
    float speed = number(p, speedWord);
    speed -= s * (0.2f - speed) * 0.009f;
    setNumber(p, speedWord, speed);
    vec3d velocity = vector(p, dirX) * speed;
    velocity.y -= velocity.y * 0.1f;
    const float reach = std::sqrt((anchor - system->emitterPosition).lengthSq());
    p.width = p.height = std::min(10.0f, reach * axisDistance(*system, anchor) * 0.06f);
    anchor += velocity * ff;
    setVector(p, anchorX, anchor);
    velocity -= drift * (s * 0.05f * ff);
    p.velocity = velocity;
    spinOn(p);
    const float share = std::clamp((smokeLife - p.age) / smokeLife * speed * 3.0f, 0.0f, 1.0f);
    p.colour.a = alphaOf(std::floor(200.0f * share));
    return 1;
}
