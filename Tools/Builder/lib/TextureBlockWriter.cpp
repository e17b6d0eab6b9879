#include "TextureBlockWriter.h"

namespace TextureBlockWriter {

namespace {

constexpr uint32_t surfaceType = 1;

}

bool writeTextureBlock(FileInterface& target, uint32_t levelCount, const void* imageFile, uint32_t byteCount)
{
    return target.writeValue(levelCount) && target.writeValue(byteCount) &&
           (byteCount == 0 || target.write(imageFile, byteCount) == byteCount);
}

bool writeRawTextureBlock(FileInterface& target, uint32_t levelCount, const RawDescription& d, const void* texels,
                          uint32_t byteCount)
{
    const uint32_t fields[9] = {levelCount, d.format, surfaceType, d.usage, d.pool, 0, 0, d.width, d.height};
    for (uint32_t field : fields)
        if (!target.writeValue(field))
            return false;
    return byteCount == 0 || target.write(texels, byteCount) == byteCount;
}

}
