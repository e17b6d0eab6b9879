#pragma once

#include "Entity/CollisionBody.h"

#include "Core/String.h"

#include <cstdint>

class FileInterface;
class Scene;
class Terrain;

// The scene's record of the terrain settings: the terrain block of the level
// file. build loads the global terrain from the level's ".map" file with these
// settings and hands it the level-of-detail limits and the material colours.
// The texts, the integers of tags 3 and 4 and the layer records travel with
// the level unchanged; nothing here gives them a meaning. Main thread only.
class SceneTerrain
{
public:
    // The four values of a layer block (tags 1 to 4).
    struct Layer
    {
        uint32_t first = 0;
        String text;
        uint32_t third = 0;
        uint32_t fourth = 0;

        bool read(FileInterface& stream);
        void write(FileInterface& stream) const;
    };
    static constexpr int layerCount = 5;

    SceneTerrain(Scene* owner, Terrain* ground);
    ~SceneTerrain() { releaseBarriers(); }
    SceneTerrain(const SceneTerrain&) = delete;
    SceneTerrain& operator=(const SceneTerrain&) = delete;

    // The values of a new scene.
    void setDefaults();
    // The terrain block up to its tag 0; a value out of range keeps the
    // field's current value. False when the data ends inside the block.
    bool read(FileInterface& stream);
    void write(FileInterface& stream) const;

    // The scene's base name followed by ".map".
    String mapFileName() const;
    // Clears and loads the terrain; when it loaded, the level-of-detail limits
    // (clamped into 0..5, the lowest at most the highest) and the material
    // colours go to it. Returns whether the terrain loaded from the whole
    // ".map" file, to its last byte.
    bool build();
    // With flag set and no barriers yet, builds the collision barriers along
    // the terrain's box, their walls on a spare animated body of the scene's
    // physics (detached without one); with flag clear, releases any there are.
    void buildBarriers(uint32_t flag);
    // Releases and deletes the barriers, their body back to the physics
    // (the scene's clear and destruction, while the device's entity manager lives).
    void releaseBarriers();
    // The physics manager of the scene's device, or null.
    EntityManager::PhysicsManager* physicsManager() const;

    Scene* scene = nullptr;
    Terrain* terrain = nullptr;

    String text1;
    String text2;
    int32_t value3 = 512;
    int32_t value4 = 400;
    Layer layers[layerCount];
    String text6;
    String text7;
    int32_t firstRepeat = 4;     // repeat length of the first overlay texture
    float secondRepeat = 0.4f;   // repeat length of the second overlay texture
    float horizontalScale = 3.0f;
    float verticalScale = 1.75f;
    float lodDistance = 4.0f;
    int32_t lowestLod = 0;
    int32_t highestLod = 5;
    uint32_t colourOps[4] = {2, 4, 4, 11}; // Direct3D texture operations of stages 0 to 3
    float ambient[4] = {0.45f, 0.45f, 0.45f, 1.0f};
    float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    // Non-zero: the level wants collision barriers around the terrain.
    uint32_t barrierFlag = 0;
    // The barriers built from the flag, null when there are none. A level
    // is saved with the flag they give, not the one it was read with.
    EntityManager::CollisionBody* barriers = nullptr;
};
