#include "ResourceArchiveWriter.h"

#include "Core/ResourceManager.h"

#include <new>

namespace
{
constexpr uint32_t archiveHeader = 0;

constexpr uint32_t tagEnd = 0;

using Tag = ResourceManager;

bool fitsStoredString(const String& text)
{
    return uint32_t(text.length()) <= FileInterface::maxStoredStringLength;
}
}

bool ResourceArchiveWriter::addEntry(const String& path, const String& name, const void* bytes, uint32_t size,
                                     uint32_t type, uint32_t value)
{
    if (name.length() == 0 || !fitsStoredString(name) || !fitsStoredString(path) || (size > 0 && !bytes))
        return false;
    auto entry = std::unique_ptr<Entry>(new (std::nothrow) Entry);
    if (!entry)
        return false;
    entry->path = path;
    entry->name = name;
    entry->type = type;
    entry->value = value;
    if (entry->data.write(bytes, size) != size)
        return false;
    entries_.push_back(std::move(entry));
    return true;
}

bool ResourceArchiveWriter::addEntry(const String& path, const String& name, FileInterface& source, uint32_t type,
                                     uint32_t value)
{
    FileArray copy(4096);
    if (!source.isOpen || !copy.loadFrom(source))
        return false;
    return addEntry(path, name, copy.memory(), copy.size(), type, value);
}

bool ResourceArchiveWriter::write(FileInterface& target) const
{
    if (!target.isOpen || !target.writeValue(archiveHeader) || !target.writeTag(Tag::tagEntryCount) ||
        !target.writeValue(uint32_t(entries_.size())) || !target.writeTag(Tag::tagEntries))
        return false;
    for (const auto& entry : entries_) {
        const bool written = target.writeTag(Tag::tagPath) && target.writeString(entry->path) &&
                             target.writeTag(Tag::tagName) && target.writeString(entry->name) &&
                             target.writeTag(Tag::tagData) && FileInterface::writeBlockFrom(target, entry->data) &&
                             target.writeTag(Tag::tagType) && target.writeValue(entry->type) &&
                             target.writeTag(Tag::tagValue) && target.writeValue(entry->value) && target.writeTag(tagEnd);
        if (!written)
            return false;
    }
    return target.writeTag(tagEnd);
}

bool ResourceArchiveWriter::save(const String& path) const
{
    FileArray bytes(65536);
    return write(bytes) && FileInterface::saveToFile(bytes, path);
}
