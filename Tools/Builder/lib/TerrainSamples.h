#pragma once

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"
#include "TerrainMapWriter.h"
#include "WaterFileWriter.h"

#include <cstdint>
#include <vector>

// Pieces the levels' terrains are made of: colour layers and overlays of
// noise, the ground height a level's objects and ways stand on, and a map
// list picture shaded from the heights.
namespace TerrainSamples {

// A 16-bit colour of three channels in 0..1.
uint16_t packR5G6B5(float r, float g, float b);
// A colour layer: a base colour with a grain of noise, used within a band
// of heights; its 256 x 256 texels repeat without a seam.
TerrainMapWriter::Layer layer(float r, float g, float b, uint8_t low, uint8_t high, uint32_t seed);
// Overlay detail, 128 x 128 grey speckles around base: bright ones to
// modulate the colour with, or faint ones to add.
TerrainMapWriter::Overlay overlay(float base, float spread, uint32_t seed);
// A grid height in raw units from height units, kept within 16 bits.
uint16_t rawHeight(float units);
// The ground height (world units) at world (x, z) of map under the level's
// terrain scales: the smooth surface between the grid's finest points, as
// the game computes it.
float groundHeight(const TerrainMapWriter::Map& map, const LevelFileWriter::Terrain& scales, float x, float z);
// The world x (or z) at the map's low edge; the map spans twice its magnitude.
float halfWidth(const TerrainMapWriter::Map& map, const LevelFileWriter::Terrain& scales);
// A picture of the map from above, width x height texels: the layers'
// colours by height, lit from the north-west, blue where the ground lies
// below the surface of a water area inside its outline. The terrain's x
// runs along the picture's width and its z up the picture; the picture's
// aspect covers the middle of the map's square.
ImageFileWriter::Image shadedPicture(const TerrainMapWriter::Map& map, const LevelFileWriter::Terrain& scales,
                                     const std::vector<WaterFileWriter::Area>& water, uint32_t width,
                                     uint32_t height);

}
