#pragma once

#include "Core/FileInterface.h"

// A memory stream. A growable one (made with a grow step) extends on writes,
// its capacity always a whole multiple of the grow step; one copied from
// another stream has a fixed size and writes only overwrite.
// Seeking from the end goes to size - 1 - offset (the last byte for offset 0);
// a position never passes size.
// close() frees the bytes but leaves the object usable as an empty stream.
class FileArray : public FileInterface
{
public:
    explicit FileArray(uint32_t growStep = 4096);
    // The bytes of source from its current position to its end; not growable.
    explicit FileArray(FileInterface& source);
    ~FileArray() override;

    uint32_t read(void* buffer, uint32_t n) override;
    // A growable stream that cannot get the memory writes what still fits.
    uint32_t write(const void* buffer, uint32_t n) override;
    uint32_t seek(int32_t offset, uint32_t origin) override;
    uint32_t tell() override { return position_; }
    uint32_t size() override { return size_; }
    uint8_t* memory() override { return buffer_; }
    uint32_t close() override;

    // Replaces the content with the whole of source (read from its start).
    // False, and empty, when source cannot be read whole or memory runs out.
    bool loadFrom(FileInterface& source);
    // Replaces the content with the next n bytes of source and rewinds.
    // False, and empty, when source holds fewer than n bytes or memory runs out.
    bool loadBytes(FileInterface& source, uint32_t n);
    // Makes room for n bytes (growable streams only). False when memory runs out.
    bool reserve(uint32_t n);

    uint32_t capacity() const { return capacity_; }

private:
    void releaseBuffer();
    bool allocateExact(uint32_t n);

    uint8_t* buffer_ = nullptr;
    uint32_t size_ = 0;
    uint32_t position_ = 0;
    uint32_t capacity_ = 0;
    uint32_t growStep_ = 4096;
    bool growable_ = true;
};
