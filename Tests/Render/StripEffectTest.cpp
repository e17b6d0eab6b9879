// Strip-effect groups drawn on the real device: lit quads where their items
// put them, the streaming ring and its batch bound.
#include "TestDevice.h"

#include "Render/StripEffectManager.h"

using namespace TestDevice;

namespace {

// Writes ribbons of two quads (one strip piece: 6 vertices, 4 triangles)
// spanning x0..x0 + 2 x half and y0..y0 + height at z 0, facing -z; as many
// pieces as asked, or until the batch is full.
class Ribbon : public StripEffectItem
{
public:
    Ribbon(float left, float bottom, float halfWidth, float tall, int count = 1)
        : x0(left), y0(bottom), half(halfWidth), height(tall), pieces(count)
    {
    }

    void writeVertices(StripEffectRing& ring) override
    {
        for (int p = 0; p < pieces; ++p) {
            StripVertex* v = ring.reserve(StripEffectRing::pieceVertices, StripEffectRing::pieceTriangles);
            if (!v)
                return;
            for (int i = 0; i < 6; ++i) {
                v[i].position = {x0 + half * float(i / 2), i % 2 ? y0 : y0 + height, 0.0f};
                v[i].normal = {0.0f, 0.0f, -1.0f};
                v[i].u = float(i / 2) * 0.5f;
                v[i].v = float(i % 2);
            }
            ++written;
        }
    }

    float x0, y0, half, height;
    int pieces;
    int written = 0;
};

class StripEffects : public DeviceSuite
{
protected:
    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        lookAlongZ(chain(), {0.0f, 0.0f, -10.0f});
        chain().sun.direction = {0.0f, 0.8f, -0.6f};
    }

    void SetUp() override
    {
        white = makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFFFFFFFFu; });
    }

    // A frame of the swap chain (whose passes draw its groups).
    static Level drawGroups() { return drawFrame(chain(), 0xFF102030); }

    static vec2d screen(const vec3d& p) { return screenPoint(chain(), p); }

    // Texels well inside the image of the world rectangle lo..hi (z 0) that
    // are not lit, and texels well outside every rectangle that are not the
    // clear colour.
    static void expectLitRectangles(const Level& pixels, const std::vector<std::pair<vec3d, vec3d>>& rectangles)
    {
        // White lit by the sun at 0.6 to the normal and its ambient, both
        // times the white material's (the material's ambient is 0.6).
        const uint32_t lit = uint32_t((0.6f * 0.6f + 0.6f) * 255.0f + 0.5f);
        int unlit = 0, stray = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                bool in = false, close = false;
                for (const auto& [lo, hi] : rectangles) {
                    const vec2d a = screen(lo), b = screen(hi);
                    const float left = std::min(a.x, b.x), right = std::max(a.x, b.x);
                    const float top = std::min(a.y, b.y), bottom = std::max(a.y, b.y);
                    in = in || (x > left + 2 && x < right - 2 && y > top + 2 && y < bottom - 2);
                    close = close || (x > left - 2 && x < right + 2 && y > top - 2 && y < bottom + 2);
                }
                const uint32_t t = pixels.at(x, y) & 0xFFFFFF;
                unlit += in && (std::abs(int(t & 0xFF) - int(lit)) > 2 || t != (t & 0xFF) * 0x010101);
                stray += !close && t != 0x102030;
            }
        EXPECT_EQ(unlit, 0);
        EXPECT_EQ(stray, 0);
    }

    TextureRef white;
};

TEST_F(StripEffects, ItemsLandLitWhereTheGroupPutsThem)
{
    Ribbon ribbon(-2.0f, -1.0f, 2.0f, 2.0f);
    Ribbon below(-3.0f, -3.0f, 1.0f, 1.0f);
    StripEffectGroup group;
    // The left half of the texture is too transparent for the alpha test.
    group.texture = makeTexture(64, 4, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t) { return x < 32 ? 0x7FFFFFFFu : ~0u; });
    group.items.append(&ribbon);
    group.items.append(&below);
    group.world.at(3, 0) = 1.0f;
    group.world.at(3, 1) = 0.5f;
    chain().stripEffects->groups.append(&group);

    const uint32_t before = chain().stripEffects->ring.start;
    const Level shown = drawGroups();
    expectLitRectangles(shown, {{{1.0f, -0.5f, 0.0f}, {3.0f, 1.5f, 0.0f}}, {{-1.0f, -2.5f, 0.0f}, {0.0f, -1.5f, 0.0f}}});
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, 8u);
    EXPECT_EQ(chain().stripEffects->ring.start, (before + 1024) % 4096);

    group.hidden = 1;
    const Level hidden = drawGroups();
    expectLitRectangles(hidden, {});
    EXPECT_EQ(ribbon.written, 1);
    EXPECT_EQ(below.written, 1);
    EXPECT_EQ(chain().stripEffects->ring.start, (before + 1024) % 4096);
    chain().stripEffects->groups.clear(false);
}

TEST_F(StripEffects, AfterAResetTheRingStartsAgainAndWrapsAfterFourBatches)
{
    StripEffectRing& ring = chain().stripEffects->ring;
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    ring.advance();
    D3D::Device::reset(record, &pp);
    ASSERT_EQ(record.resetting, 0u);
    ASSERT_NE(ring.vertexBuffer, nullptr);
    Ribbon ribbons[5] = {{-4.5f, -0.5f, 0.5f, 1.0f}, {-2.5f, -0.5f, 0.5f, 1.0f}, {-0.5f, -0.5f, 0.5f, 1.0f},
                         {1.5f, -0.5f, 0.5f, 1.0f}, {3.5f, -0.5f, 0.5f, 1.0f}};
    StripEffectGroup groups[5];
    std::vector<uint32_t> starts;
    std::vector<DWORD> locks;
    for (int i = 0; i < 5; ++i) {
        groups[i].texture = white;
        groups[i].items.append(&ribbons[i]);
        chain().stripEffects->groups.append(&groups[i]);
    }
    // Watch the ring from an item behind each group's ribbon.
    class Watch final : public StripEffectItem
    {
    public:
        Watch(std::vector<uint32_t>& s, std::vector<DWORD>& l) : starts(s), locks(l) {}
        void writeVertices(StripEffectRing& r) override
        {
            starts.push_back(r.start);
            locks.push_back(r.lastLockFlags);
        }
        std::vector<uint32_t>& starts;
        std::vector<DWORD>& locks;
    } watch(starts, locks);
    for (auto& g : groups)
        g.items.append(&watch);

    const Level pixels = drawGroups();
    std::vector<std::pair<vec3d, vec3d>> rectangles;
    for (const Ribbon& r : ribbons)
        rectangles.push_back({{r.x0, r.y0, 0.0f}, {r.x0 + 2.0f * r.half, r.y0 + r.height, 0.0f}});
    expectLitRectangles(pixels, rectangles);
    EXPECT_EQ(starts, (std::vector<uint32_t>{0, 1024, 2048, 3072, 0}));
    const DWORD discard = D3DLOCK_DISCARD, append = D3DLOCK_NOOVERWRITE;
    EXPECT_EQ(locks, (std::vector<DWORD>{discard, append, append, append, discard}));
    EXPECT_EQ(ring.start, 1024u);
    chain().stripEffects->groups.clear(false);
}

// A batch is drawn, and the ring moves on, exactly when it holds a vertex.
TEST_F(StripEffects, EveryBatchHoldingAVertexMovesTheRingOn)
{
    class Vertices final : public StripEffectItem
    {
    public:
        explicit Vertices(uint32_t n) : count(n) {}
        void writeVertices(StripEffectRing& ring) override
        {
            if (StripVertex* v = ring.reserve(count, count / 3))
                for (uint32_t i = 0; i < count; ++i)
                    v[i].position = {float(i), 0.0f, 0.0f};
        }
        uint32_t count;
    };
    StripEffectRing& ring = chain().stripEffects->ring;
    struct Case
    {
        uint32_t vertices;
        uint32_t hidden;
        uint32_t advance;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{1, 0, 1024}, Case{2, 0, 1024}, Case{3, 0, 1024}, Case{3, 1, 0}}) {
        SCOPED_TRACE(c.vertices);
        Vertices item(c.vertices);
        StripEffectGroup group;
        group.texture = white;
        group.hidden = c.hidden;
        group.items.append(&item);
        const uint32_t before = ring.start;
        const uint32_t primitives = gDirectGraphics.record.primitiveCount;
        gDevice->BeginScene();
        group.render(ring);
        gDevice->EndScene();
        EXPECT_EQ(ring.start, (before + c.advance) % StripEffectRing::ringVertices);
        EXPECT_EQ(gDirectGraphics.record.primitiveCount - primitives, c.advance ? c.vertices / 3 : 0);
    }
}

TEST_F(StripEffects, AnOverfullGroupStopsAtTheEndOfItsBatch)
{
    Ribbon greedy(-1.0f, -1.0f, 1.0f, 2.0f, 400);
    Ribbon late(-3.0f, -1.0f, 0.5f, 1.0f);
    StripEffectGroup group;
    group.texture = white;
    group.items.append(&greedy);
    group.items.append(&late);
    chain().stripEffects->groups.append(&group);
    const Level pixels = drawGroups();
    EXPECT_EQ(greedy.written, int(StripEffectRing::batchVertices / StripEffectRing::pieceVertices));
    EXPECT_EQ(late.written, 0);
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, uint32_t(greedy.written) * 4);
    expectLitRectangles(pixels, {{{-1.0f, -1.0f, 0.0f}, {1.0f, 1.0f, 0.0f}}});
    chain().stripEffects->groups.clear(false);

    // Without an open batch nothing can be reserved.
    StripEffectRing& ring = chain().stripEffects->ring;
    EXPECT_EQ(ring.room(), 0u);
    EXPECT_EQ(ring.reserve(1, 0), nullptr);
    ASSERT_TRUE(ring.beginBatch());
    EXPECT_EQ(ring.room(), StripEffectRing::batchVertices);
    EXPECT_NE(ring.reserve(StripEffectRing::batchVertices, 0), nullptr);
    EXPECT_EQ(ring.reserve(1, 0), nullptr);
    EXPECT_EQ(ring.endBatch(), 0u);
}

// The axis-aligned box lo..hi as a volume of six planes.
ConvexVolume boxVolume(const vec3d& lo, const vec3d& hi)
{
    ConvexVolume v;
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side) {
            ConvexVolume::Plane& plane = v.planes[v.count++];
            plane.normal = {};
            plane.normal[axis] = side ? -1.0f : 1.0f;
            plane.point = side ? hi : lo;
            plane.distance = plane.normal.dot(plane.point);
        }
    return v;
}

TEST_F(StripEffects, TheManagerUpdatesEveryItemAndAnswersAndDrawsByVolume)
{
    // An item that counts its updates and occupies a unit cube from origin.
    class Counted final : public Ribbon
    {
    public:
        Counted(float x) : Ribbon(x, 0.0f, 0.5f, 1.0f)
        {
            origin = {x, 0.0f, 0.0f};
            length = 0.5f;
        }
        void update() override { ++updates; }
        int updates = 0;
    };
    Counted left(-3.0f), right(3.0f), hiddenOne(0.0f), distant(40.0f);
    StripEffectGroup groups[3];
    groups[0].items.append(&left);
    groups[0].items.append(&distant);
    groups[1].items.append(&right);
    groups[2].items.append(&hiddenOne);
    groups[2].hidden = 1;
    StripEffectManager& manager = *chain().stripEffects;
    for (auto& g : groups) {
        g.texture = white;
        manager.groups.append(&g);
    }
    EXPECT_EQ(chain().shadowEffects, &manager) << "the shadow maps ask the strip effects";

    manager.update();
    chain().update();
    for (const Counted* item : {&left, &right, &hiddenOne, &distant})
        EXPECT_EQ(item->updates, 2) << "every item, hidden groups' too, once per update";

    const ConvexVolume all = boxVolume({-5, -2, -2}, {5, 2, 2}), middle = boxVolume({-1, -1, -1}, {1, 1, 1}),
                       leftOnly = boxVolume({-4, -1, -1}, {-2, 1, 1}), nowhere = boxVolume({10, 10, 10}, {11, 11, 11});
    EXPECT_TRUE(manager.anyEffectInVolume(all));
    EXPECT_TRUE(manager.anyEffectInVolume(leftOnly));
    EXPECT_FALSE(manager.anyEffectInVolume(middle)) << "the hidden group's item does not count";
    EXPECT_FALSE(manager.anyEffectInVolume(nowhere));

    // Drawn in a volume: every group that is not hidden, only its items inside.
    struct Case
    {
        const char* name;
        const ConvexVolume* volume;
        bool drawn;
        int left, right, hidden, distant;
    };
    const Case cases[] = {
        {"both groups", &all, true, 1, 1, 0, 0},
        {"the first group's item", &leftOnly, true, 1, 0, 0, 0},
        {"none", &middle, false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        for (Counted* item : {&left, &right, &hiddenOne, &distant})
            item->written = 0;
        bool drawn = false;
        client->afterScene = [&] { drawn = manager.drawInVolume(*c.volume); };
        drawGroups();
        client->afterScene = nullptr;
        EXPECT_EQ(drawn, c.drawn) << c.name;
        // The frame's own pass writes every item of a shown group once more.
        EXPECT_EQ(left.written - 1, c.left) << c.name;
        EXPECT_EQ(right.written - 1, c.right) << c.name;
        EXPECT_EQ(distant.written - 1, c.distant) << c.name;
        EXPECT_EQ(hiddenOne.written, c.hidden) << c.name;
    }
    manager.groups.clear(false);

    // The states items are drawn with in a volume (a shadow map's): blended
    // and alpha-tested, unculled, clamped, covered texels left at alpha 0.
    class StateWatch final : public StripEffectItem
    {
    public:
        void writeVertices(StripEffectRing&) override
        {
            const std::pair<D3DRENDERSTATETYPE, DWORD> wanted[] = {
                {D3DRS_ALPHABLENDENABLE, TRUE}, {D3DRS_ALPHATESTENABLE, TRUE},      {D3DRS_ALPHAREF, 128},
                {D3DRS_CULLMODE, D3DCULL_NONE}, {D3DRS_SEPARATEALPHABLENDENABLE, TRUE},
                {D3DRS_SRCBLENDALPHA, D3DBLEND_ZERO}, {D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO}};
            for (const auto& [state, value] : wanted) {
                DWORD actual = ~0u;
                gDevice->GetRenderState(state, &actual);
                wrong += actual != value;
            }
            for (D3DSAMPLERSTATETYPE address : {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV}) {
                DWORD actual = ~0u;
                gDevice->GetSamplerState(0, address, &actual);
                wrong += actual != D3DTADDRESS_CLAMP;
            }
            ++calls;
        }
        int wrong = 0, calls = 0;
    } watch;
    StripEffectGroup watched;
    watched.items.append(&watch);
    manager.groups.append(&watched);
    gDevice->BeginScene();
    manager.drawInVolume(boxVolume({-1, -1, -1}, {1, 1, 1}));
    gDevice->EndScene();
    EXPECT_EQ(watch.calls, 1);
    EXPECT_EQ(watch.wrong, 0);
    manager.groups.clear(false);
}

TEST(StripEffectItemBox, HalfTheLengthAlongTheSecondAxis)
{
    class Still final : public StripEffectItem
    {
        void writeVertices(StripEffectRing&) override {}
    } item;
    item.origin = {1.0f, 2.0f, 3.0f};
    item.axes[0] = {0.0f, 0.0f, 1.0f};
    item.axes[1] = {1.0f, 0.0f, 0.0f};
    item.axes[2] = {0.0f, 1.0f, 0.0f};
    item.length = 4.0f;
    const OrientedBox box = item.box();
    EXPECT_EQ(box.center, vec3d(3.0f, 2.0f, 3.0f));
    EXPECT_EQ(box.halfExtents, vec3d(4.0f, 2.0f, 4.0f));
    EXPECT_EQ(box.axes[1], item.axes[1]);
}

}
