#include "Core/Pack.h"

#include "Core/CrashTrace.h"

#include <climits>
#include <cstring>
#include <new>

namespace
{
constexpr char packMark[7] = {'_', 'P', 'A', 'C', 'K', '_', '\0'};
// The smallest entry: a name length and a data size, both zero.
constexpr uint32_t smallestEntry = 8;

// Destroyed at exit together with every directory it still holds.
struct PackCache
{
    SCList<PackDirectory> directories;
    ~PackCache() { directories.deleteAll(); }
};

SCList<PackDirectory>& packCache()
{
    static PackCache cache;
    return cache.directories;
}
}

void splitPackPath(const String& path, String& packagePath, String& innerPath)
{
    const int32_t at = path.find(String::borrowed(L".pack:"));
    if (at < 0) {
        packagePath = path;
        innerPath = String(L"");
        return;
    }
    packagePath = path.substring(0, uint32_t(at + 5));
    innerPath = path.substring(at + 6);
}

void Pack::registerOpen(PackDirectory* directory)
{
    if (directory)
        packCache().append(directory);
}

void Pack::releaseCache()
{
    packCache().deleteAll();
}

PackDirectory* Pack::findCached(const String& packagePath)
{
    for (auto* node = packCache().head(); node; node = node->next)
        if (node->item && node->item->path.sameText(packagePath))
            return node->item;
    return nullptr;
}

Pack::Pack(const String& packagePath, uint32_t)
{
    CRASH_TRACE();
    name = packagePath.getFileName();
    if (packagePath.find(String::borrowed(L".pack")) < 0)
        return;
    // Packages are only read: opening them for writing as well would fail on
    // read-only media and folders.
    stream_ = new (std::nothrow)::File(packagePath, 0, 1, 1);
    if (!stream_ || !stream_->isOpen)
        return;
    directory_ = findCached(packagePath);
    if (directory_) {
        isOpen = true;
        return;
    }
    PackDirectory* parsed = new (std::nothrow) PackDirectory;
    if (!parsed)
        return;
    parsed->path = packagePath;
    if (!readDirectory(*parsed)) {
        delete parsed;
        return;
    }
    directory_ = parsed;
    registerOpen(parsed);
    isOpen = true;
}

Pack::~Pack()
{
    if (stream_)
        stream_->close();
    delete stream_;
    stream_ = nullptr;
}

bool Pack::readDecoded(void* buffer, uint32_t n)
{
    if (stream_->read(buffer, n) != n)
        return false;
    decode(static_cast<uint8_t*>(buffer), n);
    return true;
}

// Every count is checked against the bytes left in the file, so a damaged
// package is refused before it can ask for more memory than its own size.
bool Pack::readDirectory(PackDirectory& directory)
{
    const uint32_t fileSize = stream_->size();
    char mark[sizeof(packMark)];
    if (!readDecoded(mark, sizeof(mark)) || std::memcmp(mark, packMark, sizeof(mark)) != 0)
        return false;
    uint32_t entryCount = 0;
    if (!readDecoded(&entryCount, sizeof(entryCount)))
        return false;
    uint32_t position = stream_->tell();
    if (entryCount > (fileSize - position) / smallestEntry)
        return false;

    for (uint32_t i = 0; i < entryCount; ++i) {
        uint32_t nameLength = 0;
        if (!readDecoded(&nameLength, sizeof(nameLength)))
            return false;
        position += sizeof(nameLength);
        if (nameLength > maxNameLength || nameLength > fileSize - position ||
            fileSize - position - nameLength < sizeof(uint32_t))
            return false;
        PackEntry* entry = new (std::nothrow) PackEntry;
        if (!entry)
            return false;
        if (!directory.entries.append(entry)) {
            delete entry;
            return false;
        }
        if (nameLength > 0) {
            char* bytes = new (std::nothrow) char[nameLength];
            if (!bytes || !readDecoded(bytes, nameLength)) {
                delete[] bytes;
                return false;
            }
            const bool named = entry->name.assignNarrow(int32_t(nameLength), bytes);
            delete[] bytes;
            if (!named)
                return false;
        } else {
            entry->name = String(L"");
        }
        position += nameLength;
        uint32_t dataSize = 0;
        if (!readDecoded(&dataSize, sizeof(dataSize)))
            return false;
        position += sizeof(dataSize);
        if (dataSize > fileSize - position)
            return false;
        entry->offset = position;
        entry->size = dataSize;
        position += dataSize;
        if (stream_->seekTo(position) != position)
            return false;
    }
    return true;
}

const PackEntry* Pack::findEntry(const String& innerPath) const
{
    if (!directory_)
        return nullptr;
    for (auto* node = directory_->entries.head(); node; node = node->next)
        if (node->item && node->item->name.sameText(innerPath))
            return node->item;
    return nullptr;
}

Pack::File* Pack::openEntry(const String& innerPath)
{
    return new (std::nothrow) File(this, innerPath);
}

Pack::File::File(Pack* pack, const String& innerPath)
    : pack_(pack)
{
    name = innerPath.getFileName();
    if (!pack_ || !pack_->isOpen)
        return;
    const PackEntry* entry = pack_->findEntry(innerPath);
    if (!entry)
        return;
    // The offset and size are copied: the stream stays valid even if the
    // cache is released while it is open.
    entryOffset_ = entry->offset;
    entrySize_ = entry->size;
    fileSize = entrySize_;
    isOpen = pack_->stream_->seekTo(entryOffset_) == entryOffset_;
}

Pack::File::~File()
{
    releasePack();
}

void Pack::File::releasePack()
{
    if (ownsPack)
        delete pack_;
    pack_ = nullptr;
    ownsPack = false;
    isOpen = false;
}

uint32_t Pack::File::read(void* buffer, uint32_t n)
{
    if (!buffer)
        return readOnlyResult;
    if (!isOpen)
        return 0;
    const uint32_t position = tell();
    const uint32_t left = position < entrySize_ ? entrySize_ - position : 0;
    const uint32_t got = pack_->stream_->read(buffer, n < left ? n : left);
    Coding::decode(static_cast<uint8_t*>(buffer), got);
    return got;
}

uint32_t Pack::File::seek(int32_t offset, uint32_t origin)
{
    if (!isOpen)
        return 0;
    // Kept inside the entry: the bytes around it belong to other entries.
    pack_->stream_->seekTo(entryOffset_ + seekInMemory(offset, origin, tell(), entrySize_, entrySize_));
    return tell();
}

uint32_t Pack::File::tell()
{
    if (!isOpen)
        return 0;
    const uint32_t position = pack_->stream_->tell();
    return position > entryOffset_ ? position - entryOffset_ : 0;
}

uint32_t Pack::File::close()
{
    releasePack();
    return FileInterface::close();
}
