#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class FileInterface;

// The engine's own compressed image format (terrain height maps are stored in it).
//
// A stream is a 5-byte header followed by 8 x 8 blocks. Each block holds one base
// value per channel and is either flat or carries per-pixel values of a per-channel
// bit width, optionally coded as row-wise differences. The game reads and writes
// it (the terrain saves its maps); the content builder writes it too.
//
// Raw pixel layout: row after row, each pixel `channels` x `bytesPerChannel` bytes,
// channel c at byte c x `bytesPerChannel` of the pixel, values little-endian.
class ImageCodec
{
public:
    struct Description
    {
        int32_t width = 0;
        int32_t height = 0;
        int32_t channels = 0;        // 1 to 3
        int32_t bytesPerChannel = 0; // 1 to 4
        // The encoder reads this as the quality (0 to 5, 5 is lossless); the
        // decoder stores the stream's dropped low-order bit count here.
        int32_t quality = 0;
    };

    static constexpr size_t headerSize = 5;
    static constexpr int32_t maxDimension = 16383;
    static constexpr int32_t maxChannels = 3;
    static constexpr int32_t maxBytesPerChannel = 4;
    static constexpr int32_t maxQuality = 5;

    // Codes `pixels` (`size` bytes, laid out as above) into `stream`. Per 8 x 8
    // block and channel the base value is the block minimum; a block whose
    // channels are all constant is stored flat, any other block stores per-pixel
    // values with the fewest bits its range needs, or as row-wise differences when
    // those save 1 to 3 bits. Quality 5 is lossless; lower qualities drop up to 5
    // low-order bits of wide channels. Returns false, leaving `stream` empty, when
    // the pixels are missing or too few, a side is not a multiple of 8 from 8 to
    // 16376, or channels (1 to 3), bytes per channel (1 to 4) or quality (0 to 5)
    // are out of range. Thread-safe (no shared state).
    static bool compress(const Description& description, const uint8_t* pixels, size_t size,
                         std::vector<uint8_t>& stream);

    // Decodes `size` bytes at `data` into `pixels` (resized to width x height x
    // channels x bytesPerChannel) and fills `description`. Sides that are not a
    // multiple of 8 (which older writers produced) decode to the pixels inside. Returns false, with
    // `pixels` emptied and `description` untouched, when the stream is malformed or
    // shorter than its blocks need; never reads outside [data, data + size).
    // Bytes after the last block are ignored. Thread-safe (no shared state).
    static bool decompress(Description& description, std::vector<uint8_t>& pixels,
                           const uint8_t* data, size_t size);

    // Decodes the next `byteCount` bytes of `stream` (a coded block stored with
    // its length in front, as the terrain map does). Refuses, without reading,
    // a count larger than what the stream still holds; otherwise the stream's
    // position moves past the block whatever the result.
    static bool decompress(Description& description, std::vector<uint8_t>& pixels,
                           FileInterface& stream, uint32_t byteCount);
};
