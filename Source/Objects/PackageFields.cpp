#include "Objects/PackageFields.h"

#include <cmath>
#include <memory>
#include <new>

namespace PackageFields {

bool within(float value, float limit)
{
    return std::isfinite(value) && std::fabs(value) <= limit;
}

bool readFloats(FileInterface& stream, float* target, int n, float limit)
{
    float values[3] = {};
    if (n < 1 || n > 3 || stream.read(values, uint32_t(n) * sizeof(float)) != uint32_t(n) * sizeof(float))
        return false;
    for (int i = 0; i < n; ++i)
        if (!within(values[i], limit))
            return true;
    for (int i = 0; i < n; ++i)
        target[i] = values[i];
    return true;
}

bool readText(FileInterface& stream, String& text)
{
    uint32_t count = 0;
    if (!stream.readValue(count))
        return false;
    if (count > stream.remaining()) {
        stream.seek(int32_t(stream.remaining()), 1);
        return false;
    }
    if (count > FileInterface::maxStoredStringLength) {
        stream.seek(int32_t(count), 1);
        return true;
    }
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[count + 1]);
    if (!bytes) {
        stream.seek(int32_t(count), 1);
        return true;
    }
    if (stream.read(bytes.get(), count) != count)
        return false;
    String read;
    if (read.assignNarrow(int32_t(count), bytes.get()))
        text = std::move(read);
    return true;
}

bool fits(FileInterface& stream, uint32_t count, uint32_t recordBytes)
{
    return uint64_t(count) * recordBytes <= stream.remaining();
}

}
