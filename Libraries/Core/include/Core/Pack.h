#pragma once

#include "Core/Coding.h"
#include "Core/File.h"
#include "Core/FolderInterface.h"
#include "Core/SCList.h"

// One entry of a package: its inner path and where its data lies in the file.
struct PackEntry
{
    String name;
    uint32_t offset = 0; // absolute position of the first data byte
    uint32_t size = 0;
};

// The parsed entry list of one package file, cached for the whole run.
struct PackDirectory
{
    String path; // the package path exactly as opened
    SCList<PackEntry> entries;

    PackDirectory() = default;
    PackDirectory(const PackDirectory&) = delete;
    PackDirectory& operator=(const PackDirectory&) = delete;
    ~PackDirectory() { entries.deleteAll(); }
};

// A package file: "_PACK_" and a NUL, a u32 entry count, then per entry a u32
// name length, the 8-bit name, a u32 data size and the data; every byte stored
// through the Coding substitution. The file is opened read-only and stays open
// while the pack lives. A package's directory is parsed once per run and kept
// in a process-wide cache (main thread only, no lock); a package whose header
// or directory does not fit in the file, or with a name longer than
// maxNameLength, is refused and not cached.
class Pack : public FolderInterface, public Coding
{
public:
    class File;

    // Entry names are inner paths; longer ones are refused before anything is
    // allocated for them.
    static constexpr uint32_t maxNameLength = 8191;

    // write is accepted for the callers' sake: packages are only ever read.
    explicit Pack(const String& packagePath, uint32_t write = 0);
    ~Pack() override;

    // The entry whose name equals innerPath exactly (case-sensitive), or null.
    const PackEntry* findEntry(const String& innerPath) const;
    // A stream on the entry named innerPath (not open when there is none).
    // The pack must outlive it.
    File* openEntry(const String& innerPath);

    PackDirectory* directory() const { return directory_; }

    // Appends a parsed directory to the cache, which then owns it.
    static void registerOpen(PackDirectory* directory);
    // Destroys every cached directory (shutdown, and tests).
    static void releaseCache();
    static PackDirectory* findCached(const String& packagePath);

private:
    bool readDirectory(PackDirectory& directory);
    bool readDecoded(void* buffer, uint32_t n);

    ::File* stream_ = nullptr;
    PackDirectory* directory_ = nullptr;
};

// A read-only stream on one package entry. Reads stop at the entry's end and
// pass every byte back through the substitution. Seeking from the end goes to
// size - 1 - offset; a seek never leaves the entry.
class Pack::File : public FileInterface
{
public:
    File(Pack* pack, const String& innerPath);
    ~File() override;

    uint32_t read(void* buffer, uint32_t n) override;
    uint32_t write(const void*, uint32_t) override { return readOnlyResult; }
    uint32_t seek(int32_t offset, uint32_t origin) override;
    uint32_t tell() override;
    uint32_t size() override { return entrySize_; }
    // Deletes the pack when this stream owns it.
    uint32_t close() override;

    bool ownsPack = false;

private:
    void releasePack();

    Pack* pack_ = nullptr;
    uint32_t entryOffset_ = 0;
    uint32_t entrySize_ = 0;
};

// Splits "package.pack:inner" at its first ".pack:" into the package path
// (up to and including ".pack") and the inner path. Without ".pack:" the
// package path is the whole path and the inner path is empty.
void splitPackPath(const String& path, String& packagePath, String& innerPath);
