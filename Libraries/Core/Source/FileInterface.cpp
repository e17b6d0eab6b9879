#include "Core/FileInterface.h"

#include "Core/File.h"
#include "Core/FileArray.h"
#include "Core/Pack.h"

#include <windows.h>

#include <direct.h>

#include <climits>
#include <new>

namespace
{
constexpr uint32_t copyChunk = 65536;

// Copies the next n bytes of source into target, through memory when the
// source lives there. Returns the bytes that reached target.
uint32_t copyBytes(FileInterface& source, FileInterface& target, uint32_t n)
{
    if (uint8_t* bytes = source.memory()) {
        const uint32_t position = source.tell();
        const uint32_t available = position < source.size() ? source.size() - position : 0;
        const uint32_t count = n < available ? n : available;
        const uint32_t written = target.write(bytes + position, count);
        return written == FileInterface::readOnlyResult ? 0 : written;
    }
    uint8_t* chunk = new (std::nothrow) uint8_t[copyChunk];
    if (!chunk)
        return 0;
    uint32_t done = 0;
    while (done < n) {
        const uint32_t want = n - done < copyChunk ? n - done : copyChunk;
        const uint32_t got = source.read(chunk, want);
        if (got == 0 || got == FileInterface::readOnlyResult)
            break;
        const uint32_t written = target.write(chunk, got);
        if (written != got)
            break;
        done += got;
        if (got < want)
            break;
    }
    delete[] chunk;
    return done;
}
}

uint32_t FileInterface::close()
{
    name = String();
    shortName = String();
    folder = String();
    fullFolder = String();
    if (deleteOnClose)
        delete this;
    return 0;
}

uint32_t FileInterface::remaining()
{
    const uint32_t position = tell();
    const uint32_t total = size();
    return position < total ? total - position : 0;
}

bool FileInterface::readTag(uint32_t& tag)
{
    tag = 0;
    return read(&tag, sizeof(tag)) == sizeof(tag) && tag != 0;
}

bool FileInterface::readTag(uint32_t& tag, bool& cut)
{
    tag = 0;
    cut = false;
    if (remaining() == 0)
        return false;
    cut = !readValue(tag);
    return tag != 0;
}

bool FileInterface::writeString(const String& text)
{
    // The count is the number of bytes written, which is the number of
    // characters for every single-byte code page; storing the character count
    // instead would cut or overrun the text under a multi-byte code page.
    NarrowText narrow = text.toNarrow();
    const uint32_t count = narrow.buffer ? narrow.length : 0;
    if (count > maxStoredStringLength) {
        writeValue(uint32_t(0));
        return false;
    }
    if (!writeValue(count))
        return false;
    return count == 0 || write(narrow.buffer, count) == count;
}

bool FileInterface::readString(String& text)
{
    // Every failure leaves an empty text (a one-character buffer with the NUL).
    text = String(L"");
    uint32_t count = 0;
    if (!readValue(count))
        return false;
    const uint32_t left = remaining();
    if (count > left || count > maxStoredStringLength) {
        const uint32_t skipped = count < left ? count : left;
        if (skipped <= uint32_t(INT32_MAX))
            seek(int32_t(skipped), 1);
        return false;
    }
    char scratch[maxStoredStringLength + 1];
    if (read(scratch, count) != count)
        return false;
    if (!text.assignNarrow(int32_t(count), scratch)) {
        text = String(L"");
        return false;
    }
    return true;
}

bool FileInterface::copyBlockTo(FileInterface& source, FileArray& target)
{
    if (!source.isOpen)
        return false;
    uint32_t size = 0;
    if (!source.readValue(size)) {
        target.loadBytes(source, 0);
        return false;
    }
    return target.loadBytes(source, size);
}

bool FileInterface::writeBlockFrom(FileInterface& target, FileInterface& source)
{
    if (!target.isOpen)
        return false;
    source.seek(0, 0);
    const uint32_t size = source.size();
    if (!target.writeValue(size))
        return false;
    return copyBytes(source, target, size) == size;
}

bool FileInterface::saveToFile(FileInterface& source, const String& path)
{
    FileInterface* file = openFile(path, 1, 1, 0);
    if (!file)
        return false;
    bool saved = false;
    if (file->isOpen) {
        source.seek(0, 0);
        const uint32_t size = source.size();
        saved = copyBytes(source, *file, size) == size;
        source.seek(0, 0);
    }
    file->close();
    return saved;
}

bool FileInterface::replaceFile(FileInterface& source, const String& path)
{
    if (path.length() <= 0)
        return false;
    FileArray copy;
    const uint8_t* bytes = source.memory();
    uint32_t size = source.size();
    if (!bytes && size > 0) {
        if (!copy.loadFrom(source))
            return false;
        bytes = copy.memory();
        size = copy.size();
    }
    const String temporary = path + L".tmp";
    HANDLE file = CreateFileW(temporary.text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool complete =
        (size == 0 || (WriteFile(file, bytes, size, &written, nullptr) && written == size)) && FlushFileBuffers(file);
    CloseHandle(file);
    if (complete && MoveFileExW(temporary.text(), path.text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.text());
    return false;
}

FileInterface* openFile(const String& path, uint32_t write, uint32_t binaryMode, uint32_t readOnly)
{
    String packagePath;
    String innerPath;
    splitPackPath(path, packagePath, innerPath);
    FileInterface* result = nullptr;
    if (innerPath.length() == 0) {
        result = new (std::nothrow) File(path, write, binaryMode, readOnly);
    } else {
        Pack* pack = new (std::nothrow) Pack(packagePath, write);
        if (!pack)
            return nullptr;
        if (!pack->isOpen) {
            delete pack;
            result = new (std::nothrow) File(String(L""), 0, 1, 1);
        } else {
            Pack::File* entry = new (std::nothrow) Pack::File(pack, innerPath);
            if (!entry) {
                delete pack;
                return nullptr;
            }
            entry->ownsPack = true;
            result = entry;
        }
    }
    if (result)
        result->deleteOnClose = true;
    return result;
}

String getCurrentFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    if (!_wgetcwd(buffer, MAX_PATH))
        return String(L"");
    return String(buffer);
}

String getModuleFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return String(L"");
    return String(buffer).getFolder().addBackslash();
}

uint32_t FileInterface::seekInMemory(int32_t offset, uint32_t origin, uint32_t position, uint32_t size, uint32_t limit)
{
    int64_t target;
    switch (origin) {
    case 0:
        target = offset;
        break;
    case 1:
        target = int64_t(position) + offset;
        break;
    case 2:
        target = int64_t(size) - 1 - offset;
        break;
    default:
        return position;
    }
    if (target < 0)
        target = 0;
    if (target > int64_t(limit))
        target = limit;
    return uint32_t(target);
}
