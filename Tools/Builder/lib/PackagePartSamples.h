#pragma once
// Sample package parts made from code, with the embedded files they name: a
// textured box with two collision geometries and its own shader settings, a
// textured spot light, and a physics record carrying a wav sound. Tests read
// them back value by value; the package samples are built from them.

#include "ImageFileWriter.h"
#include "PackagePartWriter.h"

#include <string>
#include <vector>

namespace PackagePartSamples {

// An embedded file of a package: its name and bytes.
struct File
{
    std::string name;
    std::vector<uint8_t> bytes;
};

// The box's texture: 64 x 64, opaque stripes on the left half, texels of
// alpha 0x40 on the right half (below the box's alpha reference).
ImageFileWriter::Image boxImage();
// The light's texture: a white disc fading to transparent at its rim.
ImageFileWriter::Image spotImage();

// The unit box of MeshSamples::record, textured with "CrateBox.tga", raised
// by 0.5, turned by 30 degrees about y at scale 2, with a box geometry and a
// sphere geometry, clamped addressing replaced by wrapping, an alpha
// reference, a reflection and no shadow; named "CrateBox".
PackagePartWriter::Mesh box();
// A cone light of range 12 and 50 degrees looking down 45 degrees, warm
// colour, textured with "SpotLight.tga".
PackagePartWriter::Light spotLight();
// Mass 2 and a short click as its first sound (wav).
PackagePartWriter::PhysicsRecord physics();

// "CrateBox.tga" and "SpotLight.tga".
std::vector<File> files();

}
