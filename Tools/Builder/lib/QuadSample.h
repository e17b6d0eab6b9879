#pragma once
// The sample quad bike package "Quad.teo", made from code: a box-built quad
// whose meshes are named for the 17 part roles of its QuadPhysics template
// (the rider is the rider sample), a body with a box collision geometry, a
// mass that the three wheel springs hold at a third of their travel, nine
// mono wav sounds (the engine's four loops among them), the dust and dirt
// textures of the wheels, three lights that project nothing (the third
// marking the exhaust's outlet) and three fires (damage and nitro).

#include "ObjectPackageWriter.h"

#include "Core/String.h"
#include "Core/Vector.h"

#include <array>
#include <string>
#include <vector>

namespace QuadSample {

// The mesh name of each role, roles 1 to 17 in order.
extern const std::array<std::string, 17> roleNames;
// The springs' rest: the share of a wheel's travel they are pressed in by
// the quad's weight.
constexpr float restCompression = 1.0f / 3.0f;
// The side of the square dust and dirt textures.
constexpr uint32_t textureSize = 32;
// Where the exhaust's smoke leaves, in the package's frame: the third light.
inline const vec3d exhaustOutlet{0.3f, 0.55f, -0.95f};

// The embedded textures of the parts the game does not paint (all but the
// body and the helmet), each named by some part's texture name.
const std::vector<std::string>& finishFiles();
// The quad's three fires, none burning at start: 0 and 1 for damage, 2 the
// nitro's flame.
FunctionsRecordWriter::Fire fires();
ObjectPackageWriter::Package package();
// "Quad.teo" into root's "Objects" folder (which exists).
bool save(const String& root);

}
