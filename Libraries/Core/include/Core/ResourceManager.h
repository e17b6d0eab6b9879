#pragma once

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/SCList.h"
#include "Core/String.h"

// The named shared assets of "Data\Resource\Resource.res", loaded whole at
// start-up. Users find entries by exact name and read their bytes from the
// entry's memory stream; entries stay owned by the manager for the whole run.
// Main thread only.
//
// Archive: a u32 header (not interpreted), then tagged records: tag 1 a u32
// entry count, tag 2 that many entry records. An entry record is tagged too:
// 1 String path, 2 String name, 3 sized block data, 4 u32 type, 5 u32 value,
// ended by tag 0. Unknown tags carry no field. Reading stops at tag 0, at the
// end of the data or at the first field that cannot be read whole; the
// entries read so far stay. An entry whose path or name is refused (longer
// than a stored String may be) is left out and reading goes on after it.
class ResourceManager
{
public:
    static constexpr uint32_t typeSound = 1;

    // The archive's tags, shared with the content builder's writer.
    enum ArchiveTag : uint32_t {
        tagEntryCount = 1,
        tagEntries = 2,
    };
    enum EntryTag : uint32_t {
        tagPath = 1,
        tagName = 2,
        tagData = 3,
        tagType = 4,
        tagValue = 5,
    };

    struct Entry
    {
        String path;  // the asset's source file; its file-name part names a sound
        String name;  // the key users look up (case-sensitive)
        FileArray data{4096};
        uint32_t type = 0;
        uint32_t value = 0; // handed to the sound system with a sound entry

        Entry() = default;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
    };

    ResourceManager() = default;
    ResourceManager(const ResourceManager&) = delete;
    ResourceManager& operator=(const ResourceManager&) = delete;
    ~ResourceManager() { entries.deleteAll(); }

    // Loads the archive at path (the path stored last when path is empty).
    // Returns false, keeping the entries as they were, when it cannot be opened.
    bool load(const String& path);
    // The first entry named name, or the empty default entry.
    Entry& find(const String& name);
    // A new sound reference over a sound entry's bytes (rewound), with the
    // entry's value as the sound's type and the file-name part of its path as
    // its name; the entry keeps its stream, the caller owns the reference.
    // Null for an entry of another type.
    static Audio::FileRef* createSoundSource(Entry& entry);

    const String& path() const { return path_; }

    SCList<Entry> entries;

private:
    bool readEntry(FileInterface& stream, Entry& entry, bool& whole);

    String path_;
    Entry defaultEntry_;
};
