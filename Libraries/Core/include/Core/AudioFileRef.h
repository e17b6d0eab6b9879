#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>

namespace Audio {

// Names a sound for the sound system: the stream that holds its bytes, its
// type (0 none, 1 wav, 2 ogg) and its name, the identity under which the
// sound system loads it once and shares it. Menus, race logic, object
// functions and the vehicle hold these; the resource manager makes them for
// its sound entries. It lives here so that code without the sound system's
// headers can make and hold one.
//
// Ownership: when closeSource is set the reference owns the stream and its
// release closes it (a stream from openFile, or one with deleteOnClose set,
// is deleted by that close). A sound file loaded from a reference reads the
// reference's stream and never closes it: keep the reference until the file
// is unloaded (Audio::AudioFile::unloadByRef or Audio::releaseAll).
class FileRef
{
public:
    static constexpr uint32_t typeNone = 0;
    static constexpr uint32_t typeWav = 1;
    static constexpr uint32_t typeOgg = 2;

    FileRef() = default;
    FileRef(FileInterface* source, uint32_t type, String name, uint32_t closeSource);
    FileRef(const FileRef&) = delete;
    FileRef& operator=(const FileRef&) = delete;
    ~FileRef() { release(); }

    // Fills an empty or released reference; releases what it held before.
    void set(FileInterface* source, uint32_t type, String name, uint32_t closeSource);
    // Closes the source when closeSource is set, frees the name and sets
    // type to 0. The source pointer is cleared, so a second release (or the
    // destructor after one) closes nothing twice. A reference of type 0 that
    // owns its stream closes it too, so no stream is left open.
    void release();

    FileInterface* source = nullptr;
    uint32_t type = typeNone;
    String name;
    uint32_t closeSource = 0;
};

}
