#pragma once

#include "ImageFileWriter.h"
#include "MenuFileWriter.h"

#include "Core/String.h"

// The game's menu file, made from code: four wav sounds (move, confirm,
// back, pause), three intro pages, the Main screen with the "Quad" package,
// the map choice and game mode screens, and the logo.
namespace MenuSamples {

constexpr uint32_t introSide = 512;
constexpr uint32_t logoSide = 256;
// The share of the logo's side below which it is clear.
constexpr double lowestLogoShare = 0.8;

// The logo image (logoSide square, ARGB).
ImageFileWriter::Image logo();

MenuFileWriter::Menu sample();
// "Data\Menu\Menu.mnu" under root (which ends with a backslash).
bool save(const String& root);

}
