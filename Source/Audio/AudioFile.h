#pragma once

#include "Core/AudioFileRef.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>
#include <vorbis/vorbisfile.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace Audio {

// The PCM format of channels x bits-per-sample samples at samplesPerSecond.
inline WAVEFORMATEX pcmFormat(uint16_t channels, uint32_t samplesPerSecond, uint16_t bitsPerSample)
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = samplesPerSecond;
    format.wBitsPerSample = bitsPerSample;
    format.nBlockAlign = uint16_t(channels * (bitsPerSample / 8));
    format.nAvgBytesPerSec = samplesPerSecond * format.nBlockAlign;
    return format;
}

// One sound, loaded once and shared by every sound object that plays it: a
// "wav" or Ogg Vorbis file read through its reference's stream, or raw 16-bit
// PCM that the engine-sound mixer writes itself. Loaded files sit in one list,
// in load order, found by name.
//
// Buffers: a short sound is decoded once into a master DirectSound buffer,
// and playing sounds borrow duplicates of it from a pool that grows by a step
// on demand up to its capacity and shrinks again one step per interval. A
// sound whose data exceeds streamBufferBytes is streamed: every playing
// instance gets a buffer of its own that the sound event thread refills half
// by half. Buffers exist only while audio is enabled.
//
// Decode positions (seek, tell, fillBuffer) count bytes of PCM for wav and
// raw data and sample frames for Ogg.
//
// Files on disk are untrusted: a damaged header leaves the file unusable
// (type 0, it never plays) or shorter, never a crash.
//
// Main thread, except fillBuffer, read, seek and tell of a streamed file,
// which the sound event thread calls while it refills a buffer: a decoding
// that crosses threads holds decoderLock.
class AudioFile
{
public:
    static constexpr uint32_t typeNone = FileRef::typeNone;
    static constexpr uint32_t typeWav = FileRef::typeWav;
    static constexpr uint32_t typeOgg = FileRef::typeOgg;
    static constexpr uint32_t typeRaw = 3; // made in memory, never from a reference
    // Wav data below this size is read into memory at once.
    static constexpr uint32_t memoryLimit = 0x32000;
    // Larger data streams through buffers of this size, refilled by halves.
    static constexpr uint32_t streamBufferBytes = 0x80004;
    static constexpr uint32_t streamHalfBytes = streamBufferBytes / 2;
    // fillBuffer's position for "go on where the decoder stands".
    static constexpr uint32_t currentPosition = 0xFFFFFFFFu;

    // The loaded file named like ref, else a new one made from it; null for
    // a null reference. The counts of a new file are those of its first
    // request: initialCount duplicates are made with the master, the pool
    // holds capacity, and an empty pool grows by step.
    static AudioFile* get(const FileRef* ref, int32_t initialCount, int32_t capacity, int32_t step);
    // The file type a name's extension gives, case-sensitively: "wav" 1,
    // "ogg" 2, anything else 0.
    static uint32_t getFileType(const String& name);
    // Destroys the loaded file named like ref.
    static void unloadByRef(const FileRef& ref);
    // Destroys every loaded file.
    static void releaseAll();
    // The loaded files in load order.
    static SCList<AudioFile>& list();

    // Opens ref's stream as its type says; use get, which shares files.
    AudioFile(const FileRef& ref, int32_t initialCount, int32_t capacity, int32_t step);
    // Raw PCM of format, dataSize bytes long; held in memory when data is
    // given (copied), else silent until its buffers are written directly.
    AudioFile(String name, const WAVEFORMATEX& format, uint32_t dataSize, const void* data, int32_t initialCount,
              int32_t capacity, int32_t step);
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;
    // Detaches every sound that plays it (each stops and gives its buffer
    // back), releases the pool and the master and leaves the file list.
    ~AudioFile();

    // Builds the buffer description (volume, 3D and frequency control as
    // asked; 128 samples of silence ahead of the data with padSamples), then
    // createBuffers.
    void setupBuffers(bool volume, bool threeD, bool frequency, bool padSamples);
    // The master and the initial duplicates, when audio is enabled, the
    // description is set up and there is no master yet.
    void createBuffers();
    // A buffer for one playing sound, or null (audio off, nothing to play, or
    // the pool is spent). A streamed file's buffer is new and unfilled.
    IDirectSoundBuffer8* takeBuffer();
    // Takes holder's buffer back and clears holder. Without a device the
    // buffer is only forgotten: releasing the device destroyed it.
    void returnBuffer(IDirectSoundBuffer8*& holder);
    // Writes bytes of decoded data into buffer at offset, after padBytes of
    // silence, reading from position (or on from the decoder's position).
    // Returns the bytes the read delivered; 0 when the buffer cannot be
    // restored or locked.
    uint32_t fillBuffer(IDirectSoundBuffer8* buffer, uint32_t position, uint32_t offset, uint32_t bytes, bool loop);
    // Decodes bytes into destination. At the end of the data a looped read
    // goes on from the start; otherwise the rest of destination is cleared.
    // Returns the bytes of data delivered (bytes when it filled destination).
    uint32_t read(void* destination, uint32_t bytes, bool loop);
    void seek(uint32_t position);
    uint32_t tell();
    // Releases one step of free duplicates while more than initialCount are free.
    void shrinkPool();
    // Whether takeBuffer could give a buffer now: audio is on and the file
    // streams, has a free duplicate or may make more.
    bool canLendBuffer() const;

    // Restores a lost buffer, giving up after half a second; false when the
    // buffer's status cannot be read or it stays lost.
    static bool restoreBuffer(IDirectSoundBuffer8* buffer);
    // Writes silence into bytes of buffer from offset.
    static void clearBuffer(IDirectSoundBuffer8* buffer, uint32_t offset, uint32_t bytes);

    String name;
    SCList<AudioFile>::Node* listNode = nullptr;
    WAVEFORMATEX format{};
    uint32_t duration = 0; // milliseconds
    // Data in memory: the read offset. Wav data in the stream: where it begins.
    uint32_t cursor = 0;
    uint32_t dataSize = 0; // bytes of PCM
    uint32_t type = typeNone;
    OggVorbis_File oggFile{};
    FileInterface* source = nullptr; // the reference's stream; never closed here
    std::unique_ptr<uint8_t[]> memory;
    uint32_t streamed = 0;
    int32_t initialCount = 0;
    int32_t capacity = 0;
    int32_t step = 1;
    IDirectSoundBuffer8* master = nullptr;
    std::unique_ptr<IDirectSoundBuffer8*[]> pool; // free duplicates, a stack
    int32_t freeCount = 0;
    int32_t duplicateCount = 0;
    DSBUFFERDESC description{};
    uint32_t padBytes = 0;
    std::mutex decoderLock;
    // Cleared when the file is destroyed: the pointer its owner (the mixer)
    // keeps to it.
    AudioFile** ownerSlot = nullptr;
    // Told apart from every other file loaded in this run, even one made
    // later at the same address or under the same name.
    const uint32_t serial = nextSerial();

private:
    bool openWav();
    bool openOgg();
    uint32_t readPcm(uint8_t* destination, uint32_t bytes, bool loop);
    uint32_t readOgg(uint8_t* destination, uint32_t bytes, bool loop);
    // Data bytes from the cursor on, advancing it; memory or stream.
    uint32_t copyData(uint8_t* destination, uint32_t bytes);
    void rewindData();
    bool createMaster();
    IDirectSoundBuffer8* makeDuplicate();

    // Reads through the source at sourcePosition, which this file keeps
    // itself: memory streams stop short of their size when seeking, while the
    // decoder needs every position up to the size.
    uint32_t readSource(void* destination, uint32_t bytes);
    static size_t oggRead(void* destination, size_t size, size_t count, void* file);
    static int oggSeek(void* file, ogg_int64_t offset, int origin);
    static long oggTell(void* file);

    static uint32_t nextSerial();

    uint32_t sourcePosition = 0;
    bool oggOpen = false;
};

}
