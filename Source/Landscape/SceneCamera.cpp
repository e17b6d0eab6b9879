#include "Landscape/SceneCamera.h"

#include "Landscape/CameraPath.h"
#include "Landscape/FreeCamera.h"
#include "Landscape/HLod.h"
#include "Landscape/LevelBlock.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"

#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <bit>

namespace {

enum Tag : uint32_t { ModeTag = 1, TargetHeight, CurrentHeight, Position, Angles, FogColour, FogAmount };

// Positions and angles beyond this are not a camera a level can mean.
constexpr float maxCoordinate = 1.0e7f;

}

SceneCamera::SceneCamera(Scene* owner) : scene(owner), input(&gUserInput.state) { setDefaults(); }

void SceneCamera::setDefaults()
{
    fogColour = Color(0xCD, 0xF7, 0xFF, 0xFF);
    fogAmount = 0.3f;
    mode = freeMode;
    targetHeight = 100.0f;
    currentHeight = 100.0f;
    position = {};
    turn = 0.0f;
    pitch = 75.0f;
}

bool SceneCamera::read(FileInterface& stream)
{
    return LevelBlock::read(stream, [&](uint32_t tag) {
        switch (tag) {
        case ModeTag: return LevelBlock::readInRange(stream, mode, uint32_t(freeMode), uint32_t(pathMode));
        case TargetHeight: return LevelBlock::readInRange(stream, targetHeight, minHeight, maxHeight);
        case CurrentHeight: return LevelBlock::readInRange(stream, currentHeight, minHeight, maxHeight);
        case Position: return LevelBlock::readInRange(stream, &position.x, 3, -maxCoordinate, maxCoordinate);
        case Angles: {
            float angles[2] = {turn, pitch};
            if (!LevelBlock::readInRange(stream, angles, 2, -maxCoordinate, maxCoordinate))
                return false;
            turn = angles[0];
            pitch = angles[1];
            return true;
        }
        case FogColour: return stream.readValue(fogColour);
        case FogAmount: return LevelBlock::readInRange(stream, fogAmount, 0.0f, 1.0f);
        default: return true;
        }
    });
}

void SceneCamera::write(FileInterface& stream) const
{
    stream.writeTag(ModeTag);
    stream.writeValue(mode);
    stream.writeTag(TargetHeight);
    stream.writeValue(targetHeight);
    stream.writeTag(CurrentHeight);
    stream.writeValue(currentHeight);
    stream.writeTag(Position);
    stream.writeValue(position);
    stream.writeTag(Angles);
    stream.writeValue(turn);
    stream.writeValue(pitch);
    stream.writeTag(FogColour);
    stream.writeValue(fogColour);
    stream.writeTag(FogAmount);
    stream.writeValue(fogAmount);
    stream.writeTag(0);
}

Camera* SceneCamera::deviceCamera() const { return scene ? scene->swapChain : nullptr; }

void SceneCamera::apply()
{
    Camera* camera = deviceCamera();
    if (!camera)
        return;
    camera->position = position;
    camera->angles = {turn, -pitch, 0.0f};
    camera->fieldOfView = 70.0f;
    camera->fogEnabled = 1;
    camera->setLens(fogAmount, fogColour);
    if (gDevice) {
        gDevice->SetRenderState(D3DRS_FOGSTART, std::bit_cast<DWORD>(camera->fogStart));
        gDevice->SetRenderState(D3DRS_FOGEND, std::bit_cast<DWORD>(camera->fogEnd));
        gDevice->SetRenderState(D3DRS_FOGCOLOR, camera->fogColour.argb());
        gDevice->SetRenderState(D3DRS_FOGENABLE, camera->fogEnabled ? TRUE : FALSE);
    }
    camera->apply();
    camera->setAnglesDeg();
    if (scene->swapChain && scene->swapChain->farField)
        scene->swapChain->farField->rerender = 1;
    if (mode == freeMode)
        FreeCamera::update(*this);
    else if (mode == pathMode && path)
        path->updateView(*camera, gFrameFactor.load());
}

void SceneCamera::clampToTerrain(Camera& camera) const
{
    const Terrain* terrain = scene ? scene->terrainLayer.terrain : nullptr;
    if (!terrain || !terrain->isLoaded())
        return;
    const BoundingBox& box = terrain->box;
    constexpr float margin = 100.0f;
    auto keepInside = [](float& value, float low, float high) {
        if (high - low < 2.0f * margin)
            value = (low + high) * 0.5f;
        else if (value < low + margin)
            value = low + margin;
        else if (value > high - margin)
            value = high - margin;
    };
    keepInside(camera.position.x, box.minimum.x, box.maximum.x);
    keepInside(camera.position.z, box.minimum.z, box.maximum.z);
}
