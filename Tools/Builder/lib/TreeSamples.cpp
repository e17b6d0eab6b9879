#include "TreeSamples.h"

#include "TreeStreamWriter.h"

#include "Core/FileArray.h"

#include <cmath>

namespace TreeSamples {

namespace {

// A fixed hash of a texel, for grain that is the same in every build.
uint32_t grain(uint32_t x, uint32_t y)
{
    uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

std::vector<uint8_t> bytesOf(FileArray& stream)
{
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

bool saveBytes(const std::vector<uint8_t>& bytes, const String& path)
{
    FileArray stream(4096);
    return stream.write(bytes.data(), uint32_t(bytes.size())) == bytes.size() &&
           FileInterface::saveToFile(stream, path);
}

}

ImageFileWriter::Image bark()
{
    ImageFileWriter::Image image;
    image.width = 64;
    image.height = 128;
    image.argb.reserve(size_t(image.width) * image.height);
    const float pi = 3.14159265f;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            // Five furrows across the width that wander a little along v.
            const float u = (float(x) + 3.0f * std::sin(float(y) * 2.0f * pi / 128.0f)) / 64.0f;
            const float ridge = 0.5f + 0.5f * std::cos(u * 5.0f * 2.0f * pi);
            const float light = 0.45f + 0.45f * ridge + float(grain(x, y) % 32) / 320.0f;
            const uint32_t r = uint32_t(std::fmin(255.0f, 118.0f * light + 20.0f));
            const uint32_t g = uint32_t(std::fmin(255.0f, 86.0f * light + 14.0f));
            const uint32_t b = uint32_t(std::fmin(255.0f, 58.0f * light + 8.0f));
            image.argb.push_back(0xFF000000u | r << 16 | g << 8 | b);
        }
    return image;
}

std::vector<uint8_t> sampleTree()
{
    TreeStreamWriter::Content content;
    content.param.root.count = sampleRoots;
    Tree::Bough levels[3];
    TreeStreamWriter::grow(content.param, sampleSeed, levels);
    for (int i = 0; i < 3; ++i)
        content.levels[i] = &levels[i];
    content.bark = ImageFileWriter::png(bark());
    content.seed = sampleSeed;
    FileArray stream(65536);
    if (!TreeStreamWriter::write(stream, content))
        return {};
    return bytesOf(stream);
}

std::vector<uint8_t> emptyTree()
{
    return {'v', '1', '.', '1', 0};
}

bool save(const String& folder)
{
    const std::vector<uint8_t> sample = sampleTree();
    return !sample.empty() && saveBytes(sample, folder + L"Sample.tree") && saveBytes(emptyTree(), folder + L"Empty.tree");
}

}
