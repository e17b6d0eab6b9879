#include "Application/GlobalSettings.h"

#include "Application/ControlBindings.h"
#include "Application/Korvanta.h"
#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/Language.h"

#include <windows.h>

#include <cstring>

GlobalSettings* gSettings = nullptr;
const wchar_t* const gSettingsFileName = L"gset.dat";

namespace {

constexpr char versionMark[4] = {'v', '1', '.', '0'};

enum Tag : uint32_t {
    End = 0,
    Size = 1,
    Antialiasing = 2,
    FullScreen = 3,
    Option2 = 4,
    Option3 = 5,
    ShadowOption = 6,
    ControlBindings = 7,
    Name = 8,
    FourBytes = 9,
    GameRecords = 10,
};

bool fileExists(const String& path)
{
    return GetFileAttributesW(path.text()) != INVALID_FILE_ATTRIBUTES;
}

// The fields of one game record: tag, first byte, byte count.
struct RecordField
{
    uint32_t tag;
    uint32_t offset;
    uint32_t size;
};
constexpr RecordField recordFields[] = {{1, 0, 2}, {2, 2, 1}, {3, 3, 1}, {4, 4, 1}, {5, 5, 8}};

// One game record; fields read whole are applied. False when cut inside it.
bool readGameRecord(FileInterface& stream, GlobalSettings::GameRecord& record)
{
    bool cut = false;
    uint32_t tag = 0;
    while (stream.readTag(tag, cut)) {
        for (const RecordField& field : recordFields) {
            if (field.tag != tag)
                continue;
            uint8_t read[8];
            if (stream.read(read, field.size) != field.size)
                return false;
            memcpy(record.bytes + field.offset, read, field.size);
        }
    }
    return !cut;
}

} // namespace

GlobalSettings::GlobalSettings(const String& folder)
{
    if (folder.length() > 0)
        filePath = folder + gSettingsFileName;
}

GlobalSettings::LoadResult GlobalSettings::load()
{
    CRASH_TRACE();
    if (filePath.length() <= 0)
        return LoadResult::Missing;
    keepFile_ = false;
    FileInterface* file = fileExists(filePath) ? openFile(filePath, 0, 1, 1) : nullptr;
    if (!file || !file->isOpen) {
        if (file)
            file->close();
        save();
        return LoadResult::Missing;
    }
    // No file of ours comes near the limit; what lies beyond it is not read.
    const uint32_t size = file->size();
    FileArray bytes;
    const bool loaded = bytes.loadBytes(*file, size < maxFileSize ? size : maxFileSize);
    file->close();
    if (loaded && readFrom(bytes) && size <= maxFileSize)
        return LoadResult::Read;

    // Keep the player's file for inspection instead of overwriting it.
    if (moveAside())
        save();
    else
        keepFile_ = true;
    return LoadResult::Damaged;
}

bool GlobalSettings::moveAside() const
{
    for (int number = 0; number < 100; ++number) {
        String aside = filePath + L".bad";
        if (number > 0) {
            String suffix;
            suffix.format(L".%d", number);
            aside = aside + suffix;
        }
        // No replacing: an older copy, a folder or a read-only file of that
        // name stays, and the next name is tried.
        if (MoveFileExW(filePath.text(), aside.text(), MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

void GlobalSettings::save()
{
    CRASH_TRACE();
    writeFile();
    if (gApp && gLanguage)
        gLanguage->saveToRegistry(gApp->registryKey, L"Language");
}

bool GlobalSettings::writeFile() const
{
    if (filePath.length() <= 0 || keepFile_)
        return false;
    FileArray bytes(256);
    writeTo(bytes);
    if (bytes.size() == 0 || !bytes.memory())
        return false;

    const String temporary = filePath + L".tmp";
    HANDLE file = CreateFileW(temporary.text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool complete = WriteFile(file, bytes.memory(), bytes.size(), &written, nullptr) && written == bytes.size() &&
                          FlushFileBuffers(file);
    CloseHandle(file);
    if (complete &&
        MoveFileExW(temporary.text(), filePath.text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.text());
    return false;
}

void GlobalSettings::writeTo(FileInterface& stream) const
{
    stream.write(versionMark, sizeof(versionMark));
    stream.writeTag(Size);
    stream.writeValue(width);
    stream.writeValue(height);
    stream.writeTag(Antialiasing);
    stream.writeValue(options.antialiasing);
    stream.writeTag(FullScreen);
    stream.writeValue(options.fullScreen);
    stream.writeTag(Option2);
    stream.writeValue(options.option2);
    stream.writeTag(Option3);
    stream.writeValue(options.option3);
    stream.writeTag(ShadowOption);
    stream.writeValue(options.shadowOption);
    if (controls) {
        stream.writeTag(ControlBindings);
        controls->write(stream);
    }
    stream.writeTag(Name);
    stream.writeString(name);
    stream.writeTag(FourBytes);
    stream.write(fourBytes, sizeof(fourBytes));
    stream.writeTag(GameRecords);
    for (const GameRecord& record : gameRecords) {
        const uint8_t* bytes = record.bytes;
        for (const RecordField& field : recordFields) {
            stream.writeTag(field.tag);
            stream.write(bytes + field.offset, field.size);
        }
        stream.writeTag(End);
    }
    stream.writeTag(End);
}

bool GlobalSettings::readFrom(FileInterface& stream)
{
    char mark[4] = {};
    if (stream.read(mark, sizeof(mark)) != sizeof(mark))
        return false;

    // A cut ends the reading; what was read before it stays applied.
    bool sound = true;
    bool cut = false;
    uint32_t tag = 0;
    while (!cut && stream.readTag(tag, cut)) {
        switch (tag) {
        case Size: {
            uint32_t w = 0, h = 0;
            if (!stream.readValue(w) || !stream.readValue(h))
                cut = true;
            else if (w > 0 && h > 0 && w <= maxDimension && h <= maxDimension) {
                width = w;
                height = h;
            } else {
                sound = false;
            }
            break;
        }
        case Antialiasing:
        case FullScreen:
        case Option2:
        case Option3:
        case ShadowOption: {
            uint32_t value = 0;
            if (!stream.readValue(value))
                cut = true;
            else if (tag == Antialiasing && value <= maxAntialiasing)
                options.antialiasing = value;
            else if (tag == FullScreen && value <= 1)
                options.fullScreen = value;
            else if (tag == Option2)
                options.option2 = value;
            else if (tag == Option3)
                options.option3 = value;
            else if (tag == ShadowOption)
                options.shadowOption = value;
            else
                sound = false;
            break;
        }
        case ControlBindings: {
            // Without an owner the bindings are read into a throw-away record.
            Control throwAway;
            cut = !(controls ? controls : &throwAway)->read(stream);
            break;
        }
        case Name: {
            // A refused name leaves the stream after its bytes: read on.
            String read;
            if (stream.readString(read))
                name = read;
            else
                sound = false;
            break;
        }
        case FourBytes: {
            uint8_t read[4];
            if (stream.read(read, sizeof(read)) != sizeof(read))
                cut = true;
            else
                memcpy(fourBytes, read, sizeof(read));
            break;
        }
        case GameRecords:
            for (int i = 0; !cut && i < gameRecordCount; ++i)
                cut = !readGameRecord(stream, gameRecords[i]);
            break;
        default:
            // Never written by this program: the file was damaged or made
            // elsewhere. The tag has no field; read on after it.
            sound = false;
            break;
        }
    }

    // The aspect is not stored; a stored resolution other than 4:3 must not
    // keep the default 4:3 aspect.
    aspect = float(width) / float(height);
    return sound && !cut;
}
