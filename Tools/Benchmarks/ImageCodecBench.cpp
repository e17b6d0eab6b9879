// Prints encode and decode figures of the engine image codec for 1024 x 1024
// images of 2 bytes per channel (the height maps' format) and a few others.
#include "Core/ImageCodec.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace
{

double threadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 1e-7;
    };
    return seconds(kernel) + seconds(user);
}

std::vector<uint8_t> makeImage(const ImageCodec::Description& d, bool noise)
{
    std::mt19937 random(5);
    const double full = double((uint64_t(1) << (8 * d.bytesPerChannel)) - 1);
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(d.width) * d.height * d.channels * d.bytesPerChannel);
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x)
            for (int c = 0; c < d.channels; ++c)
            {
                const double u = double(x) / d.width, v = double(y) / d.height;
                double value = noise ? double(random()) / 4294967295.0 * full
                                     : full * (0.5 + 0.25 * std::sin(9 * u + c) * std::cos(6 * v))
                                           + double(int(random() % 5) - 2);
                const uint32_t sample = uint32_t(std::clamp(value, 0.0, full));
                for (int k = 0; k < d.bytesPerChannel; ++k)
                    pixels.push_back(static_cast<uint8_t>(sample >> (8 * k)));
            }
    return pixels;
}

void run(const char* name, int channels, int bytesPerChannel, bool noise)
{
    ImageCodec::Description d;
    d.width = 1024;
    d.height = 1024;
    d.channels = channels;
    d.bytesPerChannel = bytesPerChannel;
    d.quality = ImageCodec::maxQuality;
    const std::vector<uint8_t> pixels = makeImage(d, noise);

    constexpr int rounds = 10;
    std::vector<uint8_t> stream;
    double start = threadCpuSeconds();
    for (int i = 0; i < rounds; ++i)
        ImageCodec::compress(d, pixels.data(), pixels.size(), stream);
    const double encodeMs = (threadCpuSeconds() - start) * 1000 / rounds;

    std::vector<uint8_t> decoded;
    ImageCodec::Description out;
    bool ok = true;
    start = threadCpuSeconds();
    for (int i = 0; i < rounds; ++i)
        ok = ImageCodec::decompress(out, decoded, stream.data(), stream.size()) && ok;
    const double decodeMs = (threadCpuSeconds() - start) * 1000 / rounds;

    std::printf("%-28s raw %8zu  stream %8zu (%5.1f%%)  encode %7.2f ms  decode %7.2f ms  %s\n", name,
                pixels.size(), stream.size(), 100.0 * double(stream.size()) / double(pixels.size()), encodeMs,
                decodeMs, ok && decoded == pixels ? "round trip ok" : "ROUND TRIP FAILED");
}

} // namespace

int main()
{
    std::printf("1024 x 1024, CPU time per image (mean of 10)\n");
    run("heights 1 x 2 bytes", 1, 2, false);
    run("noise 1 x 2 bytes", 1, 2, true);
    run("smooth 3 x 2 bytes", 3, 2, false);
    run("smooth 3 x 1 byte", 3, 1, false);
    run("noise 3 x 1 byte", 3, 1, true);
    return 0;
}
