#pragma once
// The sample object packages of the "Objects" folder, made from code: a
// crate with collision geometry and mass 2, a gate whose Gate function names
// its marker mesh, and the camera marker of the levels' camera objects.
// Mesh names are unique across the packages: stored meshes are shared by
// name.

#include "ImageFileWriter.h"
#include "ObjectPackageWriter.h"
#include "TreeSamples.h"

#include "Core/String.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ObjectPackageSamples {

// The unit box of the mesh samples, untextured, named and placed at position and scale.
PackagePartWriter::Mesh unitBox(const char* name, vec3d position, float scale);
// The emblems of paintedFace.
enum class Emblem
{
    none,
    cross,
    ring,
    disc,
    stripes,
    arrow,
    bands,
};
// A painted face for the samples' box parts, each of whose faces maps the
// whole image: colour with a darker rim and a faint grain, the emblem in
// mark (bands: eight upright bands of the two colours).
ImageFileWriter::Image paintedFace(uint32_t colour, uint32_t mark, Emblem emblem);
// m wears image as the TGA file named file, embedded in p once.
void paint(ObjectPackageWriter::Package& p, PackagePartWriter::Mesh& m, const std::string& file,
           const ImageFileWriter::Image& image);
// A box given by its low and high corners.
struct Block
{
    vec3d low, high;
};
// Blocks as one mesh record: the two triangles of each face, the face's
// normal at its corners, the record's box around them all.
MeshWriter::Record blocks(const std::vector<Block>& parts);
// The gate's frame within the unit box: two posts and the bar across their
// tops, open between them.
std::vector<Block> gateFrame();

// The box part sample with its texture and the physics record of mass 2.
ObjectPackageWriter::Package crate();
// The gate's four flares at the corners of its frame.
FunctionsRecordWriter::LensFlare gateFlares();
// The pick-ups' spin: a slow turn about the upright axis and a bob.
FunctionsRecordWriter::Spin pickUpSpin();
// A frame of two posts and a bar ("GateFrame", collision on the posts) and
// the marker above it ("GateMarker"), which its Gate template names, and its
// flares; the frame in orange and white bands, the marker yellow with a
// ring. A placed gate's passage is its package's box, the frame's width.
ObjectPackageWriter::Package gate();
// The inner faces of the gate's posts stand this far either side of its
// middle at scale 1 (the frame's posts from 0.4 to 0.5 of its box, which the
// package scales by 4).
constexpr float gatePostInner = 1.6f;
// How far beyond a road's edges a gate's posts stand, and the scale that
// puts them there on a road of the width given: a quad anywhere on the road
// drives through the gate.
constexpr float gateRoadClearance = 2.0f;
constexpr float gateScaleSpanning(float roadWidth) { return (roadWidth * 0.5f + gateRoadClearance) / gatePostInner; }
// A small grey box without geometry ("CameraMarker").
ObjectPackageWriter::Package camera();
// A race marker: one painted box without geometry named name, standing
// on the ground, side units wide.
ObjectPackageWriter::Package marker(const char* name, float side);
// The width and height of the Start and Goal arches: they span a course
// road of up to 30 units with their posts beside it and their bar above the
// quads and their riders (the drivers' paths look for room as high as a
// quad's box from two units above the ground: under a lower bar they went
// round the arch, off the road), and their box is the passage of a course
// whose Start or Goal counts as a gate.
constexpr float archWidth = 36.0f;
constexpr float archHeight = 10.0f;
// An arch named name without geometry: two posts archWidth apart and the bar
// across their tops, in bands of colour and white; nothing of it stands in
// the road between the posts.
ObjectPackageWriter::Package arch(const char* name, uint32_t colour);
// A boulder about two units across and one high, resting on y = 0: a
// subdivided octahedron pushed in and out by a few waves, flat-shaded.
MeshWriter::Record boulder();
// The valley's rock: the boulder in grey stone ("Rock.tga"), without
// collision geometry.
ObjectPackageWriter::Package rock();
// The valley's survey marker: a post of red and white bands ("Marker.tga"),
// without geometry, that a vehicle passes through.
ObjectPackageWriter::Package surveyMarker();
// A pick-up: a small box without geometry ("<name>Item", painted in the
// item's own colour and emblem) whose Collect template holds value, the item
// an inventory takes from it, turning by the pick-ups' spin.
ObjectPackageWriter::Package pickUp(const char* name, uint32_t value);
// The race's pick-ups by package name with their items: "Nitro" 1, "Oil" 2,
// "RepairKit" 3, "RocketPack" 4 and the carried "CaptureFlag" 5.
std::vector<std::pair<const wchar_t*, uint32_t>> pickUpValues();
// The seed of the levels' second tree.
constexpr uint32_t grownTreeSeed = 20240917;
// The leafy sample tree (its picture stored) as the one mesh name, without
// collision geometry; another seed grows another tree.
ObjectPackageWriter::Package tree(const char* name = "SampleTree", uint32_t seed = TreeSamples::sampleSeed);
// Each package with its file name (the tree apart: see saveTree).
std::vector<std::pair<const wchar_t*, ObjectPackageWriter::Package>> all();
// "Crate.teo", "Gate.teo", "Camera.teo", "Rock.teo", "Marker.teo" and the pick-ups into root's
// "Objects" folder (which exists).
bool save(const String& root);
// "Tree.teo" into root's "Objects" folder, the package the sample level's
// "Tree" objects name, and "GrownTree.teo", the levels' second tree.
bool saveTree(const String& root);

}
