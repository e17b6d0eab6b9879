#pragma once
// The tags of the menu file "Data\Menu\Menu.mnu", shared by the game's
// reader and the content builder's writer. All integers are little-endian.
//
// The file: a u32 header (not interpreted), then records of a u32 tag and
// its field until tag 0 or the end of the data; a tag not listed carries no
// field. A block is a u32 byte count and that many bytes; a flag is a u32
// that, when not 0, is followed by the named screen's own block.
//   1, 11, 13, 15  u32    option (sound type: 1 wav, 2 ogg) of menu sound 0..3;
//                         it must come before its sound's block
//   2, 12, 14, 16  block  the sound file of menu sound 0..3
//   3              block  kept, not used
//   4, 5, 6        flag   intro page 0..2, then a page block
//   7              flag   the Main screen, then a Main block
//   8              flag   the map choice screen; nothing follows
//   9              block  the logo's image file
//   10             flag   the game mode screen, then a GameMode block
// The nested blocks are tagged records ended by tag 0 too:
//   page block     1 block the page's image file, 2 u32, 3 block
//   Main block     1..4 u32 each, 5 the quad package's name (u32 count and
//                  that many 8-bit characters)
//   GameMode block no tag carries a field
#include <cstdint>

namespace MenuFile {

enum Tag : uint32_t {
    end = 0,
    sound0Option = 1,
    sound0Block = 2,
    extraBlock = 3,
    intro0 = 4,
    intro1 = 5,
    intro2 = 6,
    mainScreen = 7,
    chooseMapScreen = 8,
    logoBlock = 9,
    gameModeScreen = 10,
    sound1Option = 11,
    sound1Block = 12,
    sound2Option = 13,
    sound2Block = 14,
    sound3Option = 15,
    sound3Block = 16,
};

enum PageTag : uint32_t { pageImage = 1, pageValue = 2, pageExtra = 3 };
enum MainTag : uint32_t { mainValue1 = 1, mainValue4 = 4, mainQuadPackage = 5 };

constexpr uint32_t optionTags[4] = {sound0Option, sound1Option, sound2Option, sound3Option};
constexpr uint32_t blockTags[4] = {sound0Block, sound1Block, sound2Block, sound3Block};

// The menu sound a tag gives the option or the block of; -1 for other tags.
constexpr int32_t optionSoundOf(uint32_t tag)
{
    for (int32_t i = 0; i < 4; ++i)
        if (optionTags[i] == tag)
            return i;
    return -1;
}
constexpr int32_t blockSoundOf(uint32_t tag)
{
    for (int32_t i = 0; i < 4; ++i)
        if (blockTags[i] == tag)
            return i;
    return -1;
}

}
