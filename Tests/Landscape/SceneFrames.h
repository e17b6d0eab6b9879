#pragma once
// Frames of the game drawn in the landscape's device tests: the camera put
// somewhere, one frame's updates as the game runs them, and the back buffer
// read before it is presented.
#include "../Render/TestDevice.h"

#include "Landscape/Scene.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <d3dx9.h>

#include <cstdlib>
#include <map>
#include <string>

namespace SceneFrames {

// The camera at position, turned by yaw and pitch (degrees).
inline void look(D3D::Device::SwapChain& chain, const vec3d& position, float yaw, float pitch)
{
    chain.position = position;
    chain.angles = {yaw, pitch, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

// The sun from the clock, then the managers' update.
inline void update(Scene& scene, D3D::Device::SwapChain& chain)
{
    scene.sun.update(gTimer, chain.sun, scene.season, 1.0f, 1.0f);
    chain.update();
}

// When the folder KORVANTA_SCREENSHOTS names is given, keeps what surface
// shows there as "Landscape-<suite>-<test>-<n>.png", n counting the views of
// the test: a run leaves the views its checks looked at.
inline void keep(IDirect3DSurface9* surface)
{
    const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!folder || !*folder || !surface || !test)
        return;
    static std::map<std::string, int> views;
    const std::string name = std::string("Landscape-") + test->test_suite_name() + "-" + test->name();
    const std::string path = std::string(folder) + "/" + name + "-" + std::to_string(++views[name]) + ".png";
    D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, surface, nullptr, nullptr);
}

// One frame over a cleared target; its pixels, and the triangles it drew.
inline TestDevice::Level draw(Scene& scene, D3D::Device::SwapChain& chain, uint32_t* primitives = nullptr,
                              uint32_t clear = 0xFF00FF00)
{
    update(scene, chain);
    chain.beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    chain.render(false);
    if (primitives)
        *primitives = gDirectGraphics.record.primitiveCount;
    TestDevice::Level frame = TestDevice::readSurface(chain.targets[0].surface);
    keep(chain.targets[0].surface);
    chain.present();
    return frame;
}

// Where a world point lands on a frame of chain's camera (pixels).
inline POINT pixelOf(const D3D::Device::SwapChain& chain, const vec3d& p, const TestDevice::Level& frame)
{
    const float* m = chain.viewProjection.m;
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    const float x = (p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12]) / w;
    const float y = (p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13]) / w;
    return {LONG((x + 1.0f) * 0.5f * float(frame.width)), LONG((1.0f - y) * 0.5f * float(frame.height))};
}

}
