#include "PackWriter.h"

#include "Core/Coding.h"
#include "Core/Pack.h"

#include <cstring>
#include <new>

namespace
{
constexpr char packMark[7] = {'_', 'P', 'A', 'C', 'K', '_', '\0'};
constexpr uint32_t fileGrowStep = 65536;

bool writeCoded(FileInterface& target, const void* bytes, uint32_t n)
{
    const uint8_t* from = static_cast<const uint8_t*>(bytes);
    uint8_t chunk[4096];
    while (n > 0) {
        const uint32_t part = n < sizeof(chunk) ? n : uint32_t(sizeof(chunk));
        std::memcpy(chunk, from, part);
        Coding::encode(chunk, part);
        if (target.write(chunk, part) != part)
            return false;
        from += part;
        n -= part;
    }
    return true;
}

bool writeCodedValue(FileInterface& target, uint32_t value)
{
    return writeCoded(target, &value, sizeof(value));
}

// 8-bit form of an entry name; null buffer when it cannot be converted.
NarrowText narrowName(const String& name)
{
    NarrowText narrow = name.toNarrow();
    if (!narrow.buffer)
        return narrow;
    if (narrow.length > Pack::maxNameLength) {
        narrow.reset();
        return narrow;
    }
    // A character the code page lacks would come back as another name.
    String back;
    if (!back.assignNarrow(int32_t(narrow.length), narrow.buffer) || !back.sameText(name))
        narrow.reset();
    return narrow;
}
}

bool PackWriter::hasEntry(const String& name) const
{
    for (const auto& entry : entries_)
        if (entry->name.sameText(name))
            return true;
    return false;
}

bool PackWriter::addEntry(const String& name, const void* bytes, uint32_t size)
{
    if (name.length() == 0 || hasEntry(name) || (size > 0 && !bytes) || !narrowName(name).buffer)
        return false;
    auto entry = std::unique_ptr<Entry>(new (std::nothrow) Entry);
    if (!entry)
        return false;
    entry->name = name;
    if (entry->data.write(bytes, size) != size)
        return false;
    entries_.push_back(std::move(entry));
    return true;
}

bool PackWriter::addEntry(const String& name, FileInterface& source)
{
    FileArray copy(4096);
    if (!source.isOpen || !copy.loadFrom(source))
        return false;
    return addEntry(name, copy.memory(), copy.size());
}

bool PackWriter::write(FileInterface& target) const
{
    if (!target.isOpen || !writeCoded(target, packMark, sizeof(packMark)) ||
        !writeCodedValue(target, uint32_t(entries_.size())))
        return false;
    for (const auto& entry : entries_) {
        NarrowText narrow = narrowName(entry->name);
        if (!narrow.buffer || !writeCodedValue(target, narrow.length) ||
            !writeCoded(target, narrow.buffer, narrow.length))
            return false;
        const uint32_t size = entry->data.size();
        if (!writeCodedValue(target, size) || !writeCoded(target, entry->data.memory(), size))
            return false;
    }
    return true;
}

bool PackWriter::save(const String& path) const
{
    FileArray bytes(fileGrowStep);
    return write(bytes) && FileInterface::saveToFile(bytes, path);
}
