#pragma once
// The physical parameters of the objects made from a package, among them
// the mass that a dynamic object's rigid body takes, and up to two sound
// files carried inside the package stream. One per package; main thread
// only.

#include "Objects/ObjPkgManager.h"

#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"

#include <cstdint>

class ObjPkgManager::PhysicsRecord
{
public:
    explicit PhysicsRecord(FileFinder* owner) : package(owner) {}
    ~PhysicsRecord() { release(); }
    PhysicsRecord(const PhysicsRecord&) = delete;
    PhysicsRecord& operator=(const PhysicsRecord&) = delete;

    // Releases the sounds of an earlier reading, then reads the tagged block
    // (tags 1 to 10; later tags carry no field). Tag 8 (10) carries a sound
    // only while noSound1 (noSound2) is 0: a u32 file type (1 wav, 2 ogg)
    // and a sized block of the file's bytes. True when the block ended at its
    // tag 0 or where the data ends between entries; false when a field or a
    // sound is cut. A mass that is not a positive, finite number with a
    // finite reciprocal, and non-finite or huge values, keep what was held.
    bool load(FileInterface& stream);
    // Unloads any sound file made from the two sounds, deletes them and frees
    // their bytes.
    void release();
    // release, then every value back to its default and the sound bytes
    // freed: the record of a package not built.
    void reset();

    FileFinder* package;
    uint32_t value1 = 1;
    float value2 = 0.45f;
    float value3 = 0.05f;
    float value4 = 0.1f;
    float value5 = 0.1f;
    float mass = 0.5f;
    uint32_t noSound1 = 1;
    uint32_t noSound2 = 1;
    uint32_t sound1Option = 0;
    uint32_t sound2Option = 0;
    FileArray sound1Data{4096};
    FileArray sound2Data{4096};
    Audio::FileRef* sound1 = nullptr;
    Audio::FileRef* sound2 = nullptr;

private:
    bool readSound(FileInterface& stream, uint32_t& option, FileArray& data, Audio::FileRef*& sound);
};
