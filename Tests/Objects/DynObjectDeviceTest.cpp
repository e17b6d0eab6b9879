// Dynamic objects drawn on a real device under Wine: the crate where it is
// placed, nothing of a hidden object, an object faded by its alpha, a second
// texture laid over on stage 2, the reflection's texture matrix and the
// shader interface before each draw, and a device reset reaching every
// instance's redraw.
#include "../Landscape/SceneFrames.h"
#include "../Render/TestDevice.h"
#include "DynObjectWorld.h"
#include "ObjectPackageWriter.h"

#include "Application/Korvanta.h"
#include "Entity/SubEntity.h"
#include "Render/DirectGraphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ObjectsTests;

namespace {

constexpr uint32_t clearColour = 0xFF00FF00;

int channel(uint32_t colour, int shift) { return int((colour >> shift) & 0xFF); }

// Pixels of the frame that are not the clear colour.
int drawnPixels(const TestDevice::Level& frame)
{
    int drawn = 0;
    for (uint32_t texel : frame.texels)
        drawn += (texel & 0xFFFFFF) != (clearColour & 0xFFFFFF);
    return drawn;
}

class DynObjectDevice : public TestDevice::DeviceSuite
{
protected:
    void SetUp() override
    {
        gFrameFactor.store(1.0f);
        world = std::make_unique<World>(16, &chain());
        SceneFrames::look(chain(), {0.0f, 1.0f, -12.0f}, 0.0f, 0.0f);
    }
    void TearDown() override { world.reset(); }

    TestDevice::Level frame() { return SceneFrames::draw(world->scene, chain(), nullptr, clearColour); }
    POINT pixelAt(const DynObject& object, const TestDevice::Level& level)
    {
        return SceneFrames::pixelOf(chain(), object.worldBounds.center, level);
    }

    // The screen rectangle that the corners of box cover.
    RECT screenRectangle(const BoundingBox& box, const TestDevice::Level& level)
    {
        RECT r{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
        for (int corner = 0; corner < 8; ++corner) {
            const vec3d p{corner & 1 ? box.maximum.x : box.minimum.x, corner & 2 ? box.maximum.y : box.minimum.y,
                          corner & 4 ? box.maximum.z : box.minimum.z};
            const POINT q = SceneFrames::pixelOf(chain(), p, level);
            r = {std::min(r.left, q.x), std::min(r.top, q.y), std::max(r.right, q.x), std::max(r.bottom, q.y)};
        }
        return r;
    }

    std::unique_ptr<World> world;
};

}

// The crate shows where it is placed and follows a move; hidden, nothing of
// it is drawn.
TEST_F(DynObjectDevice, TheCrateIsDrawnWhereItIsPlacedAndHiddenDrawsNothing)
{
    EXPECT_EQ(drawnPixels(frame()), 0) << "an empty scene";
    DynObject* crate = world->place(L"Crate", {0.0f, 0.0f, 0.0f});
    ASSERT_NE(crate, nullptr);
    ASSERT_NE(crate->physics, nullptr);
    for (const vec3d at : {vec3d{0.0f, 0.0f, 0.0f}, vec3d{5.0f, -1.0f, 3.0f}, vec3d{-4.0f, 2.0f, -2.0f}}) {
        SCOPED_TRACE(std::to_string(at.x) + " " + std::to_string(at.y) + " " + std::to_string(at.z));
        crate->object->setPosition(at, true);
        const TestDevice::Level shown = frame();
        // Every drawn pixel lies inside the screen rectangle of the crate's
        // box where it now stands.
        const RECT box = screenRectangle(crate->worldBounds, shown);
        ASSERT_TRUE(box.left >= 0 && box.right < LONG(shown.width) && box.top >= 0 && box.bottom < LONG(shown.height));
        int inside = 0, outside = 0;
        for (uint32_t y = 0; y < shown.height; ++y)
            for (uint32_t x = 0; x < shown.width; ++x) {
                if ((shown.at(x, y) & 0xFFFFFF) == (clearColour & 0xFFFFFF))
                    continue;
                const bool in = LONG(x) >= box.left - 1 && LONG(x) <= box.right + 1 && LONG(y) >= box.top - 1 &&
                                LONG(y) <= box.bottom + 1;
                ++(in ? inside : outside);
            }
        EXPECT_GT(inside, (box.right - box.left) * (box.bottom - box.top) / 3);
        EXPECT_EQ(outside, 0);
    }
    crate->hidden = 1;
    EXPECT_EQ(drawnPixels(frame()), 0) << "hidden";
}

// setAlpha(0.5) blends the object half over what lies behind it; 1 makes it
// opaque again.
TEST_F(DynObjectDevice, HalfAlphaBlendsTheObjectOverTheBackground)
{
    DynObject* marker = world->place(L"Camera", {0.0f, 0.0f, 0.0f}, 8.0f);
    ASSERT_NE(marker, nullptr);
    const TestDevice::Level opaqueFrame = frame();
    const POINT centre = pixelAt(*marker, opaqueFrame);
    const uint32_t opaque = opaqueFrame.at(centre.x, centre.y);
    ASSERT_NE(opaque, clearColour);
    marker->setAlpha(0.5f);
    const uint32_t half = frame().at(centre.x, centre.y);
    for (int shift : {0, 8, 16})
        EXPECT_NEAR(channel(half, shift), (channel(opaque, shift) + channel(clearColour, shift)) / 2, 12)
            << std::hex << opaque << " over " << clearColour << " gave " << half;
    marker->setAlpha(1.0f);
    EXPECT_EQ(frame().at(centre.x, centre.y), opaque);
}

namespace {

// Notes every call with the texture-1 matrix in force at that moment.
class ShaderRecorder final : public ObjPkgManager::ShaderInterface
{
public:
    void setShaderConstants(EntityManager::SubEntity& sub, Shader& shader) override
    {
        subs.push_back(&sub);
        shaders.push_back(&shader);
        D3DMATRIX m{};
        gDevice->GetTransform(D3DTS_TEXTURE1, &m);
        matrices.push_back(m);
    }
    std::vector<EntityManager::SubEntity*> subs;
    std::vector<Shader*> shaders;
    std::vector<D3DMATRIX> matrices;
};

}

// Before each draw of a sub-entity the texture-1 matrix turns camera space
// into the world (the view's rotation transposed), then the shader
// interface gets the sub-entity and its states; a second texture covers the
// object on stage 2 by its alpha.
TEST_F(DynObjectDevice, EachDrawSetsTheReflectionMatrixAndTheShaderConstantsAndLaysTheSecondTexture)
{
    SceneFrames::look(chain(), {2.0f, 3.0f, -12.0f}, 20.0f, 10.0f);
    DynObject* marker = world->place(L"Camera", {0.0f, 0.0f, 0.0f}, 8.0f);
    ASSERT_NE(marker, nullptr);
    ShaderRecorder recorder;
    marker->shaderInterface = &recorder;
    const TestDevice::Level plain = frame();
    ASSERT_EQ(recorder.subs.size(), 1u);
    EntityManager::SubEntity* sub = marker->subEntities.head()->item;
    EXPECT_EQ(recorder.subs[0], sub);
    EXPECT_EQ(recorder.shaders[0], &sub->material);
    const float* view = chain().view.m;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            const float expected = row < 3 && column < 3 ? view[column * 4 + row] : row == column ? 1.0f : 0.0f;
            EXPECT_NEAR(recorder.matrices[0].m[row][column], expected, 1e-6f) << row << " " << column;
        }

    const POINT centre = pixelAt(*marker, plain);
    const uint32_t before = plain.at(centre.x, centre.y);
    ASSERT_NE(before, clearColour);
    TextureRef& second = sub->material.textures[2];
    ASSERT_TRUE(Texture::create(second, String(L"DynObjectSecond"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    const uint8_t red[4] = {0x00, 0x00, 0xFF, 0xFF};
    Texture::fillRect(second, -1, -1, -1, -1, red, 0, false, true);
    sub->recordStateBlocks();
    const uint32_t covered = frame().at(centre.x, centre.y);
    EXPECT_EQ(covered & 0xFFFFFF, 0xFF0000u) << std::hex << "was " << before;
    second.release();
    sub->recordStateBlocks();
    EXPECT_EQ(frame().at(centre.x, centre.y), before) << "without it as before";
}

// A device reset, as the program runs it, reaches every instance's redraw.
TEST(DynObjectProgram, ADeviceResetReachesEveryInstancesRedraw)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"DynObjectReset";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Reset", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    {
        Korvanta app;
        app.window = window;
        ASSERT_TRUE(gDirectGraphics.init());
        ASSERT_EQ(app.createDevice(), 1u);
        app.scene.swapChain = app.swapChain;
        {
            World world(0, app.swapChain);
            struct Redraws final : ObjectFuncInstInterface
            {
                explicit Redraws(int& count) : count(count) {}
                void redraw() override { ++count; }
                int& count;
            };
            int first = 0, second = 0;
            DynObject* a = world.place(L"Camera", {0.0f, 0.0f, 0.0f});
            DynObject* b = world.place(L"Gate", {20.0f, 0.0f, 0.0f});
            ASSERT_NE(a, nullptr);
            ASSERT_NE(b, nullptr);
            a->functions->add(0x1, new Redraws(first));
            b->functions->add(0x8, new Redraws(second));
            b->functions->add(0x40, new Redraws(second));
            D3D::Device::reset(gDirectGraphics.record, nullptr);
            EXPECT_EQ(first, 1);
            EXPECT_EQ(second, 2);
        }
        app.releaseDevice();
        app.window = nullptr;
    }
    gDirectGraphics.release();
    DestroyWindow(window);
    UnregisterClassW(L"DynObjectReset", GetModuleHandleW(nullptr));
}

namespace {

// A package drawn in the far field: the crate grown to a tower.
ObjectPackageWriter::Package tower()
{
    ObjectPackageWriter::Package p = ObjectPackageSamples::crate();
    p.functions->farField = 1;
    p.meshes.front().scale = 60.0f;
    p.meshes.front().position = {0.0f, 30.0f, 0.0f};
    return p;
}

}

// A far-field package's objects beyond its activation area have no
// instance, yet the far field's picture shows them; its far-field objects
// are hidden and carry no body.
TEST_F(DynObjectDevice, TheFarFieldShowsThePackagesObjectsBeyondTheirArea)
{
    world = std::make_unique<World>(16, &chain(), World::Packages{{L"Tower.teo", tower()}});
    ObjPkgManager::Package* package = world->package(L"Tower");
    ASSERT_NE(package, nullptr);
    ASSERT_EQ(package->farField, 1u);
    for (const Object* farObject : package->farFieldObjects) {
        ASSERT_NE(farObject, nullptr);
        ASSERT_NE(farObject->instance, nullptr);
        EXPECT_EQ(farObject->instance->hidden, 1u);
        EXPECT_EQ(farObject->instance->physics, nullptr);
    }
    HLod& farField = *chain().farField;
    const float beyond = package->visibilityDistance + 300.0f;
    Object* placed = world->scene.objectPackages.createObject(package, {0.0f, 0.0f, beyond}, 1.0f);
    ASSERT_NE(placed, nullptr);
    // The level's objects (none in a file) are handed to the far field.
    world->scene.objectManager.load();
    ASSERT_EQ(farField.objects, &world->scene.objectManager);
    EXPECT_EQ(placed->instance, nullptr) << "beyond its area";

    SceneFrames::look(chain(), {0.0f, 20.0f, 0.0f}, 0.0f, 0.0f);
    farField.rerender = 1;
    frame();
    ASSERT_NE(farField.slots[0], nullptr) << "the panel ahead has a picture";
    const auto drawnTexels = [&] {
        const TestDevice::Level picture = TestDevice::readSurface(farField.slots[0]->surface);
        int drawn = 0;
        for (uint32_t texel : picture.texels)
            drawn += (texel >> 24) != 0;
        return drawn;
    };
    EXPECT_GT(drawnTexels(), 200) << "the tower in the picture";

    // Hidden by its state (no far-field mesh set for it), or moved out of
    // view, it is not in the picture.
    placed->setState(7);
    farField.rerender = 1;
    frame();
    EXPECT_EQ(drawnTexels(), 0) << "state 7";
    placed->setState(0);
    placed->setPosition({0.0f, 0.0f, -beyond}, false);
    farField.rerender = 1;
    frame();
    EXPECT_EQ(drawnTexels(), 0) << "behind the camera";

    world->scene.release();
    EXPECT_EQ(farField.objects, nullptr) << "the far field forgets the released scene";
}
