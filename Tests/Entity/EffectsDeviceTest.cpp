// Sprites and particle systems on the real device of the test window: the
// swap chain's frame draws them, the pixels are read back. The tests share
// one device and run in the order written.
#include "../Render/TestDevice.h"

#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"

#include "Core/Timer.h"

#include <d3dx9.h>

#include <cmath>
#include <cstdlib>
#include <string>

using namespace TestDevice;

namespace {

constexpr uint32_t clearColour = 0x102030;

struct Area
{
    vec3d low, high; // world corners at z 0
    uint32_t colour; // RGB inside
};

class Effects : public DeviceSuite
{
protected:
    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        lookAlongZ(chain(), {0.0f, 0.0f, -10.0f});
    }

    void SetUp() override
    {
        white = makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFFFFFFFFu; });
        gDirectGraphics.record.mirrored = 0;
        gFrameFactor.store(1.0f);
    }

    // One frame of the swap chain, read back before it is presented; with
    // KORVANTA_SCREENSHOTS naming a folder, a named frame is kept there too.
    static Level frame(const char* name = nullptr)
    {
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000 | clearColour, 1.0f, 0);
        c.render(false);
        Level pixels = readSurface(c.targets[0].surface);
        const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
        if (folder && name) {
            const std::string path = std::string(folder) + "/" + name + ".png";
            D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, c.targets[0].surface, nullptr, nullptr);
        }
        c.present();
        return pixels;
    }

    // Pixels well inside a rectangle that are not its colour, and pixels
    // well outside every rectangle that are not the clear colour.
    static int wrongPixels(const Level& pixels, const std::vector<Area>& rectangles)
    {
        if (pixels.texels.empty())
            return -1;
        int wrong = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                const uint32_t* inside = nullptr;
                bool close = false;
                for (const Area& r : rectangles) {
                    const vec2d a = screenPoint(chain(), r.low), b = screenPoint(chain(), r.high);
                    const float left = std::min(a.x, b.x), right = std::max(a.x, b.x);
                    const float top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
                    if (x > left + 2 && x < right - 2 && y > top + 2 && y < bottom - 2)
                        inside = &r.colour;
                    close = close || (x > left - 2 && x < right + 2 && y > top - 2 && y < bottom + 2);
                }
                const uint32_t t = pixels.at(x, y) & 0xFFFFFF;
                if (inside)
                    wrong += !similar(t, *inside);
                else if (!close)
                    wrong += t != clearColour;
            }
        return wrong;
    }

    static bool similar(uint32_t a, uint32_t b)
    {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 3)
                return false;
        return true;
    }

    TextureRef white;
};

// A sprite's set that counts its calls and stays with its owner.
class CountingSettings final : public SpriteManager::Shader
{
public:
    void apply() override { ++applied; }
    void restore() override { ++restored; }
    bool ownedBySprite() override { return false; }
    int applied = 0, restored = 0;
};

matrix3d placed(float scale, const vec3d& at)
{
    matrix3d m = matrix3d::identity();
    m.at(0, 0) = m.at(1, 1) = m.at(2, 2) = scale;
    m.setRow(3, at);
    return m;
}

TEST_F(Effects, SpritesDrawWhereTheyArePlacedWithTheirSettings)
{
    // Left half red (alpha 0x40), right half blue.
    const TextureRef halves =
        makeTexture(128, 4, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t) { return x < 64 ? 0x40FF0000u : 0xFF0000FFu; });
    SpriteManager::Sprite sprite;
    ASSERT_TRUE(SpriteManager::createSprite(sprite, chain(), nullptr, String(), 1));
    ASSERT_NE(sprite.settings, nullptr) << "a sprite without a set gets one of its own";
    EXPECT_TRUE(sprite.settings->ownedBySprite());
    sprite.textures[0] = halves;
    sprite.world = placed(4.0f, {0.0f, 0.0f, 0.0f});
    auto& settings = static_cast<SpriteManager::Rendersettings&>(*sprite.settings);

    struct Case
    {
        const char* name;
        std::function<void()> set;
        std::vector<Area> expected;
    };
    const Area red{{-2, -2, 0}, {0, 2, 0}, 0xFF0000}, blue{{0, -2, 0}, {2, 2, 0}, 0x0000FF};
    const Case cases[] = {
        {"as placed", [] {}, {red, blue}},
        {"moved", [&] { sprite.world = placed(2.0f, {2.0f, 1.0f, 0.0f}); },
         {{{1, 0, 0}, {2, 2, 0}, 0xFF0000}, {{2, 0, 0}, {3, 2, 0}, 0x0000FF}}},
        {"texture turned half round its middle", [&] { sprite.textureRotation[0] = 180.0f; },
         {{red.low, red.high, 0x0000FF}, {blue.low, blue.high, 0xFF0000}}},
        {"tinted by the texture factor", [&] { settings.textureFactor = Color(0, 255, 255, 255); },
         {{red.low, red.high, 0x000000}, blue}},
        {"alpha-tested against its reference",
         [&] {
             settings.alphaTest = 1;
             settings.alphaReference = 0x80;
         },
         {blue}},
        {"hidden", [&] { sprite.hidden = 1; }, {}},
        {"hidden in reflections, drawn in the frame", [&] { sprite.hiddenInReflections = 1; }, {red, blue}},
        {"hidden in reflections, while mirrored",
         [&] {
             sprite.hiddenInReflections = 1;
             gDirectGraphics.record.mirrored = 1;
         },
         {}},
    };
    for (const Case& c : cases) {
        sprite.world = placed(4.0f, {});
        sprite.textureRotation[0] = 0.0f;
        settings.textureFactor = Color(255, 255, 255, 255);
        settings.alphaTest = 0;
        settings.alphaReference = 127;
        sprite.hidden = sprite.hiddenInReflections = 0;
        gDirectGraphics.record.mirrored = 0;
        c.set();
        gDirectGraphics.record.primitiveCount = 0;
        EXPECT_EQ(wrongPixels(frame(), c.expected), 0) << c.name;
        EXPECT_EQ(gDirectGraphics.record.primitiveCount, c.expected.empty() ? 0u : 2u) << c.name;
    }
    gDirectGraphics.record.mirrored = 0;

    // A set the owner keeps is used and left alive with the sprite's end.
    CountingSettings kept;
    {
        SpriteManager::Sprite owned;
        SpriteManager::createSprite(owned, chain(), &kept, String(), 1);
        owned.textures[0] = white;
        owned.world = placed(1.0f, {-3.0f, 0.0f, 0.0f});
        EXPECT_EQ(chain().sprites->sprites.count(), 2);
        frame();
        owned.renderSingle();
    }
    EXPECT_EQ(kept.applied, 2);
    EXPECT_EQ(kept.restored, 2);
    EXPECT_EQ(chain().sprites->sprites.count(), 1) << "a deleted sprite leaves the list";

    // A manager that goes first (device release) lets go of its sprites.
    auto* manager = new SpriteManager;
    SpriteManager::Sprite late;
    late.node = manager->sprites.append(&late);
    delete manager;
    EXPECT_EQ(late.node, nullptr);
}

// A set of the owner's that tints by a texture factor of its own and
// leaves it behind.
class RedSettings final : public SpriteManager::Shader
{
public:
    void apply() override
    {
        gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFF0000);
        gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    }
    void restore() override { gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE); }
    bool ownedBySprite() override { return false; }
};

// Sprites one after another in a pass each draw with their own states,
// whatever the sprite before set and whichever kind of set it used.
TEST_F(Effects, EachSpriteOfAPassGetsItsOwnStates)
{
    RedSettings red;
    constexpr int count = 5;
    SpriteManager::Sprite sprites[count];
    const float across[count] = {-3.6f, -1.8f, 0.0f, 1.8f, 3.6f};
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(SpriteManager::createSprite(sprites[i], chain(), i == 1 ? &red : nullptr, String(), 1));
        sprites[i].textures[0] = white;
        sprites[i].world = placed(1.4f, {across[i], 0.0f, 0.0f});
    }
    const auto settings = [&](int i) -> SpriteManager::Rendersettings& {
        return static_cast<SpriteManager::Rendersettings&>(*sprites[i].settings);
    };
    // Cyan, the owner's red, cyan again, then an alpha-tested yellow and a
    // faint cyan that only an alpha test left on would hide.
    settings(0).textureFactor = Color(0, 255, 255, 255);
    settings(2).textureFactor = Color(0, 255, 255, 255);
    settings(3).alphaTest = 1;
    settings(3).alphaReference = 0x80;
    settings(3).textureFactor = Color(255, 255, 0, 0x40);
    settings(4).textureFactor = Color(0, 255, 255, 0x40);
    const auto at = [&](int i, uint32_t colour) {
        return Area{{across[i] - 0.7f, -0.7f, 0.0f}, {across[i] + 0.7f, 0.7f, 0.0f}, colour};
    };
    EXPECT_EQ(wrongPixels(frame(), {at(0, 0x00FFFF), at(1, 0xFF0000), at(2, 0x00FFFF), at(4, 0x00FFFF)}), 0);
    settings(3).textureFactor = Color(255, 255, 0, 255);
    EXPECT_EQ(wrongPixels(frame("sprites-of-one-pass"), {at(0, 0x00FFFF), at(1, 0xFF0000), at(2, 0x00FFFF), at(3, 0xFFFF00),
                                    at(4, 0x00FFFF)}),
              0);

    // After the pass every state is set again: a sprite drawn alone finds
    // the texture factor changed behind the pass's back and sets its own.
    D3D::Device::SwapChain& c = *chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000 | clearColour, 1.0f, 0);
    gDevice->BeginScene();
    gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFF0000);
    sprites[4].renderSingle();
    gDevice->EndScene();
    const Level alone = readSurface(c.targets[0].surface);
    c.present();
    EXPECT_EQ(wrongPixels(alone, {at(4, 0x00FFFF)}), 0);
}

// Shows every particle and keeps it.
uint32_t show(Particle& particle)
{
    particle.hidden = 0;
    return 1;
}

uint32_t drop(Particle&)
{
    return 0;
}

// A system that tells when it is deleted.
class WatchedSystem final : public ParticleSystem
{
public:
    WatchedSystem(Callback callback, const TextureRef& texture, int count, bool deleteWhenEmpty, bool* deleted)
        : ParticleSystem(callback, D3DBLEND_SRCALPHA, chain(), texture, count, D3DBLEND_INVSRCALPHA, 1, true, false,
                         deleteWhenEmpty),
          deleted_(deleted)
    {
    }
    ~WatchedSystem() override { *deleted_ = true; }

private:
    static D3D::Device::SwapChain& chain() { return *gDirectGraphics.record.firstSwapChain(); }
    bool* deleted_;
};

TEST_F(Effects, ParticlesAreWholeQuadsThatMoveAndAgeOncePerFrame)
{
    bool deleted = false;
    auto* system = new WatchedSystem(show, white, 3, false, &deleted);
    const vec3d at[3] = {{-3.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {3.0f, -1.0f, 0.0f}};
    const uint32_t colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
    int k = 0;
    for (auto* node = system->particles.head(); node; node = node->next, ++k) {
        Particle& p = *node->item;
        p.position = at[k];
        p.colour = Color(uint8_t(colours[k] >> 16), uint8_t(colours[k] >> 8), uint8_t(colours[k]), 255);
        p.width = 0.5f;
        p.height = 0.75f;
        p.velocity = {0.0f, k == 1 ? 0.25f : 0.0f, 0.0f};
        p.frozen = k == 2;
    }
    EXPECT_EQ(wrongPixels(frame(), {}), 0) << "a new system is stopped";
    system->stopped = 0;
    gFrameFactor.store(2.0f);
    gDirectGraphics.record.primitiveCount = 0;
    const Level first = frame("particles");
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, 6u);
    // Each quad spans twice its width and height about its position (the
    // middle one has moved on by velocity x frame factor).
    std::vector<Area> expected;
    for (int i = 0; i < 3; ++i) {
        const vec3d p = at[i] + vec3d(0.0f, i == 1 ? 0.5f : 0.0f, 0.0f);
        expected.push_back({p - vec3d(0.5f, 0.75f, 0.0f), p + vec3d(0.5f, 0.75f, 0.0f), colours[i]});
    }
    EXPECT_EQ(wrongPixels(first, expected), 0);
    k = 0;
    for (auto* node = system->particles.head(); node; node = node->next, ++k) {
        EXPECT_EQ(node->item->age, k == 2 ? 0.0f : 2.0f) << "a frozen particle neither ages";
        EXPECT_EQ(node->item->position.y, at[k].y + (k == 1 ? 0.5f : 0.0f)) << "nor moves";
    }

    // Whatever an earlier pass left in stage 0 (the casters leave the
    // texture factor as the first alpha argument), particles take their
    // alpha from their texture.
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0x00FFFFFF);
    gFrameFactor.store(0.0f);
    EXPECT_EQ(wrongPixels(frame(), expected), 0) << "alpha from the texture";
    gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFF);

    // Hidden in reflections: neither advanced nor drawn while mirrored.
    system->hiddenInReflections = 1;
    gDirectGraphics.record.mirrored = 1;
    EXPECT_EQ(wrongPixels(frame(), {}), 0);
    EXPECT_EQ(system->particles.head()->item->age, 2.0f);
    gDirectGraphics.record.mirrored = 0;

    // The owner deletes its system; the manager forgets it.
    delete system;
    EXPECT_TRUE(deleted);
    EXPECT_EQ(chain().particles->systems.count(), 0);
}

// An effect whose texture is missing (a cut package) draws nothing, not the
// device's stand-in pattern, while its particles move and age as before.
TEST_F(Effects, ASystemWithoutItsTextureDrawsNothingButLives)
{
    bool deleted = false;
    auto* system = new WatchedSystem(show, TextureRef(), 3, false, &deleted);
    int k = 0;
    for (auto* node = system->particles.head(); node; node = node->next, ++k) {
        node->item->position = {float(k) * 2.0f - 2.0f, 0.0f, 0.0f};
        node->item->width = node->item->height = 0.75f;
        node->item->velocity = {0.0f, 0.25f, 0.0f};
    }
    system->stopped = 0;
    gDirectGraphics.record.primitiveCount = 0;
    EXPECT_EQ(wrongPixels(frame("particles-without-texture"), {}), 0);
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, 0u);
    for (auto* node = system->particles.head(); node; node = node->next) {
        EXPECT_EQ(node->item->age, 1.0f);
        EXPECT_EQ(node->item->position.y, 0.25f);
    }
    delete system;
    EXPECT_TRUE(deleted);
}

TEST_F(Effects, AnEmptiedSystemStopsAndGoesInTheSamePass)
{
    struct Case
    {
        bool deleteWhenEmpty;
    };
    for (const Case c : {Case{true}, Case{false}}) {
        bool deleted = false;
        auto* system = new WatchedSystem(drop, white, 5, c.deleteWhenEmpty, &deleted);
        system->stopped = 0;
        frame();
        EXPECT_EQ(deleted, c.deleteWhenEmpty);
        EXPECT_EQ(chain().particles->systems.count(), 0);
        if (!c.deleteWhenEmpty) {
            EXPECT_EQ(system->stopped, 1u);
            EXPECT_EQ(system->node, nullptr);
            delete system;
        }
    }
}

// Batches of the ring seen from the callback: the batch start and lock of
// the batch each particle joins.
std::vector<std::pair<uint32_t, DWORD>> batchesSeen;
uint32_t watchRing(Particle& particle)
{
    particle.hidden = 0;
    const VertexRing<ParticleVertex>& ring = gDirectGraphics.record.firstSwapChain()->particles->ring;
    const std::pair<uint32_t, DWORD> batch{ring.start, ring.lastLockFlags};
    if (batchesSeen.empty() || batchesSeen.back() != batch)
        batchesSeen.push_back(batch);
    return 1;
}

TEST_F(Effects, TheRingWrapsOverManyBatchesAndComesBackAfterAReset)
{
    // 1,000 quads: batches of 255 quads (a batch stays below 1,024 vertices).
    bool deleted = false;
    auto* system = new WatchedSystem(watchRing, white, 1000, true, &deleted);
    int k = 0;
    for (auto* node = system->particles.head(); node; node = node->next, ++k) {
        node->item->position = {float(k % 40) * 0.2f - 4.0f, float(k / 40) * 0.2f - 2.5f, 0.0f};
        node->item->width = node->item->height = 0.05f;
    }
    system->stopped = 0;
    VertexRing<ParticleVertex>& ring = chain().particles->ring;
    ring.start = 0;
    const DWORD discard = D3DLOCK_DISCARD, append = D3DLOCK_NOOVERWRITE;
    for (int round = 0; round < 2; ++round) {
        batchesSeen.clear();
        gDirectGraphics.record.primitiveCount = 0;
        frame();
        EXPECT_EQ(gDirectGraphics.record.primitiveCount, 2000u);
        const std::vector<std::pair<uint32_t, DWORD>> expected{
            {0, discard}, {1024, append}, {2048, append}, {3072, append}};
        EXPECT_EQ(batchesSeen, expected) << round;
        EXPECT_EQ(ring.start, 0u) << "four batches: the ring wrapped";
    }

    // After a reset the ring is made again and the particles draw.
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    D3D::Device::reset(record, &pp);
    ASSERT_NE(ring.vertexBuffer, nullptr);
    ASSERT_NE(ring.indexBuffer, nullptr);
    gDirectGraphics.record.primitiveCount = 0;
    frame();
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, 2000u);
    delete system;
}

}
