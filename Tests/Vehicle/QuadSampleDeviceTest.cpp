// The builder's sample quad package read on the real device of the test
// window: every role finds its mesh by its exact name, the wheel textures
// load as 32 x 32 A8R8G8B8 textures with the file's texels, and a texture
// file the device refuses leaves none; placed in a scene, the colour the race
// paints shows in the drawn quad.
#include "../Render/TestDevice.h"
#include "../Application/AppTestFiles.h"
#include "../Landscape/SceneFrames.h"

#include "Vehicle/BoneSkinning.h"
#include "Vehicle/QuadInstance.h"
#include "Vehicle/QuadPhysics.h"

#include "Application/ControlBindings.h"
#include "Application/UserInput.h"
#include "Entity/Entity.h"
#include "Entity/StoredMesh.h"
#include "Render/D3DDevice.h"

#include "Objects/DynObject.h"
#include "Vehicle/WheelDirt.h"
#include "Objects/Inventory.h"
#include "Physics/PhysicsManager.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "FunctionsRecordWriter.h"
#include "ObjectPackageWriter.h"
#include "QuadSample.h"

#include "Core/FileArray.h"
#include "TextureRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

class QuadSampleDevice : public TestDevice::DeviceSuite
{
};

std::string narrow(const String& text)
{
    std::string s;
    for (int32_t i = 0; i < text.length(); ++i)
        s += char(text.text()[i]);
    return s;
}

// The package of description, built from the writer's bytes.
std::unique_ptr<ObjPkgManager::Package> build(const ObjectPackageWriter::Package& description)
{
    FileArray bytes(4096);
    EXPECT_TRUE(ObjectPackageWriter::write(bytes, description));
    bytes.seek(0, 0);
    auto package = std::make_unique<ObjPkgManager::Package>(nullptr, String(L"Quad.teo"));
    EXPECT_TRUE(package->buildFrom(bytes, nullptr));
    return package;
}

// The builder's sample quad saved into a fresh folder named folderName and
// listed into a scene drawn by chain, unfogged, with the physics thread
// running.
struct QuadScene
{
    QuadScene(const wchar_t* folderName, D3D::Device::SwapChain& chain)
    {
        const std::wstring folder = AppTestFiles::freshFolder(folderName);
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(QuadSample::save(String(folder.c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        scene.swapChain->fogEnabled = 0;
        EXPECT_NE(scene.swapChain->entities->physicsManager, nullptr);
        EXPECT_TRUE(scene.swapChain->entities->physicsManager->start(16));
    }
    ~QuadScene() { scene.release(); }

    // A quad placed at `at`, alive: its object and its vehicle instance
    // (null when either is missing).
    std::pair<DynObject*, QuadPhysics::Instance*> place(const vec3d& at)
    {
        Object* placed =
            scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Quad")), at, 1.0f);
        if (!placed)
            return {};
        placed->instance = placed->createInstance();
        auto* object = dynamic_cast<DynObject*>(placed->instance);
        auto* entry = object && object->functions ? object->functions->find(DynObject::FunctionManager::quadFlag)
                                                   : nullptr;
        return {object, entry ? dynamic_cast<QuadPhysics::Instance*>(entry->instance) : nullptr};
    }

    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

TEST_F(QuadSampleDevice, TheSamplesPartsAndWheelTextures)
{
    auto package = build(QuadSample::package());
    const QuadPhysics* quad = package->functions.quadPhysics;
    ASSERT_NE(quad, nullptr);
    for (int32_t role = 1; role <= QuadPhysics::roleCount; ++role) {
        ASSERT_NE(quad->mesh(role), nullptr) << role;
        EXPECT_EQ(narrow(*quad->mesh(role)->getName()), QuadSample::roleNames[size_t(role - 1)]);
        // Every part wears a texture of the package but the body and the
        // helmet, which the race paints: a part without one would show the
        // device's stand-in checkerboard.
        const bool painted = role == QuadPhysics::body || role == QuadPhysics::helmet;
        EXPECT_EQ(quad->mesh(role)->getTexture()->isBound(), !painted) << role;
    }
    for (const std::string& file : QuadSample::finishFiles())
        EXPECT_NE(package->findFile(String(std::wstring(file.begin(), file.end()).c_str())), nullptr) << file;
    for (int32_t slot = 0; slot < QuadPhysics::soundCount; ++slot)
        EXPECT_NE(quad->sound(slot), nullptr) << slot;
    EXPECT_GT(package->physics.mass, 0.0f);
    // The quad takes pick-ups with a chime.
    ASSERT_NE(package->functions.inventory, nullptr);
    EXPECT_GT(package->functions.inventory->sound.size(), 0u);
    EXPECT_NE(package->functions.inventory->soundRef, nullptr);

    // The finishes: the base colour with a light grain, never brighter than
    // it; a tyre's tread bars, three rows of every eight, much darker.
    const struct
    {
        const char* what;
        int32_t role;
        uint32_t base;
        bool tread;
    } finishes[] = {{"metal", 1, 0x8A8D92u, false}, {"tyre", 3, 0x3A3A3Cu, true}, {"suit", 15, 0x2E4A7Au, false}};
    for (const auto& finish : finishes) {
        SCOPED_TRACE(finish.what);
        const TextureRef* texture = quad->mesh(finish.role)->getTexture();
        ASSERT_TRUE(texture && texture->isBound());
        const TestDevice::Level level = TestDevice::readLevel(*texture);
        ASSERT_EQ(level.texels.size(), size_t(level.width) * level.height);
        double bars = 0.0, rest = 0.0;
        int tooBright = 0;
        for (uint32_t y = 0; y < level.height; ++y)
            for (uint32_t x = 0; x < level.width; ++x) {
                const uint32_t texel = level.at(x, y);
                for (int shift : {0, 8, 16})
                    tooBright += ((texel >> shift) & 0xFFu) > ((finish.base >> shift) & 0xFFu);
                ((y & 7u) < 3u ? bars : rest) += double(texel & 0xFFu);
            }
        EXPECT_EQ(tooBright, 0);
        const double barShare = bars / 3.0 / (rest / 5.0);
        if (finish.tread)
            EXPECT_LT(barShare, 0.6);
        else
            EXPECT_GT(barShare, 0.9);
    }

    for (const TextureRef* texture : {&quad->dustTexture, &quad->dirtTexture}) {
        ASSERT_TRUE(texture->isBound());
        D3DSURFACE_DESC desc{};
        ASSERT_EQ(texture->texture()->texture->GetLevelDesc(0, &desc), D3D_OK);
        EXPECT_EQ(desc.Width, QuadSample::textureSize);
        EXPECT_EQ(desc.Height, QuadSample::textureSize);
        EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
        EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
        EXPECT_EQ(texture->texture()->texture->GetLevelCount(), 1u);
    }
    EXPECT_EQ(narrow(*quad->dustTexture.texture()->name), "TexWheelDust");
    EXPECT_EQ(narrow(*quad->dirtTexture.texture()->name), "TexWheelDirt");
    // Speckles over transparency: some texels clear, some not.
    const TestDevice::Level dust = TestDevice::readLevel(quad->dustTexture);
    ASSERT_EQ(dust.texels.size(), size_t(QuadSample::textureSize * QuadSample::textureSize));
    int clear = 0;
    for (uint32_t texel : dust.texels)
        clear += (texel >> 24) == 0;
    EXPECT_GT(clear, 0);
    EXPECT_LT(clear, int(dust.texels.size()));

    // A dust file that is no image: no texture, the bytes are kept.
    ObjectPackageWriter::Package broken = QuadSample::package();
    broken.functions->quadPhysics->dust = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
    auto refused = build(broken);
    ASSERT_NE(refused->functions.quadPhysics, nullptr);
    EXPECT_FALSE(refused->functions.quadPhysics->dustTexture.isBound());
    EXPECT_EQ(refused->functions.quadPhysics->dustStream.size(), 12u);
    EXPECT_TRUE(refused->functions.quadPhysics->dirtTexture.isBound());

    // A second dust texture cut short: the first goes, none is left.
    FileArray block(4096);
    ASSERT_TRUE(FunctionsRecordWriter::writeQuadPhysics(block, *QuadSample::package().functions->quadPhysics));
    const uint32_t cut[] = {29, 5000, 1, 2};
    block.seek(int32_t(block.size()) - 4, 0); // over the closing tag 0
    block.write(cut, sizeof(cut));
    block.seek(0, 0);
    QuadPhysics twice(&package->functions);
    EXPECT_FALSE(twice.load(block));
    EXPECT_FALSE(twice.dustTexture.isBound());
    EXPECT_TRUE(twice.dirtTexture.isBound());
}

}

namespace {

// The sample quad on an entity showing all its meshes, on the device.
TEST_F(QuadSampleDevice, DirtTexturesColoursAndTheFollowersTextureTransform)
{
    auto package = build(QuadSample::package());
    QuadPhysics& templ = *package->functions.quadPhysics;
    EntityManager entities;
    EntityManager::Entity entity(entities);
    for (auto* node = package->meshes.head(); node; node = node->next)
        entity.addStoredMesh(*node->item, true, true, nullptr, nullptr);
    QuadPhysics::Instance quad(&templ, &entity, 1.0f);
    const auto partOf = [&](int32_t role) -> EntityManager::SubEntity* {
        for (auto* node = entity.subEntities.head(); node; node = node->next)
            if (node->item->mesh().name.sameText(*templ.mesh(role)->getName()))
                return node->item;
        return nullptr;
    };

    // Clear 32 x 32 dirt textures on the wheels and the body, nowhere else.
    const struct
    {
        int32_t role;
        const char* name;
    } dirt[] = {{QuadPhysics::rearWheels, "WheelDirtBehind"},
                {QuadPhysics::frontLeftWheel, "WheelDirtLeft"},
                {QuadPhysics::frontRightWheel, "WheelDirtRight"},
                {QuadPhysics::body, "DirtBody"}};
    for (const auto& d : dirt) {
        const TextureRef& texture = partOf(d.role)->material.textures[DynObject::overlaySlot];
        ASSERT_TRUE(texture.isBound()) << d.name;
        EXPECT_EQ(narrow(*texture.texture()->name), d.name);
        const TestDevice::Level level = TestDevice::readLevel(texture);
        ASSERT_EQ(level.width, 32u);
        ASSERT_EQ(level.height, 32u);
        for (uint32_t texel : level.texels)
            ASSERT_EQ(texel, 0u) << d.name;
    }
    EXPECT_FALSE(partOf(QuadPhysics::handlebar)->material.textures[DynObject::overlaySlot].isBound());

    // Colours: a grey upper half, the colour's bytes below.
    quad.setColors(0x00112233u);
    const struct
    {
        int32_t role;
        uint32_t upper, lower;
    } painted[] = {{QuadPhysics::body, 0x003A3A3Au, 0x3F112233u}, {QuadPhysics::helmet, 0xFFC8C8C8u, 0x49112233u}};
    for (const auto& p : painted) {
        const TestDevice::Level level = TestDevice::readLevel(partOf(p.role)->material.textures[0]);
        ASSERT_EQ(level.texels.size(), 32u * 32u);
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                ASSERT_EQ(level.at(x, y), y < 16 ? p.upper : p.lower) << p.role << " " << x << "," << y;
    }

    // Only the rear follower's texture scrolls with the rear wheels.
    quad.wheels[QuadPhysics::Wheel::rearAxle].spinAngle = 50.0f;
    D3DMATRIX still{};
    still._11 = still._22 = still._33 = still._44 = 1.0f;
    gDevice->SetTransform(D3DTS_TEXTURE0, &still);
    Shader states;
    quad.setShaderConstants(*partOf(QuadPhysics::body), states);
    D3DMATRIX got{};
    gDevice->GetTransform(D3DTS_TEXTURE0, &got);
    EXPECT_EQ(got._31, 0.0f);
    quad.setShaderConstants(*partOf(QuadPhysics::rearFollower), states);
    gDevice->GetTransform(D3DTS_TEXTURE0, &got);
    EXPECT_FLOAT_EQ(got._31, 0.5f);
    EXPECT_EQ(got._11, 1.0f);
    EXPECT_EQ(got._32, 0.0f);
    gDevice->SetTransform(D3DTS_TEXTURE0, &still);
}

}

namespace {

// The sample quad placed in a scene on the test window's chain, seen from its
// left side: its painted body and helmet show the colour the race gives it.
TEST_F(QuadSampleDevice, ThePaintedColourShowsInTheDrawnQuad)
{
    QuadScene sample(L"quadcolours", chain());
    Scene& scene = sample.scene;
    const auto [object, quad] = sample.place({0.0f, 0.0f, 0.0f});
    ASSERT_NE(object, nullptr);
    ASSERT_NE(quad, nullptr);
    ASSERT_NE(quad->bodyParts[2], nullptr);
    ASSERT_NE(quad->bodyParts[4], nullptr);

    // From the left, level with the body, the whole quad in view.
    const vec3d centre = object->world.row(3) + vec3d(0.0f, 0.9f, 0.0f);
    SceneFrames::look(chain(), centre + vec3d(-3.5f, 0.0f, 0.0f), -90.0f, 0.0f);

    // Pixels whose colour is plainly that hue: the channel of want well above
    // the other two.
    const auto count = [](const TestDevice::Level& pixels, int channel) {
        int n = 0;
        for (uint32_t c : pixels.texels) {
            const int rgb[3] = {int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)};
            const int others = std::max(rgb[(channel + 1) % 3], rgb[(channel + 2) % 3]);
            n += rgb[channel] > 40 && rgb[channel] > 2 * others + 10;
        }
        return n;
    };
    const uint32_t grey = 0xFF404040u;
    const struct
    {
        uint32_t colour; // as the race passes it: its three low bytes in memory order b, g, r
        int channel;     // 0 red, 1 green, 2 blue on the screen
    } paints[] = {{0x000000FFu, 2}, {0x0000FF00u, 1}, {0x00FF0000u, 0}};
    // The frames differ only by the paint (the unpainted sample parts show
    // the device's stand-in pattern of red and blue): each colour's pixels
    // under its own paint outnumber those under the other two paints by the
    // painted area.
    int counts[3][3] = {};
    for (int p = 0; p < 3; ++p) {
        quad->setColors(paints[p].colour);
        const TestDevice::Level pixels = SceneFrames::draw(scene, chain(), nullptr, grey);
        for (int channel = 0; channel < 3; ++channel)
            counts[p][channel] = count(pixels, channel);
    }
    for (int p = 0; p < 3; ++p)
        for (int other = 0; other < 3; ++other)
            if (other != p) {
                EXPECT_GT(counts[p][paints[p].channel], counts[other][paints[p].channel] + 300)
                    << std::hex << paints[p].colour << " against " << paints[other].colour;
            }
}

// Soiled wheels and a soiled body show their dirt in the drawn quad; a quad
// that another's wheels wetted shows darker. Frames are kept as
// Landscape-QuadSampleDevice-TheDirtShowsOnTheDrawnQuad-<n>.png.
TEST_F(QuadSampleDevice, TheDirtShowsOnTheDrawnQuad)
{
    QuadScene sample(L"quaddirt", chain());
    Scene& scene = sample.scene;
    // Two quads side by side, seen from the left: the first soiled, the
    // second wetted by the first one's wheels.
    QuadPhysics::Instance* quads[2] = {};
    DynObject* objects[2] = {};
    for (int i = 0; i < 2; ++i) {
        std::tie(objects[i], quads[i]) = sample.place({0.0f, 0.0f, i == 0 ? -1.4f : 1.4f});
        ASSERT_NE(objects[i], nullptr);
        ASSERT_NE(quads[i], nullptr);
        quads[i]->setColors(0x00808080u);
    }
    const vec3d between = (objects[0]->world.row(3) + objects[1]->world.row(3)) * 0.5f;
    SceneFrames::look(chain(), between + vec3d(-6.0f, 0.9f, 0.0f), -90.0f, 0.0f);
    const uint32_t sky = 0xFF404040u;

    // Pixels plainly green, and the summed brightness of the second quad's
    // half of the picture.
    const auto green = [](const TestDevice::Level& pixels) {
        int n = 0;
        for (uint32_t c : pixels.texels) {
            const int r = int(c >> 16 & 0xFF), g = int(c >> 8 & 0xFF), b = int(c & 0xFF);
            n += g > 40 && g > 2 * std::max(r, b) + 10;
        }
        return n;
    };
    const auto secondBrightness = [&](const TestDevice::Level& pixels) {
        const bool left = SceneFrames::pixelOf(chain(), objects[1]->world.row(3), pixels).x < LONG(pixels.width / 2);
        int64_t sum = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = left ? 0 : pixels.width / 2; x < (left ? pixels.width / 2 : pixels.width); ++x) {
                const uint32_t c = pixels.at(x, y);
                if ((c & 0xFFFFFFu) != (sky & 0xFFFFFFu))
                    sum += int64_t(c >> 16 & 0xFF) + int64_t(c >> 8 & 0xFF) + int64_t(c & 0xFF);
            }
        return sum;
    };
    const TestDevice::Level clean = SceneFrames::draw(scene, chain(), nullptr, sky);
    const TestDevice::Level again = SceneFrames::draw(scene, chain(), nullptr, sky);
    EXPECT_LT(std::abs(green(again) - green(clean)), 20) << "two clean frames alike";

    // Green mud on every wheel, as the wheels soil themselves, and on the
    // body's dirt texture.
    std::srand(7601);
    WheelDirt& dirt = quads[0]->wheelDirt;
    for (WheelDirt::Track& track : dirt.tracks) {
        track.colour[0] = track.colour[2] = 0.0f;
        track.colour[1] = 1.0f;
        track.rate = 1.0f;
        for (int i = 0; i < 60; ++i)
            dirt.soilWheel(track);
    }
    dirt.uploadSoiling(true);
    EntityManager::SubEntity* body = quads[0]->bodyParts[QuadPhysics::body - QuadPhysics::handlebar];
    ASSERT_NE(body, nullptr);
    TextureRef& bodyDirt = body->material.textures[DynObject::overlaySlot];
    ASSERT_TRUE(bodyDirt.isBound());
    const uint8_t mud[4] = {0x00, 0xFF, 0x00, 0xA0};
    Texture::fillRect(bodyDirt, -1, -1, -1, -1, mud, 0, false, true);
    body->recordStateBlocks();
    const TestDevice::Level soiled = SceneFrames::draw(scene, chain(), nullptr, sky);
    EXPECT_GT(green(soiled), green(clean) + 300) << "the mud shows on the wheels and the body";
    // The wheels alone: the body clean again.
    const uint8_t none[4] = {};
    Texture::fillRect(bodyDirt, -1, -1, -1, -1, none, 0, false, true);
    body->recordStateBlocks();
    const TestDevice::Level wheels = SceneFrames::draw(scene, chain(), nullptr, sky);
    EXPECT_GT(green(wheels), green(clean) + 100) << "the mud shows on the wheels";
    EXPECT_LT(green(wheels), green(soiled) - 100) << "and on the body";

    // The first quad's front wheel sprays the second until the second's body
    // is wet: the second quad darkens.
    const int64_t dry = secondBrightness(wheels);
    EntityManager::SubEntity* secondBody = quads[1]->bodyParts[QuadPhysics::body - QuadPhysics::handlebar];
    ASSERT_NE(secondBody, nullptr);
    const TextureRef& secondDirt = secondBody->material.textures[DynObject::overlaySlot];
    WheelDirt::Track& spraying = dirt.tracks[0];
    const vec3d saved = spraying.contact->synced.centre;
    spraying.contact->synced.centre = objects[1]->worldBounds.center;
    int tries = 0;
    while (TestDevice::readLevel(secondDirt).texels[0] == 0u && tries++ < 400) {
        spraying.nextSoilTime = 0;
        dirt.wetNearbyObject(spraying, &chain());
    }
    spraying.contact->synced.centre = saved;
    ASSERT_LT(tries, 400) << "a ray meets the second quad's body";
    const TestDevice::Level wet = SceneFrames::draw(scene, chain(), nullptr, sky);
    EXPECT_LT(secondBrightness(wet), dry * 97 / 100) << "the wet quad is darker";
}

}

namespace {

std::vector<EntityManager::MeshVertex> bufferOf(EntityManager::StoredMesh& mesh)
{
    std::vector<EntityManager::MeshVertex> out(mesh.vertexCount);
    void* data = nullptr;
    if (mesh.vertexBuffer && SUCCEEDED(mesh.vertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)) && data)
        std::memcpy(out.data(), data, out.size() * sizeof(EntityManager::MeshVertex));
    if (mesh.vertexBuffer)
        mesh.vertexBuffer->Unlock();
    return out;
}

bool same(const EntityManager::MeshVertex& a, const EntityManager::MeshVertex& b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

// The sample rider skinned into its own drawn buffer: vertex by vertex what
// its bones make of the rest vertices; damaged counts write nothing.
TEST_F(QuadSampleDevice, TheRiderIsSkinnedIntoItsOwnBuffer)
{
    auto package = build(QuadSample::package());
    ObjPkgManager::Mesh& rider = *package->functions.quadPhysics->mesh(QuadPhysics::driver);
    BoneAnim& skeleton = *rider.getBoneAnim();
    ASSERT_TRUE(skeleton.hasBones());
    EntityManager entities;
    EntityManager::Entity one(entities), two(entities);
    EntityManager::SubEntity* first = one.addStoredMesh(rider, true, true, nullptr, nullptr);
    EntityManager::SubEntity* second = two.addStoredMesh(rider, true, true, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(&first->mesh(), &second->mesh()) << "each rider is drawn from its own buffer";
    EntityManager::StoredMesh& drawn = first->mesh();
    const int32_t count = *rider.getVertexCount();
    ASSERT_EQ(drawn.vertexCount, uint32_t(count));

    // Leaning left, by hand: each listed vertex through its bone's matrix.
    skeleton.applyFrame(*skeleton.findAnimation(String(L"LeanLeft"))->frame(0));
    // One bone lists nothing this time: its vertices keep their rest data.
    Bone& head = *skeleton.getBoneByIndex(8);
    const int32_t headVertices = head.vertexCount;
    head.vertexCount = 0;
    std::vector<EntityManager::MeshVertex> want(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        const VertexComponents& v = *rider.getVertexData(i);
        want[size_t(i)] = {*v.position, *v.normal, *v.uv};
    }
    for (int32_t b = 0; b < skeleton.boneCount; ++b)
        skeleton.getBoneByIndex(b)->forEachVertex(count, [&](uint16_t index, const matrix3d& m) {
            const VertexComponents& v = *rider.getVertexData(index);
            EntityManager::MeshVertex& out = want[index];
            const vec3d p = *v.position, n = *v.normal;
            out.position = {p.x * m.m[0] + p.y * m.m[4] + p.z * m.m[8] + m.m[12],
                            p.x * m.m[1] + p.y * m.m[5] + p.z * m.m[9] + m.m[13],
                            p.x * m.m[2] + p.y * m.m[6] + p.z * m.m[10] + m.m[14]};
            out.normal = {n.x * m.m[0] + n.y * m.m[4] + n.z * m.m[8], n.x * m.m[1] + n.y * m.m[5] + n.z * m.m[9],
                          n.x * m.m[2] + n.y * m.m[6] + n.z * m.m[10]};
        });
    const std::vector<EntityManager::MeshVertex> before = bufferOf(drawn);
    skinVerticesByBone(drawn, rider);
    const std::vector<EntityManager::MeshVertex> skinned = bufferOf(drawn);
    int moved = 0;
    for (int32_t i = 0; i < count; ++i) {
        const EntityManager::MeshVertex &got = skinned[size_t(i)], &w = want[size_t(i)];
        ASSERT_NEAR((got.position - w.position).length(), 0.0f, 1e-5f) << i;
        ASSERT_NEAR((got.normal - w.normal).length(), 0.0f, 1e-5f) << i;
        ASSERT_EQ(got.uv.x, w.uv.x) << i;
        ASSERT_EQ(got.uv.y, w.uv.y) << i;
        moved += !same(got, before[size_t(i)]);
    }
    EXPECT_GT(moved, 0);
    head.vertexCount = headVertices;

    // A vertex count that differs from the buffer's: nothing is written.
    skeleton.applyFrame(*skeleton.findAnimation(String(L"Stand"))->frame(0));
    *rider.getVertexCount() = count - 1;
    skinVerticesByBone(drawn, rider);
    *rider.getVertexCount() = count;
    const std::vector<EntityManager::MeshVertex> kept = bufferOf(drawn);
    for (int32_t i = 0; i < count; ++i)
        ASSERT_TRUE(same(kept[size_t(i)], skinned[size_t(i)])) << i;

    // Thrown past 10 units, every vertex is written and counted as a warning;
    // exactly 10 is no warning.
    EXPECT_FALSE(MeshSkinning::outOfRange({10.0f, -10.0f, 0.0f}));
    EXPECT_TRUE(MeshSkinning::outOfRange({10.001f, 0.0f, 0.0f}));
    EXPECT_TRUE(MeshSkinning::outOfRange({0.0f, 0.0f, -10.001f}));
    BoneAnim::Frame thrown = *skeleton.findAnimation(String(L"Stand"))->frame(0);
    thrown.header[11] = 50.0f;
    skeleton.applyFrame(thrown);
    const uint32_t warnings = MeshSkinning::outOfRangeCount();
    skinVerticesByBone(drawn, rider);
    EXPECT_EQ(MeshSkinning::outOfRangeCount() - warnings, uint32_t(count));
    EXPECT_GT(bufferOf(drawn)[0].position.x, 10.0f);
    skeleton.applyFrame(*skeleton.findAnimation(String(L"Stand"))->frame(0));
}

}

namespace {

// The sample rider's bone lists damaged many times over (fixed seed):
// indices past the vertex count, odd flags, counts past the lists, thrown
// poses. The skinning walk never writes past the vertices it has, and
// skinning into the drawn buffer goes on without harm.
TEST_F(QuadSampleDevice, DamagedBoneListsNeverWritePastTheRider)
{
    auto package = build(QuadSample::package());
    ObjPkgManager::Mesh& rider = *package->functions.quadPhysics->mesh(QuadPhysics::driver);
    BoneAnim& skeleton = *rider.getBoneAnim();
    ASSERT_TRUE(skeleton.hasBones());
    EntityManager entities;
    EntityManager::Entity entity(entities);
    EntityManager::SubEntity* drawn = entity.addStoredMesh(rider, true, true, nullptr, nullptr);
    ASSERT_NE(drawn, nullptr);
    const int32_t count = *rider.getVertexCount();
    const wchar_t* poses[] = {L"Stand", L"Sit", L"LeanLeft", L"LeanRight"};
    std::mt19937 random(49);
    constexpr size_t guard = 16;
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        // Keep every list as it was, then damage a few.
        std::vector<std::vector<Bone::Vertex>> kept(size_t(skeleton.boneCount));
        std::vector<int32_t> keptCounts(size_t(skeleton.boneCount));
        for (int32_t b = 0; b < skeleton.boneCount; ++b) {
            Bone& bone = *skeleton.getBoneByIndex(b);
            for (int32_t k = 0; k < bone.vertices.count(); ++k)
                kept[size_t(b)].push_back(*bone.vertices.at(k));
            keptCounts[size_t(b)] = bone.vertexCount;
        }
        for (int damage = 0; damage < 4; ++damage) {
            Bone& bone = *skeleton.getBoneByIndex(int32_t(random() % uint32_t(skeleton.boneCount)));
            for (int32_t k = 0; k < bone.vertices.count(); ++k)
                if (random() % 3 == 0) {
                    Bone::Vertex& v = *bone.vertices.at(k);
                    v.index = uint16_t(random() % 2 ? random() % uint32_t(2 * count) : random() % 65536);
                    v.joint = uint8_t(random() % 4 == 0 ? random() % 256 : 0);
                }
            if (random() % 3 == 0)
                bone.vertexCount = int32_t(random() % uint32_t(bone.vertices.count() + 8)) - 2;
        }
        BoneAnim::Frame frame = *skeleton.findAnimation(String(poses[random() % 4]))->frame(0);
        if (random() % 4 == 0)
            frame.header[11 + random() % 3] = float(int32_t(random() % 200) - 100);
        skeleton.applyFrame(frame);

        const EntityManager::MeshVertex marker{{7.0f, 7.0f, 7.0f}, {7.0f, 7.0f, 7.0f}, {7.0f, 7.0f}};
        std::vector<EntityManager::MeshVertex> out(size_t(count) + guard, marker);
        rider.packVertices(out.data());
        for (size_t g = size_t(count); g < out.size(); ++g)
            ASSERT_TRUE(same(out[g], marker)) << g;
        skinVerticesByBone(drawn->mesh(), rider);

        for (int32_t b = 0; b < skeleton.boneCount; ++b) {
            Bone& bone = *skeleton.getBoneByIndex(b);
            for (int32_t k = 0; k < bone.vertices.count(); ++k)
                *bone.vertices.at(k) = kept[size_t(b)][size_t(k)];
            bone.vertexCount = keptCounts[size_t(b)];
        }
    }
    skeleton.applyFrame(*skeleton.findAnimation(String(L"Stand"))->frame(0));
    // Restored, the walk writes every vertex the bones list.
    std::vector<EntityManager::MeshVertex> whole(static_cast<size_t>(count));
    rider.packVertices(whole.data());
    EXPECT_GT(whole[0].position.lengthSq(), 0.0f);
}

// Riders short of what the quad fetches: a skeleton of the pelvis and legs
// alone (no arms, no bone 3) and one without "Stand" and "LeanLeft". The
// quad poses what there is, leaves the rest, and draws.
TEST_F(QuadSampleDevice, ARiderShortOfBonesOrAnimationsIsPosedAsFarAsItGoes)
{
    UserInput input;
    Control control(input);
    for (const bool fewBones : {true, false}) {
        SCOPED_TRACE(fewBones ? "pelvis and legs" : "two animations missing");
        ObjectPackageWriter::Package description = QuadSample::package();
        MeshWriter::Record& record = description.meshes[size_t(QuadPhysics::driver - 1)].body;
        MeshWriter::Skeleton& skeleton = record.skeleton;
        if (fewBones) {
            // The spine and all it carries go; the frames keep three bones.
            std::vector<MeshWriter::Skeleton::Bone>& children = skeleton.roots[0].children;
            children.erase(std::remove_if(children.begin(), children.end(),
                                          [](const MeshWriter::Skeleton::Bone& b) { return !b.children.empty(); }),
                           children.end());
            for (MeshWriter::Skeleton::Animation& animation : skeleton.animations)
                for (MeshWriter::Skeleton::Frame& frame : animation.frames)
                    frame.rotations.resize(3);
        } else {
            std::erase_if(skeleton.animations, [](const MeshWriter::Skeleton::Animation& a) {
                return a.name == "Stand" || a.name == "LeanLeft";
            });
        }
        auto package = build(description);
        QuadPhysics& templ = *package->functions.quadPhysics;
        ASSERT_NE(templ.mesh(QuadPhysics::driver), nullptr);
        EntityManager entities;
        EntityManager::Entity entity(entities);
        for (auto* node = package->meshes.head(); node; node = node->next)
            entity.addStoredMesh(*node->item, true, true, nullptr, nullptr);
        QuadPhysics::Instance quad(&templ, &entity, 1.0f);
        ASSERT_NE(quad.driverSkeleton, nullptr);
        EXPECT_EQ(quad.leftArm.enabled && quad.rightArm.enabled, !fewBones);
        EXPECT_EQ(quad.driverBone3 != nullptr, !fewBones);
        const matrix3d helmetBefore = quad.bodyParts[4]->local;
        const auto helmetMoved = [&] {
            return std::memcmp(quad.bodyParts[4]->local.m, helmetBefore.m, sizeof(helmetBefore.m)) != 0;
        };
        quad.controls = &control;
        quad.frozen = 1;
        quad.velocity = {0.0f, 0.0f, 30.0f};
        for (QuadPhysics::Wheel& wheel : quad.wheels)
            wheel.grounded = 1;
        for (const float steer : {1.0f, -1.0f, 0.0f}) {
            quad.steer = steer;
            quad.prepareRender();
        }
        if (fewBones) {
            EXPECT_FALSE(helmetMoved()) << "no bone 3: the helmet is not carried";
        } else {
            // Steering left at speed without "LeanLeft": "LeanRight" passes on.
            quad.steer = -1.0f;
            quad.prepareRender();
            const BoneAnim::Frame& right = *quad.driverSkeleton->findAnimation(String(L"LeanRight"))->frame(0);
            for (int32_t b = 0; b < quad.driverSkeleton->boneCount; ++b) {
                const quaternion &a = quad.poseFrame.rotations[b], &w = right.rotations[b];
                EXPECT_NEAR(std::fabs(a.x * w.x + a.y * w.y + a.z * w.z + a.w * w.w), 1.0f, 1e-5f) << b;
            }
            EXPECT_TRUE(helmetMoved()) << "the helmet rides on bone 3";
        }
    }
}

// Two sample quads side by side in a scene, seen from behind: driven at speed
// with the steering full right and full left.
struct TwoRiders
{
    explicit TwoRiders(D3D::Device::SwapChain& chain) : chain(chain)
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"quadriders");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        if (!QuadSample::save(String(folder.c_str())))
            return;
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.fogEnabled = 0;
        if (!chain.entities->physicsManager || !chain.entities->physicsManager->start(16))
            return;
        for (int i = 0; i < 2; ++i) {
            Object* placed = scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Quad")),
                                                               vec3d(i == 0 ? -0.9f : 0.9f, 0.0f, 0.0f), 1.0f);
            if (!placed)
                return;
            placed->instance = placed->createInstance();
            auto* object = dynamic_cast<DynObject*>(placed->instance);
            auto* entry = object && object->functions ? object->functions->find(DynObject::FunctionManager::quadFlag)
                                                      : nullptr;
            quads[i] = entry ? dynamic_cast<QuadPhysics::Instance*>(entry->instance) : nullptr;
            if (!quads[i])
                return;
            // Held where it stands, moving at speed as far as the rider knows.
            quads[i]->setFrozen(1);
            controls[i].joystickSet.axes[0] = &inputs[i]->state.keyAxisX;
            quads[i]->velocity = {0.0f, 0.0f, 30.0f};
            for (QuadPhysics::Wheel& wheel : quads[i]->wheels)
                wheel.grounded = 1;
        }
        ready = true;
    }
    ~TwoRiders() { scene.release(); }

    // The frame's pixels with the quads at steer (left quad) and -steer, and
    // the same frame without the riders.
    std::pair<TestDevice::Level, TestDevice::Level> draw(float steer)
    {
        // The drawing poses each quad (prepareRender) before it is drawn;
        // the frame's update keeps each steering where its axis stands.
        quads[0]->steer = steer;
        quads[1]->steer = -steer;
        quads[0]->controls = &controls[0];
        quads[1]->controls = &controls[1];
        inputs[0]->state.keyAxisX = steer;
        inputs[1]->state.keyAxisX = -steer;
        // The rider's skinned body alone: the helmet, carried by its bone
        // whatever the skinning does, stays out of both frames.
        const auto show = [&](uint32_t rider, uint32_t helmet) {
            for (QuadPhysics::Instance* quad : quads) {
                quad->bodyParts[3]->hidden = rider ? 0 : 1;
                quad->bodyParts[4]->hidden = quad->bodyParts[5]->hidden = helmet ? 0 : 1;
            }
        };
        show(0, 0);
        TestDevice::Level bare = SceneFrames::draw(scene, chain, nullptr, 0xFF404040u);
        show(1, 0);
        TestDevice::Level shown = SceneFrames::draw(scene, chain, nullptr, 0xFF404040u);
        show(1, 1);
        return {std::move(shown), std::move(bare)};
    }

    D3D::Device::SwapChain& chain;
    Scene scene{String(L"KorvantaTests"), 3500.0f};
    std::unique_ptr<UserInput> inputs[2] = {std::make_unique<UserInput>(), std::make_unique<UserInput>()};
    Control controls[2] = {Control{*inputs[0]}, Control{*inputs[1]}};
    QuadPhysics::Instance* quads[2] = {};
    bool ready = false;
};

// How far the rider's top leans sideways on the screen in each half of
// the frame: the mean column of the rider's pixels (where the frame differs
// from the one without riders) in the top quarter of their rows, less the
// mean column of all of them. Positive leans to the screen's right.
struct Lean
{
    float by[2] = {};
    int pixels[2] = {};
};

Lean leanOf(const TestDevice::Level& shown, const TestDevice::Level& bare)
{
    Lean lean;
    for (int half = 0; half < 2; ++half) {
        const uint32_t from = half * shown.width / 2, to = from + shown.width / 2;
        uint32_t top = shown.height, bottom = 0;
        double columns = 0.0;
        int count = 0;
        for (uint32_t y = 0; y < shown.height; ++y)
            for (uint32_t x = from; x < to; ++x)
                if (shown.at(x, y) != bare.at(x, y)) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                    columns += x;
                    ++count;
                }
        lean.pixels[half] = count;
        if (count == 0)
            continue;
        const uint32_t quarter = top + (bottom - top) / 4;
        double upper = 0.0;
        int upperCount = 0;
        for (uint32_t y = top; y <= quarter; ++y)
            for (uint32_t x = from; x < to; ++x)
                if (shown.at(x, y) != bare.at(x, y)) {
                    upper += x;
                    ++upperCount;
                }
        lean.by[half] = float(upper / std::max(upperCount, 1) - columns / count);
    }
    return lean;
}

// Steering full right and full left the two riders lean to opposite sides,
// each to the side it steers (one skeleton poses both, each rider keeps its
// own buffer); after a device reset they still draw posed.
TEST_F(QuadSampleDevice, TwoRidersLeanIntoTheirTurnsAndStayPosedAfterAReset)
{
    TwoRiders riders(chain());
    ASSERT_TRUE(riders.ready);
    // From behind and above, both quads in view.
    SceneFrames::look(chain(), vec3d(0.0f, 2.1f, -2.4f), 0.0f, -15.0f);

    const auto expectLeaning = [](const Lean& lean, float steer, const char* what) {
        for (int half = 0; half < 2; ++half) {
            EXPECT_GT(lean.pixels[half], 200) << what << ": the rider shows";
            // The left quad steers by steer, the right one the other way;
            // x runs to the right, as the screen does from behind.
            const float side = half == 0 ? steer : -steer;
            EXPECT_GT(lean.by[half] * side, 1.0f) << what << " half " << half << " leans " << lean.by[half];
        }
    };
    auto [right, bareRight] = riders.draw(1.0f);
    const Lean leaningRight = leanOf(right, bareRight);
    expectLeaning(leaningRight, 1.0f, "left quad steering right");
    auto [left, bareLeft] = riders.draw(-1.0f);
    expectLeaning(leanOf(left, bareLeft), -1.0f, "left quad steering left");

    // After a reset the riders' own buffers still draw posed (the frame's
    // drawing poses each rider before it is drawn).
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_NE(gDevice, nullptr);
    auto [again, bareAgain] = riders.draw(1.0f);
    const Lean kept = leanOf(again, bareAgain);
    for (int half = 0; half < 2; ++half)
        EXPECT_NEAR(kept.by[half], leaningRight.by[half], 1.0f) << "after the reset, half " << half;
    expectLeaning(leanOf(again, bareAgain), 1.0f, "posed again after the reset");
}

}
