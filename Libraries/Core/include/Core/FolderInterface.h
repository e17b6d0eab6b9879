#pragma once

#include "Core/String.h"

#include <cstdint>

// Describes one folder; the fields mean what the FileInfo fields mean.
struct FolderInfo
{
    String name;
    String shortName;
    String folder;
    String fullFolder;
    uint32_t hidden = 0;
    uint32_t system = 0;
};

// A folder that lists files: a disk folder (Directory) or a package (Pack).
class FolderInterface : public FolderInfo
{
public:
    bool isOpen = false;

    FolderInterface() = default;
    FolderInterface(const FolderInterface&) = delete;
    FolderInterface& operator=(const FolderInterface&) = delete;
    virtual ~FolderInterface() = default;
};
