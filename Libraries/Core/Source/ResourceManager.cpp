#include "Core/ResourceManager.h"

#include "Core/CrashTrace.h"

#include <new>

bool ResourceManager::load(const String& path)
{
    CRASH_TRACE();
    if (path.length() > 0)
        path_ = path;
    FileInterface* stream = openFile(path_, 0, 1, 1);
    if (!stream)
        return false;
    if (!stream->isOpen) {
        stream->close();
        return false;
    }
    entries.deleteAll();

    uint32_t header = 0;
    bool reading = stream->readValue(header);
    uint32_t entryCount = 0;
    uint32_t tag = 0;
    while (reading && stream->readTag(tag)) {
        if (tag == tagEntryCount) {
            reading = stream->readValue(entryCount);
        } else if (tag == tagEntries) {
            for (uint32_t i = 0; reading && i < entryCount; ++i) {
                // A count larger than the records present must not make
                // empty entries by the billion: stop where the data ends.
                if (stream->remaining() == 0) {
                    reading = false;
                    break;
                }
                Entry* entry = new (std::nothrow) Entry;
                auto* node = entry ? entries.append(entry) : nullptr;
                if (!node) {
                    delete entry;
                    reading = false;
                    break;
                }
                bool whole = true;
                reading = readEntry(*stream, *entry, whole);
                // An entry with a refused field is left out; the ones after it count.
                if (reading && !whole)
                    SCList<Entry>::removeAndDelete(node);
            }
        }
    }
    stream->close();
    return true;
}

// False when the archive cannot be read on after this entry (a field or a tag
// cut by the end of the data). A refused string, whose bytes were skipped,
// only clears whole.
bool ResourceManager::readEntry(FileInterface& stream, Entry& entry, bool& whole)
{
    uint32_t tag = 0;
    for (;;) {
        if (stream.read(&tag, sizeof(tag)) != sizeof(tag))
            return false;
        switch (tag) {
        case 0:
            return true;
        case tagPath:
            whole = stream.readString(entry.path) && whole;
            break;
        case tagName:
            whole = stream.readString(entry.name) && whole;
            break;
        case tagData:
            if (!FileInterface::copyBlockTo(stream, entry.data))
                return false;
            break;
        case tagType:
            if (!stream.readValue(entry.type))
                return false;
            break;
        case tagValue:
            if (!stream.readValue(entry.value))
                return false;
            break;
        default:
            break;
        }
    }
}

ResourceManager::Entry& ResourceManager::find(const String& name)
{
    for (auto* node = entries.head(); node; node = node->next) {
        if (node->item && node->item->name.sameText(name))
            return *node->item;
    }
    return defaultEntry_;
}

Audio::FileRef* ResourceManager::createSoundSource(Entry& entry)
{
    if (entry.type != typeSound)
        return nullptr;
    entry.data.seek(0, 0);
    return new (std::nothrow) Audio::FileRef(&entry.data, entry.value, entry.path.getFileName(), 0);
}
