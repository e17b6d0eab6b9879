// Reading sound files: the wav and Ogg readers and the decoder interface
// (read, seek, tell) that buffer fills, stream refills and the mixer use.
#include "Audio/AudioFile.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace Audio {

namespace {

// The 16 bytes of a PCM "fmt " chunk.
#pragma pack(push, 1)
struct PcmFormat
{
    uint16_t tag;
    uint16_t channels;
    uint32_t samplesPerSecond;
    uint32_t bytesPerSecond;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
};
#pragma pack(pop)
static_assert(sizeof(PcmFormat) == 16);

bool sameId(const char (&id)[4], const char* expected)
{
    return memcmp(id, expected, 4) == 0;
}

}

uint32_t AudioFile::readSource(void* destination, uint32_t bytes)
{
    if (!source || !source->isOpen)
        return 0;
    const uint32_t size = source->size();
    if (sourcePosition >= size || sourcePosition > uint32_t(INT32_MAX))
        return 0;
    bytes = std::min(bytes, size - sourcePosition);
    if (source->tell() != sourcePosition && source->seek(int32_t(sourcePosition), 0) != sourcePosition)
        return 0;
    uint32_t got = source->read(destination, bytes);
    if (got > bytes)
        got = 0;
    sourcePosition += got;
    return got;
}

// The RIFF layout is read at fixed places: "WAVE" at 8, a 16-byte PCM "fmt "
// chunk, an optional "fact" chunk, then "data". Any other chunk before the
// data gives a sound without data.
bool AudioFile::openWav()
{
    char id[4];
    sourcePosition = 8;
    if (readSource(id, 4) != 4 || !sameId(id, "WAVE"))
        return false;
    sourcePosition += 4;
    uint32_t chunkSize = 0;
    PcmFormat pcm{};
    if (readSource(&chunkSize, 4) != 4 || chunkSize != sizeof(pcm) || readSource(&pcm, sizeof(pcm)) != sizeof(pcm))
        return false;
    // Anything DirectSound could not play, or whose length could not be
    // told, is refused here rather than failing later.
    if (pcm.tag != WAVE_FORMAT_PCM || pcm.channels == 0 || pcm.samplesPerSecond == 0 || pcm.bytesPerSecond == 0 ||
        pcm.blockAlign == 0)
        return false;
    format = WAVEFORMATEX{};
    format.wFormatTag = pcm.tag;
    format.nChannels = pcm.channels;
    format.nSamplesPerSec = pcm.samplesPerSecond;
    format.nAvgBytesPerSec = pcm.bytesPerSecond;
    format.nBlockAlign = pcm.blockAlign;
    format.wBitsPerSample = pcm.bitsPerSample;

    if (readSource(id, 4) != 4)
        return true;
    if (sameId(id, "fact")) {
        sourcePosition += 8;
        if (readSource(id, 4) != 4)
            return true;
    } else if (id[0] == 'f') {
        return true;
    }
    uint32_t size = 0;
    if (!sameId(id, "data") || readSource(&size, 4) != 4)
        return true;

    // A size beyond the file is cut to the bytes present, in whole frames.
    const uint32_t present = source->size() > sourcePosition ? source->size() - sourcePosition : 0;
    size = std::min(size, present);
    size -= size % format.nBlockAlign;
    if (size < memoryLimit) {
        memory.reset(new (std::nothrow) uint8_t[size ? size : 1]);
        if (!memory)
            return false;
        const uint32_t got = readSource(memory.get(), size);
        size = got - got % format.nBlockAlign;
        cursor = 0;
    } else {
        cursor = sourcePosition;
    }
    dataSize = size;
    duration = uint32_t(uint64_t(dataSize) * 1000 / format.nAvgBytesPerSec);
    return true;
}

bool AudioFile::openOgg()
{
    // The decoder reads from the start; the stream belongs to the reference,
    // so no close callback is given.
    sourcePosition = 0;
    const ov_callbacks callbacks{oggRead, oggSeek, nullptr, oggTell};
    // A failed open clears the decoder state itself.
    if (ov_open_callbacks(this, &oggFile, nullptr, 0, callbacks) < 0)
        return false;
    oggOpen = true;
    const vorbis_info* info = ov_info(&oggFile, -1);
    const ogg_int64_t frames = ov_pcm_total(&oggFile, -1);
    const uint64_t bytes = info && info->channels > 0 && frames >= 0 ? uint64_t(frames) * info->channels * 2 : 0;
    if (!info || info->channels <= 0 || info->channels > 0xFFFF || info->rate <= 0 || info->rate > INT32_MAX ||
        frames < 0 || bytes > uint64_t(INT32_MAX) || uint64_t(info->rate) * info->channels * 2 > UINT32_MAX) {
        ov_clear(&oggFile);
        oggOpen = false;
        return false;
    }
    format = pcmFormat(uint16_t(info->channels), uint32_t(info->rate), 16);
    const double seconds = ov_time_total(&oggFile, -1);
    duration = std::isfinite(seconds) && seconds > 0.0 ? uint32_t(std::llround(std::min(seconds * 1000.0, 4e9))) : 0;
    cursor = 0;
    dataSize = uint32_t(bytes);
    return true;
}

size_t AudioFile::oggRead(void* destination, size_t size, size_t count, void* file)
{
    if (size == 0)
        return 0;
    const size_t bytes = std::min<size_t>(count, UINT32_MAX / size) * size;
    return static_cast<AudioFile*>(file)->readSource(destination, uint32_t(bytes)) / size;
}

// Answers 0 or -1 as the decoder expects. A seek from the end counts from
// the size, which the decoder takes as the stream's length.
int AudioFile::oggSeek(void* file, ogg_int64_t offset, int origin)
{
    AudioFile* self = static_cast<AudioFile*>(file);
    const int64_t size = self->source ? self->source->size() : 0;
    const int64_t base = origin == SEEK_CUR ? int64_t(self->sourcePosition) : origin == SEEK_END ? size : 0;
    const int64_t target = base + offset;
    if (target < 0 || target > size)
        return -1;
    self->sourcePosition = uint32_t(target);
    return 0;
}

long AudioFile::oggTell(void* file)
{
    return long(static_cast<AudioFile*>(file)->sourcePosition);
}

uint32_t AudioFile::read(void* destination, uint32_t bytes, bool loop)
{
    uint8_t* target = static_cast<uint8_t*>(destination);
    if (!target || bytes == 0)
        return 0;
    switch (type) {
    case typeWav:
    case typeRaw:
        return readPcm(target, bytes, loop);
    case typeOgg:
        return readOgg(target, bytes, loop);
    default:
        memset(target, 0, bytes);
        return bytes;
    }
}

uint32_t AudioFile::copyData(uint8_t* destination, uint32_t bytes)
{
    // Data in memory is read on from the cursor, as data in the stream is
    // read on from the stream's position: reads that follow each other (the
    // halves of a buffer, the mixer's loops) get what follows, and a looped
    // read that wraps goes on from the start and stands behind what it
    // copied there. A cursor that stayed put would hand every read the same
    // bytes.
    if (memory) {
        const uint32_t count = std::min(bytes, dataSize - std::min(cursor, dataSize));
        memcpy(destination, memory.get() + cursor, count);
        cursor += count;
        return count;
    }
    const uint32_t done = sourcePosition >= cursor ? sourcePosition - cursor : dataSize;
    if (done >= dataSize)
        return 0;
    return readSource(destination, std::min(bytes, dataSize - done));
}

void AudioFile::rewindData()
{
    if (memory)
        cursor = 0;
    else
        sourcePosition = cursor;
}

uint32_t AudioFile::readPcm(uint8_t* destination, uint32_t bytes, bool loop)
{
    // Raw data without memory is the mixer's, written into its buffers
    // directly: reading it gives silence.
    if (type == typeRaw && !memory) {
        memset(destination, 0, bytes);
        return bytes;
    }
    uint32_t done = 0;
    bool rewound = false;
    while (done < bytes) {
        const uint32_t got = copyData(destination + done, bytes - done);
        done += got;
        if (done == bytes || (got == 0 && rewound))
            break;
        rewindData();
        if (!loop)
            break;
        rewound = true;
    }
    memset(destination + done, 0, bytes - done);
    return done;
}

uint32_t AudioFile::readOgg(uint8_t* destination, uint32_t bytes, bool loop)
{
    uint32_t done = 0;
    bool deliveredSinceRewind = true;
    while (done < bytes && oggOpen) {
        const int want = int(std::min<uint32_t>(bytes - done, INT_MAX));
        const long got = ov_read(&oggFile, reinterpret_cast<char*>(destination + done), want, 0, 2, 1, nullptr);
        if (got > 0) {
            done += uint32_t(std::min<long>(got, want));
            deliveredSinceRewind = true;
        } else if (got == OV_HOLE) {
            // A gap in the data: the decoder goes on behind it.
        } else if (got == 0 && loop && deliveredSinceRewind) {
            if (ov_pcm_seek(&oggFile, 0) != 0)
                break;
            deliveredSinceRewind = false;
        } else {
            // The end without loop, nothing since the last rewind, or an
            // error that ends the data.
            break;
        }
    }
    memset(destination + done, 0, bytes - done);
    return done;
}

void AudioFile::seek(uint32_t position)
{
    switch (type) {
    case typeWav:
    case typeRaw:
        if (memory)
            cursor = std::min(position, dataSize);
        else if (source)
            sourcePosition = cursor + std::min(position, dataSize);
        break;
    case typeOgg:
        if (oggOpen && ov_pcm_tell(&oggFile) != ogg_int64_t(position))
            ov_pcm_seek(&oggFile, ogg_int64_t(position));
        break;
    default:
        break;
    }
}

uint32_t AudioFile::tell()
{
    switch (type) {
    case typeWav:
    case typeRaw:
        if (memory)
            return cursor;
        return source && sourcePosition >= cursor ? sourcePosition - cursor : 0;
    case typeOgg: {
        const ogg_int64_t position = oggOpen ? ov_pcm_tell(&oggFile) : 0;
        return position > 0 ? uint32_t(std::min<ogg_int64_t>(position, UINT32_MAX)) : 0;
    }
    default:
        return 0;
    }
}

}
