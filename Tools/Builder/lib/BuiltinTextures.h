#pragma once

#include "ImageFileWriter.h"

#include <cstdint>
#include <vector>

// The textures compiled into Korvanta.exe, made from code: the effect
// textures "Lensflare01", "Fire01" and "Smoke01" (DDS, RCDATA 106, 107,
// 108) and the light mask "DefLight" (24-bit bitmap, BITMAP 169, whose red
// channel becomes the mask's alpha).
namespace BuiltinTextures {

constexpr uint32_t side = 64;

ImageFileWriter::Image lensflare();
ImageFileWriter::Image fire();
ImageFileWriter::Image smoke();
ImageFileWriter::Image light();
// The program's icon (ICON 184), 32 x 32: a wheel on an orange tile.
ImageFileWriter::Image icon();

// "LevelEditorCubemap" (DDS cube map, RCDATA 174): six faces of cubeSide
// texels, +X, -X, +Y, -Y, +Z, -Z, showing a sky over a plain with a haze
// along the horizon.
constexpr uint32_t cubeSide = 256;
void levelEditorCubemap(ImageFileWriter::Image (&faces)[6]);

struct File
{
    const wchar_t* name; // file name in Resources/Textures
    std::vector<uint8_t> bytes;
};

// Every built-in image as the file the resource script includes.
std::vector<File> files();

}
