#pragma once

#include "ImageFileWriter.h"

#include <vector>

class ResourceArchiveWriter;

// The road textures, made from code and stored as named entries of the
// resource archive, where the way modelers find them: "WayRoad" (the simple
// way's asphalt, laid in world coordinates), "WayBorderPaver" (its border
// strips of paving stones, laid along the way), "WayTrack" (the curbstone
// way's darker asphalt) and "WayCurbstone" (red and white stones).
namespace WayTextures {

struct Named
{
    const wchar_t* name;
    ImageFileWriter::Image image;
};

ImageFileWriter::Image road();
ImageFileWriter::Image borderPaver();
ImageFileWriter::Image track();
ImageFileWriter::Image curbstone();
std::vector<Named> all();

// Each as a PNG entry named as above. False when the archive refuses one.
bool addArchiveTextures(ResourceArchiveWriter& archive);

}
