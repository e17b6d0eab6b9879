// The quad template: its parameter block and what it holds for the quads.
#include "Vehicle/QuadPhysics.h"

#include "Objects/ObjectPackage.h"
#include "Objects/PackageFields.h"
#include "Objects/PackageMesh.h"

#include "Audio/AudioFile.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"

#include <d3d9.h>

#include <cstring>
#include <new>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

// The stream tag of each role, roles 1 to 17 in order.
constexpr uint32_t roleTags[QuadPhysics::roleCount] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 19, 27, 34, 35, 36};
// The stream tag of each sound slot.
constexpr uint32_t soundTags[QuadPhysics::soundCount] = {20, 21, 22, 23, 24, 25, 26, 30, 33};
// Springs and dampers beyond this are damage: the editor offers 0 to 200.
constexpr float maxParameter = 1.0e6f;

int32_t roleOfTag(uint32_t tag)
{
    for (int32_t i = 0; i < QuadPhysics::roleCount; ++i)
        if (roleTags[i] == tag)
            return i + 1;
    return 0;
}

int32_t slotOfTag(uint32_t tag)
{
    for (int32_t i = 0; i < QuadPhysics::soundCount; ++i)
        if (soundTags[i] == tag)
            return i;
    return -1;
}

}

const wchar_t* const QuadPhysics::soundNames[soundCount] = {
    L"1000RPM", L"1000RPMGas", L"3000RPM", L"3000RPMGas", L"WeelSlide",
    L"WeelRoll", L"SndColl",   L"WaterSpray", L"WheelColl",
};

QuadPhysics::QuadPhysics(Record* owner) : record(owner)
{
    bindSliders();
}

// A sound file is Ogg Vorbis when it starts with the Ogg page mark, else wav.
uint32_t QuadPhysics::soundType(FileArray& bytes)
{
    char mark[4] = {};
    const bool ogg = bytes.size() >= 4 && bytes.read(mark, 4) == 4 && std::memcmp(mark, "OggS", 4) == 0;
    bytes.seek(0, 0);
    return ogg ? Audio::FileRef::typeOgg : Audio::FileRef::typeWav;
}

QuadPhysics::~QuadPhysics()
{
    // The sounds first; the textures are let go after this, then the streams.
    for (int32_t slot = 0; slot < soundCount; ++slot)
        releaseSound(slot);
}

uint32_t QuadPhysics::tagOfRole(int32_t role)
{
    return role >= 1 && role <= roleCount ? roleTags[role - 1] : 0;
}

bool QuadPhysics::load(FileInterface& stream)
{
    CRASH_TRACE();
    using PackageFields::readFloat;
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        if (const int32_t role = roleOfTag(tag))
            return readRole(stream, role);
        if (const int32_t slot = slotOfTag(tag); slot >= 0)
            return readSound(stream, slot);
        switch (tag) {
        case 13: return readFloat(stream, rearSpring, maxParameter);
        case 14: return readFloat(stream, rearDamper, maxParameter);
        case 15: return readFloat(stream, frontSpring, maxParameter);
        case 16: return readFloat(stream, frontDamper, maxParameter);
        case 17: return readFloat(stream, parameter6, maxParameter);
        case 18: return readFloat(stream, parameter3, maxParameter);
        case 28: return PackageFields::readText(stream, dustTexturePath);
        case 29: return readTexture(stream, dustStream, dustTexture, L"TexWheelDust");
        case 31: return PackageFields::readText(stream, dirtTexturePath);
        case 32: return readTexture(stream, dirtStream, dirtTexture, L"TexWheelDirt");
        default: return true; // later tags carry no field
        }
    });
}

bool QuadPhysics::readRole(FileInterface& stream, int32_t role)
{
    // A name over the stored limit is passed over: no part then.
    String name(L"Unassigned");
    if (!PackageFields::readText(stream, name))
        return false;
    Mesh*& found = roleMeshes[role - 1];
    const bool unassigned = name.sameText(L"Unassigned", 10);
    found = unassigned || !record || !record->package ? nullptr : record->package->findMesh(name);
    // The parts the quad moves against their mesh (the rear follower, the
    // body, the rider, his helmet and what he carries with it) get a wrapping
    // texture and the per-part texture transform.
    if (found && role >= rearFollower) {
        found->shader.addressMode = D3DTADDRESS_WRAP;
        found->shader.textureScale = transformedTextureScale;
    }
    return true;
}

void QuadPhysics::releaseSound(int32_t slot)
{
    Audio::FileRef*& sound = sounds[slot];
    if (!sound)
        return;
    // A sound file loaded from the reference reads its stream until unloaded.
    Audio::AudioFile::unloadByRef(*sound);
    sound->release();
    delete sound;
    sound = nullptr;
}

bool QuadPhysics::readSound(FileInterface& stream, int32_t slot)
{
    releaseSound(slot);
    FileArray& bytes = soundStreams[slot];
    if (!FileInterface::copyBlockTo(stream, bytes))
        return false;
    // An empty block names no sound.
    if (bytes.size() == 0)
        return true;
    sounds[slot] = new (std::nothrow) Audio::FileRef(&bytes, soundType(bytes), String(soundNames[slot]), 0);
    return true;
}

bool QuadPhysics::readTexture(FileInterface& stream, FileArray& bytes, TextureRef& texture, const wchar_t* name)
{
    texture.release();
    if (!FileInterface::copyBlockTo(stream, bytes))
        return false;
    constexpr uint32_t fromFile = 0xFFFFFFFFu;
    // A file the device refuses leaves no texture.
    if (bytes.size() == 0 || !Texture::loadFromMemory(bytes, nullptr, texture, String(name), fromFile, fromFile, 1,
                                                      D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, fromFile))
        texture.release();
    return true;
}
