#pragma once

#include "Core/FileArray.h"
#include "Core/String.h"

#include <memory>
#include <vector>

// Writes the resource archive ("Data\Resource\Resource.res") that the game's
// ResourceManager loads: a u32 header, the entry count (tag 1), the entry
// records (tag 2; each with tags 1 path, 2 name, 3 data, 4 type, 5 value and
// an ending 0) and a final tag 0. Entries keep the order they were added in.
class ResourceArchiveWriter
{
public:
    // path: the asset's source file (its file name names a sound); name: the
    // key the game looks up. False for an empty name, texts longer than a
    // stored String may be, or when memory runs out. Names may repeat (the
    // game finds the first), as the archive allows.
    bool addEntry(const String& path, const String& name, const void* bytes, uint32_t size, uint32_t type,
                  uint32_t value);
    // The whole content of source.
    bool addEntry(const String& path, const String& name, FileInterface& source, uint32_t type, uint32_t value);

    size_t count() const { return entries_.size(); }

    bool write(FileInterface& target) const;
    bool save(const String& path) const;

private:
    struct Entry
    {
        String path;
        String name;
        FileArray data{4096};
        uint32_t type = 0;
        uint32_t value = 0;
    };

    std::vector<std::unique_ptr<Entry>> entries_;
};
