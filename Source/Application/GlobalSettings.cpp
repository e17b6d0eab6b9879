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
    if (!fileExists(filePath)) {
        save();
        return LoadResult::Missing;
    }

    bool valid = false;
    if (FileInterface* file = openFile(filePath, 0, 1, 1)) {
        if (file->isOpen && file->size() <= maxFileSize) {
            FileArray bytes;
            if (bytes.loadFrom(*file))
                valid = readFrom(bytes);
        }
        file->close();
    }
    if (valid)
        return LoadResult::Read;

    // Keep the player's file for inspection instead of overwriting it; only
    // when it could be moved aside are the defaults written in its place.
    const String aside = filePath + L".bad";
    if (MoveFileExW(filePath.text(), aside.text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        save();
    return LoadResult::Rejected;
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
    if (filePath.length() <= 0)
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
    stream.writeTag(End);
}

bool GlobalSettings::readFrom(FileInterface& stream)
{
    // Read into a copy: a file that turns out broken halfway leaves nothing
    // half-applied.
    GlobalSettings read(*this);
    Control readControls = controls ? *controls : Control();

    char mark[4] = {};
    if (stream.read(mark, sizeof(mark)) != sizeof(mark) || memcmp(mark, versionMark, sizeof(mark)) != 0)
        return false;

    for (;;) {
        uint32_t tag = 0;
        if (!stream.readValue(tag))
            return false; // cut before the closing 0
        bool ok = true;
        switch (tag) {
        case End:
            break;
        case Size:
            ok = stream.readValue(read.width) && stream.readValue(read.height) && read.width > 0 &&
                 read.height > 0 && read.width <= maxDimension && read.height <= maxDimension;
            break;
        case Antialiasing:
            ok = stream.readValue(read.options.antialiasing) && read.options.antialiasing <= maxAntialiasing;
            break;
        case FullScreen:
            ok = stream.readValue(read.options.fullScreen) && read.options.fullScreen <= 1;
            break;
        case Option2:
            ok = stream.readValue(read.options.option2);
            break;
        case Option3:
            ok = stream.readValue(read.options.option3);
            break;
        case ShadowOption:
            ok = stream.readValue(read.options.shadowOption);
            break;
        case ControlBindings:
            ok = readControls.read(stream);
            break;
        case GameRecords:
            // Their readers belong to the input and race code; what was read
            // up to here stands.
            tag = End;
            break;
        case Name:
            ok = stream.readString(read.name);
            break;
        case FourBytes:
            ok = stream.read(read.fourBytes, sizeof(read.fourBytes)) == sizeof(read.fourBytes);
            break;
        default:
            // A tag without a known length: the rest cannot be followed.
            ok = false;
            break;
        }
        if (!ok)
            return false;
        if (tag == End)
            break;
    }

    // The aspect is not stored; a stored resolution other than 4:3 must not
    // keep the default 4:3 aspect.
    read.aspect = float(read.width) / float(read.height);
    *this = read;
    if (controls)
        *controls = readControls;
    return true;
}
