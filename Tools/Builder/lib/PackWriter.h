#pragma once

#include "Core/FileArray.h"
#include "Core/String.h"

#include <memory>
#include <vector>

// Writes package files (".pack") that the game opens through "name.pack:inner".
// Entries are written in the order they were added; every byte of the file
// goes through the package byte substitution.
class PackWriter
{
public:
    // name is the inner path exactly as loaders spell it (case-sensitive,
    // 8-bit text). False for an empty or repeated name, a name the 8-bit code
    // page cannot hold or longer than Pack::maxNameLength, or when memory
    // runs out.
    bool addEntry(const String& name, const void* bytes, uint32_t size);
    // The whole content of source.
    bool addEntry(const String& name, FileInterface& source);

    size_t count() const { return entries_.size(); }

    // Writes the package into target at its position. False when a write fails.
    bool write(FileInterface& target) const;
    // Writes the package to a new file at path.
    bool save(const String& path) const;

private:
    struct Entry
    {
        String name;
        FileArray data{4096};
    };

    bool hasEntry(const String& name) const;

    std::vector<std::unique_ptr<Entry>> entries_;
};
