#pragma once
// The head-up display's pictures and the race compass, made from code: the
// item icons "HUDOil", "HUDRocket", "HUDNitro" and "HUDRepair" and the
// standings' eliminated mark "HUDEliminated", stored as PNG image entries
// (type 0) of the resource archive; and the package "Compass.teo" whose last
// mesh is the arrow (pointing along +z) and whose functions record carries
// the compass value.

#include "ImageFileWriter.h"
#include "ObjectPackageWriter.h"

#include "Core/String.h"

#include <vector>

class ResourceArchiveWriter;

namespace HudSamples {

struct Named
{
    const wchar_t* name;
    ImageFileWriter::Image image;
};

// The five pictures: the icons 48 x 48, the mark 24 x 24.
std::vector<Named> images();
// Each as a PNG entry named as above. False when the archive refuses one.
bool addArchiveImages(ResourceArchiveWriter& archive);

// How far above its origin the arrow floats (the compass halves it).
constexpr float arrowLift = 5.0f;
// The arrow mesh alone: a shaft and a head along +z, 2.4 long, arrowLift
// above its origin.
PackagePartWriter::Mesh arrow();
ObjectPackageWriter::Package compass();
// "Compass.teo" into root's "Objects" folder (which exists).
bool save(const String& root);

}
