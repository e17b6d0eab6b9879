#pragma once
// Helpers shared by the texture routines: texel sizes, level descriptions,
// level locks, row copies and the record creation pattern.

#include <TextureRecord.h>

#include <windows.h>
#include <d3d9.h>

#include <cstddef>
#include <cstdint>

namespace TextureDevice {

// Bytes per texel of a D3DFORMAT value; 0 for formats the texel routines do
// not walk (compressed, palette, depth and the rest).
uint32_t bytesPerTexel(uint32_t format);
// The formats convertPixel converts between.
bool isConvertible(uint32_t format);

// The size an image file's header gives, read before anything of it is
// decoded, for the files whose header tells it: PNG, JPEG, BMP, DDS and TGA;
// the size the decoder will find (a JPEG only when its segments before the
// frame follow one another as the decoder reads them). texelBytes is what a
// texel takes once decoded (4, or a DDS file's wider format). False for any
// other file: it is not to be decoded.
bool imageSize(const uint8_t* bytes, uint32_t size, uint32_t& width, uint32_t& height, uint32_t& texelBytes);

// Description of one level of the record's texture: the cube texture's when
// the record has one, else the 2D texture's. False when there is neither or
// the level does not exist.
bool levelDesc(const Texture* record, uint32_t level, D3DSURFACE_DESC& desc);

// A locked level of a 2D texture (or of one cube face), unlocked on
// destruction. ok() is false when the lock failed.
class LevelLock
{
public:
    LevelLock(IDirect3DTexture9* texture, uint32_t level, DWORD flags = 0);
    LevelLock(IDirect3DCubeTexture9* cube, uint32_t face, uint32_t level, DWORD flags = 0);
    LevelLock(const LevelLock&) = delete;
    LevelLock& operator=(const LevelLock&) = delete;
    ~LevelLock();

    bool ok() const { return bits != nullptr; }
    uint8_t* row(uint32_t y) const { return bits + size_t(y) * size_t(pitch); }

    uint8_t* bits = nullptr;
    int32_t pitch = 0;

private:
    IDirect3DTexture9* texture_ = nullptr;
    IDirect3DCubeTexture9* cube_ = nullptr;
    uint32_t face_ = 0;
    uint32_t level_ = 0;
};

// Copies rows of rowBytes each; both sides advance by their own pitch.
void copyRows(const LevelLock& to, const LevelLock& from, size_t rowBytes, uint32_t rows);
// Copies a width x height block between two texel formats: a row copy when
// they are equal, else a conversion of every texel (both formats convertible).
// False when the formats cannot be converted.
bool copyTexels(uint8_t* to, int32_t toPitch, uint32_t toFormat, const uint8_t* from, int32_t fromPitch,
                uint32_t fromFormat, uint32_t width, uint32_t height);

// The creation pattern: a zeroed record registered in TextureList before any
// Direct3D call; null when memory runs out.
Texture* beginRecord();
// A failed creation, or a record all of whose references must become empty:
// the record is detached, removed from TextureList and destroyed.
void abandonRecord(Texture* record);
// A successful one: the record gets a copy of name and ref is bound to it.
void finishRecord(Texture* record, TextureRef& ref, const String& name);

// Sets texture stage stage to the record's 2D texture, else its cube
// texture; to none while the record is busy. Nothing without a device.
void bindTexture(uint32_t stage, const Texture* record);

// One line in the debugger output for a texture that could not be made.
void logFailure(const wchar_t* what, const String& name, HRESULT result);

}
