#pragma once

#include "Core/FileInterface.h"

// A read-only stream over a resource of the program's own module.
// Seeking from the end goes to size - 1 - offset; a position never passes
// the last byte. memory() points into the module image: never write to it.
class Resource : public FileInterface
{
public:
    // Type RT_RCDATA is 10, RT_BITMAP 2.
    Resource(uint16_t id, uint16_t type);
    // name and type as FindResourceW takes them (text or integer resource ids).
    Resource(const wchar_t* name, const wchar_t* type);
    ~Resource() override = default;

    uint32_t read(void* buffer, uint32_t n) override;
    uint32_t write(const void*, uint32_t) override { return readOnlyResult; }
    uint32_t seek(int32_t offset, uint32_t origin) override;
    uint32_t tell() override { return position_; }
    uint32_t size() override { return size_; }
    uint8_t* memory() override { return data_; }
    uint32_t close() override;

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t position_ = 0;
};
