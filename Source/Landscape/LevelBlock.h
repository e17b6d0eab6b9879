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
    // ended with its tag 0. Side files have tags of a single byte.
    template <class Tag = uint32_t, class Field>
    static bool read(FileInterface& stream, Field field)
    {
        for (;;) {
            Tag tag = 0;
            if (!stream.readValue(tag))
                return false;
            if (tag == 0)
                return true;
            if (!field(tag))
                return false;
        }
    }

    // A side file's own tags, as read: true only when its end tag is the
    // file's last byte. One met early (a tag byte changed into one the
    // reader passes over, whose value then reads as tags) leaves the rest
    // of the file unread.
    template <class Tag, class Field>
    static bool readWhole(FileInterface& stream, Field field)
    {
        return read<Tag>(stream, field) && stream.remaining() == 0;
    }

    // count values (1 to 4), stored only when every one lies within
    // low..high (a NaN never does); false only when the data ended.
    template <class T>
    static bool readInRange(FileInterface& stream, T* values, int count, T low, T high)
    {
        T read[4] = {};
        if (count < 1 || count > 4 || stream.read(read, uint32_t(count * sizeof(T))) != uint32_t(count * sizeof(T)))
            return false;
        for (int i = 0; i < count; ++i)
            if (!(read[i] >= low && read[i] <= high))
                return true;
        for (int i = 0; i < count; ++i)
            values[i] = read[i];
        return true;
    }
    template <class T>
    static bool readInRange(FileInterface& stream, T& value, T low, T high)
    {
        return readInRange(stream, &value, 1, low, high);
    }
};
