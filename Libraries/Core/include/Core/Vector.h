#pragma once

#include <cmath>
#include <cstdint>

// Single-precision value types shared by every subsystem. Plain records with
// no virtual operations: their layout is the one stored in meshes and files.

struct vec2d
{
    float x = 0.0f;
    float y = 0.0f;

    constexpr vec2d() = default;
    constexpr vec2d(float x_, float y_) : x(x_), y(y_) {}

    constexpr vec2d operator+(const vec2d& o) const { return {x + o.x, y + o.y}; }
    constexpr vec2d operator-(const vec2d& o) const { return {x - o.x, y - o.y}; }
    constexpr vec2d operator*(float s) const { return {x * s, y * s}; }
    constexpr bool operator==(const vec2d& o) const { return x == o.x && y == o.y; }

    constexpr float dot(const vec2d& o) const { return x * o.x + y * o.y; }
    // z of the 3D cross product: positive when o turns counter-clockwise from this.
    constexpr float cross(const vec2d& o) const { return x * o.y - y * o.x; }
};
static_assert(sizeof(vec2d) == 8);

struct vec3d
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr vec3d() = default;
    constexpr vec3d(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    constexpr vec3d operator+(const vec3d& o) const { return {x + o.x, y + o.y, z + o.z}; }
    constexpr vec3d operator-(const vec3d& o) const { return {x - o.x, y - o.y, z - o.z}; }
    constexpr vec3d operator-() const { return {-x, -y, -z}; }
    constexpr vec3d operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr vec3d operator/(float s) const { return {x / s, y / s, z / s}; }
    vec3d& operator+=(const vec3d& o) { x += o.x; y += o.y; z += o.z; return *this; }
    vec3d& operator-=(const vec3d& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
    vec3d& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
    constexpr bool operator==(const vec3d& o) const { return x == o.x && y == o.y && z == o.z; }
    // Component i: 0 is x, 1 is y, anything else z.
    constexpr float operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
    constexpr float& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }

    constexpr float dot(const vec3d& o) const { return x * o.x + y * o.y + z * o.z; }
    constexpr vec3d cross(const vec3d& o) const
    {
        return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x};
    }
    constexpr float lengthSq() const { return x * x + y * y + z * z; }
    float length() const { return std::sqrt(lengthSq()); }
    // The unit vector; a zero vector stays zero instead of becoming NaN.
    vec3d normalised() const
    {
        const float len = length();
        return len > 0.0f ? *this / len : *this;
    }
};
static_assert(sizeof(vec3d) == 12);

constexpr vec3d operator*(float s, const vec3d& v) { return v * s; }

struct intvec2d
{
    int32_t x = 0;
    int32_t y = 0;

    constexpr bool operator==(const intvec2d& o) const { return x == o.x && y == o.y; }
};
static_assert(sizeof(intvec2d) == 8);
