#pragma once

#include "Core/FileInterface.h"

#include <cstdint>

// Reading the tagged blocks of a level's main file: a u32 tag, its field,
// repeated, ended by tag 0. A tag the block does not know carries no length,
// so the next word is read as the next tag. A field whose stored value is
// out of range (or not a finite number) is skipped and keeps its current value;
// only the end of the data stops a block early.
struct LevelBlock
{
    // Reads tags until tag 0, handing each to field(tag), which reads that
    // tag's field and returns false when the data ended. True when the block
    // ended with its tag 0.
    template <class Field>
    static bool read(FileInterface& stream, Field field)
    {
        for (;;) {
            uint32_t tag = 0;
            if (!stream.readValue(tag))
                return false;
            if (tag == 0)
                return true;
            if (!field(tag))
                return false;
        }
    }

    // A value read whole is stored when it lies within low..high (and is a
    // finite number); false only when the data ended.
    static bool readFloat(FileInterface& stream, float& value, float low, float high);
    static bool readInt(FileInterface& stream, int32_t& value, int32_t low, int32_t high);
    static bool readWord(FileInterface& stream, uint32_t& value, uint32_t low, uint32_t high);
    // count floats, stored only when every one is within low..high.
    static bool readFloats(FileInterface& stream, float* values, int count, float low, float high);
};
