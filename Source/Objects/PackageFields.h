#pragma once
// Field readers shared by the package part blocks. Package files come from
// disk and are untrusted: every reader tells a field the data cuts short
// (false: the block ends there) from a value it refuses (true: the field is
// consumed and the target keeps what it held).

#include "Core/FileInterface.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>

namespace PackageFields {

// Reads a tagged block: field(tag) for each tag until tag 0 or the end of the
// data; field reads the tag's field (nothing for a tag it does not know) and
// returns false when the data cuts it short. True when the block ended at
// its tag 0 or where the data ends between two entries.
template <class Field>
bool readBlock(FileInterface& stream, Field field)
{
    uint32_t tag = 0;
    bool cut = false;
    while (stream.readTag(tag, cut))
        if (!field(tag))
            return false;
    return !cut;
}

// Limits of what a part accepts: positions and offsets, scales and size
// factors, angles in degrees. Larger values are damage, not content.
constexpr float maxCoordinate = 1.0e7f;
constexpr float maxFactor = 1.0e4f;
constexpr float maxAngle = 1.0e6f;

// True for a finite value within -limit to limit.
bool within(float value, float limit);

// n floats: false when the data ends inside them; the targets take the values
// only when every one of them is within limit.
bool readFloats(FileInterface& stream, float* target, int n, float limit);
inline bool readFloat(FileInterface& stream, float& target, float limit)
{
    return readFloats(stream, &target, 1, limit);
}
inline bool readVector(FileInterface& stream, vec3d& target, float limit)
{
    return readFloats(stream, &target.x, 3, limit);
}

// A stored text (u32 count, that many 8-bit characters): false when the data
// ends before its last character (the stream is then at its end). A text
// longer than the format allows is passed over and text keeps its value.
bool readText(FileInterface& stream, String& text);

// Whether at least count records of recordBytes each fit in what the stream
// has left: counts read from data are checked before anything is allocated.
bool fits(FileInterface& stream, uint32_t count, uint32_t recordBytes);

}
