#pragma once
// Sound files made in memory for the sound tests, the sound device on a
// window of the test's own, and a buffer that ends at a guard page.
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "SoundSamples.h"
#include "WavWriter.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace SoundTest {

using Bytes = std::vector<uint8_t>;

inline void put(Bytes& b, uint32_t v, int size = 4)
{
    for (int i = 0; i < size; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

inline void putId(Bytes& b, const char* id)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(id[i]));
}

// A wav file laid out chunk by chunk, for the layouts the builder never
// writes. fmtSize 18 adds the extra-size word; chunks before the data are
// given whole (id, size and body).
struct WavLayout
{
    uint16_t tag = 1, channels = 1;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    uint32_t bytesPerSecond = ~0u; // ~0: rate x block align
    uint32_t fmtSize = 16;
    Bytes before;                // chunks between fmt and data
    uint32_t declaredData = ~0u; // ~0: the real size
};

inline Bytes wavBytes(const WavLayout& l, const Bytes& data)
{
    const uint16_t align = uint16_t(l.channels * (l.bits / 8));
    Bytes b;
    putId(b, "RIFF");
    put(b, 0);
    putId(b, "WAVE");
    putId(b, "fmt ");
    put(b, l.fmtSize);
    put(b, l.tag, 2);
    put(b, l.channels, 2);
    put(b, l.rate);
    put(b, l.bytesPerSecond != ~0u ? l.bytesPerSecond : l.rate * align);
    put(b, align, 2);
    put(b, l.bits, 2);
    for (uint32_t i = 16; i < l.fmtSize; ++i)
        b.push_back(0);
    b.insert(b.end(), l.before.begin(), l.before.end());
    putId(b, "data");
    put(b, l.declaredData == ~0u ? uint32_t(data.size()) : l.declaredData);
    b.insert(b.end(), data.begin(), data.end());
    const uint32_t riff = uint32_t(b.size() - 8);
    memcpy(&b[4], &riff, 4);
    return b;
}

// Bytes with a recognisable pattern: byte i is a hash of i.
inline Bytes pattern(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * 2654435761u) >> 13);
    return b;
}

inline Bytes pcmBytes(const SoundSamples::Pcm& pcm)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.samples.data());
    return Bytes(p, p + pcm.bytes());
}

// A sound file over a memory stream: the stream and its reference live as
// long as this, and the file is unloaded first.
class MemorySound
{
public:
    MemorySound(const Bytes& bytes, uint32_t type, const wchar_t* name = L"test", int32_t initial = 0,
                int32_t capacity = 8, int32_t step = 1)
    {
        if (!bytes.empty())
            stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ref.set(&stream, type, String(name), 0);
        file = Audio::AudioFile::get(&ref, initial, capacity, step);
    }
    ~MemorySound() { Audio::AudioFile::unloadByRef(ref); }

    // The whole data read from the start.
    Bytes readAll()
    {
        Bytes out(file->dataSize);
        file->seek(0);
        if (!out.empty()) {
            EXPECT_EQ(file->read(out.data(), uint32_t(out.size()), false), out.size());
        }
        return out;
    }

    FileArray stream{4096};
    Audio::FileRef ref;
    Audio::AudioFile* file = nullptr;
};

// Pearson correlation of two sample runs of equal length.
inline double correlation(const int16_t* a, const int16_t* b, size_t n)
{
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= double(n);
    mb /= double(n);
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0.0;
}

// n writable bytes directly in front of a page that faults on any access.
class GuardedBuffer
{
public:
    explicit GuardedBuffer(size_t n) : size_(n)
    {
        const size_t pages = (n + 4095) / 4096 + 1;
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, pages * 4096, MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (base_)
            VirtualProtect(base_ + (pages - 1) * 4096, 4096, PAGE_NOACCESS, &old);
        data_ = base_ ? base_ + (pages - 1) * 4096 - n : nullptr;
    }
    ~GuardedBuffer()
    {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
    size_t size_;
};

// The sound device, cooperating through the desktop window: the tests make
// no window of their own, so they need no lock on the shared Wine desktop.
// Released with every loaded file at the end.
class Device
{
public:
    Device() { Audio::init(GetDesktopWindow()); }
    ~Device() { Audio::release(); }
    bool ready() const { return Audio::isEnabled(); }
};

// The bytes a buffer holds, read back through a lock.
inline Bytes bufferBytes(IDirectSoundBuffer8* buffer, uint32_t offset, uint32_t n)
{
    Bytes out;
    void *a = nullptr, *b = nullptr;
    DWORD na = 0, nb = 0;
    if (buffer && SUCCEEDED(buffer->Lock(offset, n, &a, &na, &b, &nb, 0))) {
        out.assign(static_cast<uint8_t*>(a), static_cast<uint8_t*>(a) + na);
        if (b)
            out.insert(out.end(), static_cast<uint8_t*>(b), static_cast<uint8_t*>(b) + nb);
        buffer->Unlock(a, na, b, nb);
    }
    return out;
}

}
