#include "Landscape/SceneTerrain.h"

#include "Landscape/LevelBlock.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"

#include <new>

namespace {

// Bounds of the values that the terrain divides by or scales with; a level
// outside them keeps the previous value rather than building a broken ground.
constexpr float minScale = 0.001f;
constexpr float maxScale = 100000.0f;
constexpr float maxColour = 16.0f;

enum Tag : uint32_t {
    Text1 = 1, Text2, Value3, Value4, Layers, Text6, Text7, FirstRepeat, SecondRepeat, HorizontalScale,
    VerticalScale, LodDistance, LowestLod, HighestLod, ColourOp0, ColourOp1, ColourOp2, ColourOp3, Ambient,
    Diffuse, Barriers
};

int32_t clampLod(int32_t level)
{
    return level < Terrain::finestLod ? Terrain::finestLod : level > Terrain::coarsestLod ? Terrain::coarsestLod : level;
}

}

bool SceneTerrain::Layer::read(FileInterface& stream)
{
    return LevelBlock::read(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: return stream.readValue(first);
        case 2: return stream.readString(text);
        case 3: return stream.readValue(third);
        case 4: return stream.readValue(fourth);
        default: return true;
        }
    });
}

void SceneTerrain::Layer::write(FileInterface& stream) const
{
    stream.writeTag(1);
    stream.writeValue(first);
    stream.writeTag(2);
    stream.writeString(text);
    stream.writeTag(3);
    stream.writeValue(third);
    stream.writeTag(4);
    stream.writeValue(fourth);
    stream.writeTag(0);
}

SceneTerrain::SceneTerrain(Scene* owner, Terrain* ground) : scene(owner), terrain(ground) { setDefaults(); }

void SceneTerrain::setDefaults()
{
    text1 = String(L"");
    text2 = String(L"");
    value3 = 512;
    value4 = 400;
    for (Layer& layer : layers)
        layer = Layer{0, String(L""), 0, 0};
    text6 = String(L"");
    text7 = String(L"");
    firstRepeat = 4;
    secondRepeat = 0.4f;
    horizontalScale = 3.0f;
    verticalScale = 1.75f;
    lodDistance = 4.0f;
    lowestLod = 0;
    highestLod = 5;
    const uint32_t ops[4] = {2, 4, 4, 11};
    for (int i = 0; i < 4; ++i) {
        colourOps[i] = ops[i];
        ambient[i] = i < 3 ? 0.45f : 1.0f;
        diffuse[i] = 1.0f;
    }
    barrierFlag = 0;
}

bool SceneTerrain::read(FileInterface& stream)
{
    return LevelBlock::read(stream, [&](uint32_t tag) {
        switch (tag) {
        case Text1: return stream.readString(text1);
        case Text2: return stream.readString(text2);
        case Value3: return stream.readValue(value3);
        case Value4: return stream.readValue(value4);
        case Layers:
            for (Layer& layer : layers)
                if (!layer.read(stream))
                    return false;
            return true;
        case Text6: return stream.readString(text6);
        case Text7: return stream.readString(text7);
        case FirstRepeat: return LevelBlock::readInRange(stream, firstRepeat, 1, 65536);
        case SecondRepeat: return LevelBlock::readInRange(stream, secondRepeat, minScale, maxScale);
        case HorizontalScale: return LevelBlock::readInRange(stream, horizontalScale, minScale, maxScale);
        case VerticalScale: return LevelBlock::readInRange(stream, verticalScale, minScale, maxScale);
        case LodDistance: return LevelBlock::readInRange(stream, lodDistance, minScale, maxScale);
        case LowestLod: return stream.readValue(lowestLod);
        case HighestLod: return stream.readValue(highestLod);
        case ColourOp0:
        case ColourOp1:
        case ColourOp2:
        case ColourOp3: return LevelBlock::readInRange(stream, colourOps[tag - ColourOp0], uint32_t(D3DTOP_DISABLE), uint32_t(D3DTOP_LERP));
        case Ambient: return LevelBlock::readInRange(stream, ambient, 4, 0.0f, maxColour);
        case Diffuse: return LevelBlock::readInRange(stream, diffuse, 4, 0.0f, maxColour);
        case Barriers: return stream.readValue(barrierFlag);
        default: return true;
        }
    });
}

void SceneTerrain::write(FileInterface& stream) const
{
    stream.writeTag(Text1);
    stream.writeString(text1);
    stream.writeTag(Text2);
    stream.writeString(text2);
    stream.writeTag(Value3);
    stream.writeValue(value3);
    stream.writeTag(Value4);
    stream.writeValue(value4);
    stream.writeTag(Layers);
    for (const Layer& layer : layers)
        layer.write(stream);
    stream.writeTag(Text6);
    stream.writeString(text6);
    stream.writeTag(Text7);
    stream.writeString(text7);
    stream.writeTag(FirstRepeat);
    stream.writeValue(firstRepeat);
    stream.writeTag(SecondRepeat);
    stream.writeValue(secondRepeat);
    stream.writeTag(HorizontalScale);
    stream.writeValue(horizontalScale);
    stream.writeTag(VerticalScale);
    stream.writeValue(verticalScale);
    stream.writeTag(LodDistance);
    stream.writeValue(lodDistance);
    stream.writeTag(LowestLod);
    stream.writeValue(lowestLod);
    stream.writeTag(HighestLod);
    stream.writeValue(highestLod);
    for (uint32_t i = 0; i < 4; ++i) {
        stream.writeTag(ColourOp0 + i);
        stream.writeValue(colourOps[i]);
    }
    stream.writeTag(Ambient);
    stream.write(ambient, sizeof(ambient));
    stream.writeTag(Diffuse);
    stream.write(diffuse, sizeof(diffuse));
    // The flag the barriers give: a level whose barriers could not be made
    // is saved without them.
    stream.writeTag(Barriers);
    stream.writeValue(uint32_t(barriers ? 1 : 0));
    stream.writeTag(0);
}

String SceneTerrain::mapFileName() const { return scene ? scene->baseName() + L".map" : String(L".map"); }

bool SceneTerrain::build()
{
    if (!terrain)
        return false;
    terrain->clear();
    Terrain::Settings settings;
    settings.path = mapFileName();
    settings.lodDistance = lodDistance;
    settings.horizontalScale = horizontalScale;
    settings.verticalScale = verticalScale;
    settings.firstRepeat = float(firstRepeat);
    settings.secondRepeat = secondRepeat;
    for (int i = 0; i < 4; ++i)
        settings.colourOps[i] = colourOps[i];
    const bool whole = terrain->load(scene ? scene->swapChain : nullptr, settings);
    const bool loaded = terrain->isLoaded();
    if (loaded) {
        const int32_t highest = clampLod(highestLod);
        const int32_t lowest = clampLod(lowestLod);
        terrain->highestLod = highest;
        terrain->lowestLod = lowest > highest ? highest : lowest;
    }
    terrain->material.Diffuse.r = diffuse[0];
    terrain->material.Diffuse.g = diffuse[1];
    terrain->material.Diffuse.b = diffuse[2];
    terrain->material.Ambient.r = ambient[0];
    terrain->material.Ambient.g = ambient[1];
    terrain->material.Ambient.b = ambient[2];
    buildBarriers(barrierFlag);
    return whole;
}

void SceneTerrain::buildBarriers(uint32_t flag)
{
    if (!flag) {
        releaseBarriers();
        return;
    }
    if (barriers || !terrain)
        return;
    barriers = new (std::nothrow) EntityManager::CollisionBody;
    if (!barriers)
        return;
    // The walls stand on a spare animated body of the physics, taken between
    // step batches; without the band's buffers or texture they stand all the same.
    EntityManager::PhysicsManager* physics = physicsManager();
    neAnimatedBody* body = nullptr;
    if (physics) {
        physics->waitForStepEnd();
        body = physics->takeAnimatedBody();
    }
    barriers->buildBarriers(terrain->box, 1300.0f, Color(0x29, 0x97, 0xFF, 0x7F), 700.0f, body);
}

EntityManager::PhysicsManager* SceneTerrain::physicsManager() const
{
    return scene && scene->swapChain && scene->swapChain->entities ? scene->swapChain->entities->physicsManager.get()
                                                                   : nullptr;
}

void SceneTerrain::releaseBarriers()
{
    if (!barriers)
        return;
    EntityManager::PhysicsManager* physics = physicsManager();
    if (physics)
        physics->waitForStepEnd();
    neAnimatedBody* body = barriers->animatedBody;
    barriers->releaseBarriers();
    if (physics && body)
        physics->returnAnimatedBody(body);
    delete barriers;
    barriers = nullptr;
}
