#pragma once

#include "Core/String.h"

#include <cstdint>

class Control;
class FileInterface;

// The player's display, graphics and option choices, kept in "gset.dat" in the
// program's application-data folder. Read once at start-up, written whenever a
// setting changes and when the window closes. Main thread only.
//
// The file is a tagged stream: the four bytes "v1.0", then (u32 tag, field)
// pairs, ended by a u32 0:
//   1 width, height (2 x u32)   2 antialiasing   3 full screen   4 option 2
//   5 option 3   6 shadow option   7 control bindings   8 name (stored String)
//   9 four bytes   10 the 32 game records
// The version mark is read and its value ignored. Tags this reader does not
// know carry no field: reading goes on after them. A file that ends where a
// tag would begin is whole; the closing 0 may be missing.
// The aspect is not stored: it follows width and height.
class GlobalSettings
{
public:
    // The eight option words, handed to the menu as one block.
    struct Options
    {
        uint32_t antialiasing = 0; // 0 none, else 1 << value samples
        uint32_t fullScreen = 1;
        uint32_t option2 = 1;
        uint32_t option3 = 0;
        uint32_t option4 = 1;      // not stored
        uint32_t shadowOption = 2; // 0 shadows off; 2 full quality
        uint32_t option6 = 0;      // not stored
        uint32_t option7 = 9;      // not stored
    };
    static_assert(sizeof(Options) == 32, "the menu reads the options as eight u32 words");

    // One of the game's records (the championship progress), kept as the bytes
    // the race logic reads: a tagged run of tag 1 bytes 0-1, tag 2 byte 2,
    // tag 3 byte 3, tag 4 byte 4, tag 5 bytes 5-12, ended by tag 0.
    struct GameRecord
    {
        uint8_t bytes[13] = {};
    };
    static constexpr int gameRecordCount = 32;

    enum class LoadResult {
        Read,    // the file was read whole
        Missing, // no file, or one that cannot be opened: the current values were written
        Damaged, // what could be read was applied; the file was kept aside (see load)
    };

    // The defaults; the file lies in folder (which ends with a backslash).
    explicit GlobalSettings(const String& folder = String());

    // Reads the file. A damaged file (see readFrom) is not overwritten
    // silently: it is moved to the first free name of "gset.dat.bad",
    // "gset.dat.bad.1", ... and the values read are written in its place. When
    // it cannot be moved aside it stays untouched, and writeFile writes nothing
    // for the rest of the run.
    LoadResult load();

    // Writes the file (see writeFile), then the language choice into the
    // registry value "Language" of the program's key.
    void save();

    // Replaces the file through a flushed temporary, so a crash or power loss
    // never leaves a cut or empty "gset.dat". False when it could not be written.
    bool writeFile() const;

    // The stored form. readFrom applies every field it reads whole and within
    // its bounds; fields not read keep their values. It returns false for a
    // damaged stream: one cut inside the mark or a field, a value out of its
    // bounds, a refused name, bindings cut inside a field, or a tag the writer
    // never writes.
    void writeTo(FileInterface& stream) const;
    bool readFrom(FileInterface& stream);

    // 1.0 when the shadow option is 2, else 0.0.
    float shadowFactor() const { return options.shadowOption == 2 ? 1.0f : 0.0f; }

    uint32_t width = 1024;
    uint32_t height = 768;
    float aspect = 1.3333334f;
    Options options;
    String name;
    uint8_t fourBytes[4] = {0x20, 0x09, 0xFF, 0xFF};
    String filePath;
    // The player's control bindings (tag 7), owned by the application; while
    // null, tag 7 is read past and not written.
    Control* controls = nullptr;
    // Tag 10, always written: all free (zero) until the player plays.
    GameRecord gameRecords[gameRecordCount];

    static constexpr uint32_t maxFileSize = 64 * 1024;
    static constexpr uint32_t maxDimension = 16384;
    static constexpr uint32_t maxAntialiasing = 4; // 16 samples, the most a device offers

private:
    // Moves the file to the first free "gset.dat.bad" name. False when none worked.
    bool moveAside() const;

    // Set when a damaged file could not be moved aside: it must not be overwritten.
    bool keepFile_ = false;
};

// The global settings, made by the start-up globals.
extern GlobalSettings* gSettings;
// The settings file's name inside the application-data folder.
extern const wchar_t* const gSettingsFileName;
