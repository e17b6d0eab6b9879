#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <string>
#include <vector>

// Writes the menu file "Data\Menu\Menu.mnu" (Core/MenuFile.h has the tags)
// that GameMenu::load reads: the header, then every tag the menu carries in
// tag order, each sound's option before its block, and a final tag 0.
namespace MenuFileWriter {

struct Sound
{
    uint32_t type = 1; // 1 wav, 2 ogg
    std::vector<uint8_t> file;
};

struct Page
{
    bool present = false;
    std::vector<uint8_t> image; // an image file
    uint32_t value = 0;
    std::vector<uint8_t> extra; // written only when not empty
};

struct Menu
{
    uint32_t header = 1;
    Sound sounds[4];            // a sound without bytes is left out
    std::vector<uint8_t> extra; // tag 3, written only when not empty
    Page pages[3];
    bool main = false;
    uint32_t mainValues[4] = {};
    std::string quadPackage = "Quad";
    bool chooseMap = false;
    std::vector<uint8_t> logo; // tag 9, written only when not empty
    bool gameMode = false;
};

// False when a write fails or a block is larger than a u32 counts.
bool write(FileInterface& target, const Menu& menu);
bool save(const Menu& menu, const String& path);

}
