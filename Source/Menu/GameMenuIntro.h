#pragma once
// An intro page: one full-height picture of the menu file, shown when the
// program starts. It fades in, stays for a second after it was shown and
// then ends; the state machine moves on to the next page.

#include "Menu/GameMenuScreen.h"

#include "Core/FileArray.h"

#include <TextureRecord.h>

#include <cstdint>

class GameMenu::Intro : public GameMenu::Screen
{
public:
    static constexpr uint32_t showMilliseconds = 1000;

    // Disabled and empty; opacity 1.0 at a fade of 0.05.
    explicit Intro(GameMenu& owner);
    ~Intro() override;

    // The page block of the menu file: tag 1 the image file, tag 2 a value,
    // tag 3 a second block, ended by tag 0 or the end of the data.
    void read(FileInterface& stream);
    // Shows the page: its texture, a fade from nothing, and the deadline.
    void nextImage();
    // "Intro01" from the page's image file (DXT1, one level).
    bool loadImage(TextureRef& out);
    // A square of the back buffer's height, centred; disabled once the
    // deadline has passed.
    void update() override;
    // Done once shown and gone again.
    uint32_t isDone() override { return shown && !enabled ? 1 : 0; }
    void enter(int32_t) override { nextImage(); }
    void close() override {}

    FileArray image{4096};
    FileArray extra{4096};
    uint32_t value = 0;
    uint32_t showUntil = 0;
    uint32_t shown = 0;
    TextureRef texture;
};
