#pragma once
// What the object functions' editing pages share: whole files read into a
// template's bytes, a sound played once, a picture previewed in a page.

#include "Application/DialogTools.h"

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"
#include "Core/String.h"

#include <windows.h>

#include <cstdint>
#include <memory>

namespace EditorPages
{

// The whole file at path into `into`. False, `into` as loadFrom leaves it,
// when the file cannot be opened or read.
bool readWholeFile(const String& path, FileArray& into);

// The sound of ref once as a plain sound, its audio file shared with the
// given buffer counts. Nothing without a reference or a playable file.
void playOnce(const Audio::FileRef* ref, int32_t initialCount, int32_t capacity, int32_t step);

// wav, Ogg or none by the first bytes.
uint32_t soundTypeOf(const FileArray& bytes);

// The picture in image, loaded as a temporary texture named name and copied
// into bitmap (made size x size for picture control `control` on first
// use), set as the control's image. An image that cannot be loaded shows
// the stand-in checkerboard.
void showPreview(HWND dialog, int32_t control, DialogTools::Bitmap& bitmap, FileArray& image, const wchar_t* name,
                 int32_t size);

// The sound chooser of a page: on OK the old reference goes, the chosen
// file is read whole into bytes, and a sound (wav or Ogg by its first
// bytes) gets a new reference named by the file's name; a file that cannot
// be read leaves bytes empty and no reference. Cancelled, nothing changes.
void chooseSound(HWND dialog, FileArray& bytes, std::unique_ptr<Audio::FileRef>& ref);

// Whether message is a WM_COMMAND of control id.
bool isCommand(UINT message, WPARAM wParam, int32_t id);

} // namespace EditorPages
