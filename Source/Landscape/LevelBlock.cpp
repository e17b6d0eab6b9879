#include "Landscape/LevelBlock.h"

#include <cmath>

bool LevelBlock::readFloat(FileInterface& stream, float& value, float low, float high)
{
    return readFloats(stream, &value, 1, low, high);
}

bool LevelBlock::readFloats(FileInterface& stream, float* values, int count, float low, float high)
{
    float read[4] = {};
    if (count < 1 || count > 4 || stream.read(read, uint32_t(count) * 4) != uint32_t(count) * 4)
        return false;
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(read[i]) || read[i] < low || read[i] > high)
            return true;
    for (int i = 0; i < count; ++i)
        values[i] = read[i];
    return true;
}

bool LevelBlock::readInt(FileInterface& stream, int32_t& value, int32_t low, int32_t high)
{
    int32_t read = 0;
    if (!stream.readValue(read))
        return false;
    if (read >= low && read <= high)
        value = read;
    return true;
}

bool LevelBlock::readWord(FileInterface& stream, uint32_t& value, uint32_t low, uint32_t high)
{
    uint32_t read = 0;
    if (!stream.readValue(read))
        return false;
    if (read >= low && read <= high)
        value = read;
    return true;
}
