#include "TerrainMapWriter.h"

#include "Core/FileArray.h"
#include "Core/HeightSurface.h"
#include "Core/ImageCodec.h"

#include <algorithm>

namespace {

constexpr uint32_t formatArgb = 21; // A8R8G8B8
constexpr uint32_t layerTexels = 256 * 256;

bool validSize(int32_t size)
{
    for (int32_t s = 128; s <= 2048; s *= 2)
        if (size == s)
            return true;
    return false;
}

}

std::vector<float> TerrainMapWriter::patchRanges(const Map& map)
{
    const int32_t n = map.size / 4;
    std::vector<float> ranges;
    ranges.reserve(size_t(n) * n * 2);
    for (int32_t p = 0; p < n * n; ++p) {
        const int32_t i0 = p / n * 4, j0 = p % n * 4;
        float low = 1.0e30f, high = -1.0e30f;
        for (int32_t ci = 0; ci < 4; ++ci)
            for (int32_t cj = 0; cj < 4; ++cj) {
                float control[16];
                HeightSurface::controlHeights(map.heights.data(), map.size, i0 + ci, j0 + cj, control);
                for (int32_t si = 0; si <= 8; ++si)
                    for (int32_t sj = 0; sj <= 8; ++sj) {
                        const float h = HeightSurface::sample(control, si, sj);
                        low = std::min(low, h);
                        high = std::max(high, h);
                    }
            }
        ranges.push_back(low);
        ranges.push_back(high);
    }
    return ranges;
}

bool TerrainMapWriter::write(const Map& map, FileInterface& target)
{
    if (!validSize(map.size) || map.heights.size() != size_t(map.size) * map.size || map.layers.size() > 0xFFFF)
        return false;
    for (const Overlay& overlay : map.overlays)
        if (overlay.width > 0xFFFF || overlay.height > 0xFFFF || overlay.argb.size() != size_t(overlay.width) * overlay.height)
            return false;
    for (const Layer& layer : map.layers)
        if (layer.pixels.size() != layerTexels)
            return false;
    bool ok = true;
    auto put = [&](const auto& value) { ok = ok && target.writeValue(value); };
    for (const Overlay& overlay : map.overlays)
        put(uint16_t(overlay.width));
    for (const Overlay& overlay : map.overlays)
        put(uint16_t(overlay.height));
    put(formatArgb);
    put(formatArgb);
    put(uint16_t(map.layers.size()));
    put(uint16_t(map.size));
    for (const Overlay& overlay : map.overlays)
        ok = ok && (overlay.argb.empty() ||
                    target.write(overlay.argb.data(), uint32_t(overlay.argb.size() * 4)) == overlay.argb.size() * 4);
    for (const Layer& layer : map.layers) {
        put(uint16_t(256));
        put(uint16_t(256));
        ok = ok && target.write(layer.pixels.data(), layerTexels * 2) == layerTexels * 2;
        put(layer.low);
        put(layer.high);
    }
    for (float v : patchRanges(map))
        put(v);
    ImageCodec::Description description;
    description.width = map.size;
    description.height = map.size;
    description.channels = 1;
    description.bytesPerChannel = 2;
    description.quality = ImageCodec::maxQuality;
    std::vector<uint8_t> coded;
    ok = ok && ImageCodec::compress(description, reinterpret_cast<const uint8_t*>(map.heights.data()),
                                    map.heights.size() * 2, coded);
    put(uint32_t(coded.size()));
    return ok && target.write(coded.data(), uint32_t(coded.size())) == coded.size();
}

bool TerrainMapWriter::save(const Map& map, const String& path)
{
    FileArray bytes(1 << 20);
    return write(map, bytes) && FileInterface::saveToFile(bytes, path);
}
