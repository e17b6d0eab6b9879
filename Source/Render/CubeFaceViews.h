#pragma once

#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

// The six views of a cube map seen from a point, in Direct3D's face order
// +X, -X, +Y, -Y, +Z, -Z, and the lens they share: 90 degrees, aspect 1,
// near plane 0.1, far plane 3000. Environment maps and cube shadow maps
// render their faces with these. Constant after static initialisation.
namespace CubeFaceViews {

constexpr int faceCount = 6;

// The view rotation of face f (0 to 5), translation zero: world directions
// times it give the face's view space, whose +z looks along the face's axis.
const matrix3d& rotation(int face);

// The cube-face projection (row vectors, left-handed).
const matrix3d& projection();

// The view of face f from position: the rotation with the translation row
// minus the position carried through it.
matrix3d view(int face, const vec3d& position);

}
