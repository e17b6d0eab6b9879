#include "Render/CubeFaceViews.h"

namespace CubeFaceViews {

namespace {

matrix3d fromRows(const vec3d& row0, const vec3d& row1, const vec3d& row2)
{
    matrix3d m = matrix3d::identity();
    const vec3d rows[3] = {row0, row1, row2};
    for (int r = 0; r < 3; ++r) {
        m.at(r, 0) = rows[r].x;
        m.at(r, 1) = rows[r].y;
        m.at(r, 2) = rows[r].z;
    }
    return m;
}

// Function-local, so that other static initialisers may use them.
const matrix3d* rotationTable()
{
    static const matrix3d rotations[faceCount] = {
        fromRows({0, 0, 1}, {0, 1, 0}, {-1, 0, 0}),  // +X
        fromRows({0, 0, -1}, {0, 1, 0}, {1, 0, 0}),  // -X
        fromRows({1, 0, 0}, {0, 0, 1}, {0, -1, 0}),  // +Y
        fromRows({1, 0, 0}, {0, 0, -1}, {0, 1, 0}),  // -Y
        fromRows({1, 0, 0}, {0, 1, 0}, {0, 0, 1}),   // +Z
        fromRows({-1, 0, 0}, {0, 1, 0}, {0, 0, -1}), // -Z
    };
    return rotations;
}

matrix3d makeProjection()
{
    constexpr float nearPlane = 0.1f;
    constexpr float farPlane = 3000.0f;
    constexpr float q = farPlane / (farPlane - nearPlane);
    matrix3d m{};
    m.at(0, 0) = 1.0f; // cot(45 degrees)
    m.at(1, 1) = 1.0f;
    m.at(2, 2) = q;
    m.at(2, 3) = 1.0f;
    m.at(3, 2) = -q * nearPlane;
    return m;
}

}

const matrix3d& rotation(int face)
{
    return rotationTable()[face < 0 || face >= faceCount ? 0 : face];
}

const matrix3d& projection()
{
    static const matrix3d cubeProjection = makeProjection();
    return cubeProjection;
}

matrix3d view(int face, const vec3d& position)
{
    matrix3d m = rotation(face);
    const vec3d t = m.transformVector(position);
    m.at(3, 0) = -t.x;
    m.at(3, 1) = -t.y;
    m.at(3, 2) = -t.z;
    return m;
}

}
