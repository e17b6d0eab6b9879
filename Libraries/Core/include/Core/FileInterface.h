#pragma once

#include "Core/String.h"

#include <cstdint>
#include <type_traits>

class FileArray;

// Describes one file: the base of every stream and the record of a file in a
// folder listing. folder and fullFolder end in a backslash.
struct FileInfo
{
    String name;
    String shortName;  // the 8.3 name; folder listings only
    String folder;     // folder part of the path as given
    String fullFolder; // folder part of the absolute path
    uint32_t fileSize = 0;
    uint32_t hidden = 0;
    uint32_t system = 0;
};

// The byte stream every file format is read and written through.
// Implementations: File (disk), FileArray (memory), Resource (module
// resource) and Pack::File (an entry of a package).
// Failures never throw: a stream that could not be opened has isOpen false
// and its reads give 0 bytes. Read-only streams answer write with
// readOnlyResult. A stream is used by one thread at a time.
// Streams from openFile have deleteOnClose set: close() releases them and
// must be the last call made on them.
class FileInterface : public FileInfo
{
public:
    static constexpr uint32_t readOnlyResult = 0xFFFFFFFFu;

    bool isOpen = false;
    bool deleteOnClose = false;

    FileInterface() = default;
    FileInterface(const FileInterface&) = delete;
    FileInterface& operator=(const FileInterface&) = delete;
    virtual ~FileInterface() = default;

    virtual uint32_t read(void* buffer, uint32_t n) = 0;
    virtual uint32_t write(const void* buffer, uint32_t n) = 0;
    // origin 0: from the start, 1: from the current position, 2: from the end.
    virtual uint32_t seek(int32_t offset, uint32_t origin) = 0;
    virtual uint32_t tell() = 0;
    virtual uint32_t size() = 0;
    // The whole content when the stream lives in memory, else null.
    virtual uint8_t* memory() { return nullptr; }
    // Releases the content, then deletes the object when deleteOnClose is set.
    // Always returns 0.
    virtual uint32_t close();

    // Bytes between the position and the end; bounds every count read from data.
    uint32_t remaining();

    // A fixed-size value in its in-memory (little-endian) form. readValue
    // leaves value unchanged unless all of its bytes were read.
    template <class T>
    bool readValue(T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        T result{};
        if (read(&result, sizeof(T)) != sizeof(T))
            return false;
        value = result;
        return true;
    }

    template <class T>
    bool writeValue(const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        return write(&value, sizeof(T)) == sizeof(T);
    }

    // Tagged records: (u32 tag, field) pairs ended by tag 0 or the end of the
    // data. readTag is false at either end; a reader skips tags it does not
    // know without reading a field. The second form also tells a record cut
    // inside its tag (cut set) from one that ends where a tag would begin.
    bool readTag(uint32_t& tag);
    bool readTag(uint32_t& tag, bool& cut);
    bool writeTag(uint32_t tag) { return writeValue(tag); }

    // The stored String: u32 count, then count bytes in the ANSI code page.
    // Longer texts are outside the format: writeString refuses them (false)
    // and stores an empty text in their place, so that the fields after it
    // stay readable.
    static constexpr uint32_t maxStoredStringLength = 8191;
    bool writeString(const String& text);
    // Refuses (false, text left empty) a count above maxStoredStringLength or
    // one the stream does not hold. Either way the position moves past the
    // string's bytes (to the end of the data when they are cut), so a reader
    // may go on with the fields after a refused string.
    bool readString(String& text);

    // Sized block: u32 size, then size bytes. copyBlockTo replaces the whole
    // content of target with the next block of source and rewinds target;
    // a size beyond the bytes source holds is refused and leaves target empty.
    static bool copyBlockTo(FileInterface& source, FileArray& target);
    // Writes the whole content of source into target as a sized block.
    static bool writeBlockFrom(FileInterface& target, FileInterface& source);
    // Writes the whole content of source into a new file at path.
    static bool saveToFile(FileInterface& source, const String& path);
    // Writes the whole content of source to path through a temporary file
    // beside it, flushed and then moved over path: a crash or a full disk
    // mid-write leaves the old file as it was. Disk paths only.
    static bool replaceFile(FileInterface& source, const String& path);

protected:
    // The seek rule of streams held in memory: from the end means
    // size - 1 - offset. Returns the new position kept within 0..limit; an
    // unknown origin keeps the position.
    static uint32_t seekInMemory(int32_t offset, uint32_t origin, uint32_t position, uint32_t size, uint32_t limit);
};

// Opens path as a stream: a disk file, or, for "package.pack:inner path", the
// entry of a package. The result is null only when memory runs out; callers
// test isOpen and release it with close(). Readers pass (0, 1, 1), writers
// (1, 1, 0). A package entry is always read-only.
FileInterface* openFile(const String& path, uint32_t write, uint32_t binaryMode, uint32_t readOnly);

// The current working folder without a trailing backslash.
String getCurrentFolder();
// The folder of the program file followed by a backslash.
String getModuleFolder();
