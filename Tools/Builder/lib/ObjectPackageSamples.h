#pragma once
// The sample object packages of the "Objects" folder, made from code: a
// crate with collision geometry and mass 2, a gate whose Gate function names
// its marker mesh, and the camera marker of the levels' camera objects.
// Mesh names are unique across the packages: stored meshes are shared by
// name.

#include "ObjectPackageWriter.h"

#include "Core/String.h"

#include <utility>
#include <vector>

namespace ObjectPackageSamples {

// The box part sample with its texture and the physics record of mass 2.
ObjectPackageWriter::Package crate();
// A frame ("GateFrame", with a box geometry) and the marker above it
// ("GateMarker"), which its Gate template names.
ObjectPackageWriter::Package gate();
// A small untextured box without geometry ("CameraMarker").
ObjectPackageWriter::Package camera();
// Each package with its file name.
std::vector<std::pair<const wchar_t*, ObjectPackageWriter::Package>> all();
// "Crate.teo", "Gate.teo" and "Camera.teo" into root's "Objects" folder
// (which exists).
bool save(const String& root);

}
