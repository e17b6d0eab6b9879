#pragma once

#include "Core/FileInterface.h"

// A disk file through the runtime library's descriptors.
// Read mode opens an existing file (read-only when readOnly is 1); write mode
// creates or truncates it. binaryMode 0 selects the runtime's UTF-16 text mode.
// Seeking from the end follows the runtime: end + offset.
class File : public FileInterface
{
public:
    File(const String& path, uint32_t write, uint32_t binaryMode, uint32_t readOnly);
    ~File() override;

    uint32_t read(void* buffer, uint32_t n) override;
    uint32_t write(const void* buffer, uint32_t n) override;
    uint32_t seek(int32_t offset, uint32_t origin) override;
    uint32_t tell() override;
    // The larger of the size at opening and the length written so far.
    uint32_t size() override;
    uint32_t close() override;

    // Moves to an absolute position, also beyond what a signed offset reaches.
    uint32_t seekTo(uint32_t position);

private:
    void closeDescriptor();

    int fd_ = -1;
};
