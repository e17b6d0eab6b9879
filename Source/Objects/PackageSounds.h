#pragma once
// Sound files stored inside a package (a sized block each): the reference a
// template keeps over the bytes it copied out of the package.

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/String.h"

#include <cstdint>
#include <memory>

namespace PackageSounds {

// The type the file's first bytes give: wav ("RIFF"), Ogg ("OggS"), or none.
uint32_t typeOf(FileArray& bytes);

// Unloads the shared sound file of ref and frees the reference.
void drop(std::unique_ptr<Audio::FileRef>& ref);

// A new reference over bytes named by 10 random characters; null for
// bytes that are neither wav nor Ogg (or when memory ran out).
std::unique_ptr<Audio::FileRef> referTo(FileArray& bytes);

}
