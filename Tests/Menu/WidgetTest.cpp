// The widget list, fades and panel rectangles, on a swap chain that never
// gets a device: the pass still walks the list and runs every draw.
#include "MenuTestSupport.h"

#include "Menu/Panel.h"
#include "Menu/Text.h"

#include "Core/Timer.h"

#include <memory>
#include <string>
#include <vector>

using UserInterface::Panel;

namespace {

// A panel that counts its draws.
class CountedPanel final : public Panel
{
public:
    CountedPanel(D3D::Device::SwapChain* chain, int32_t layer, float opacity = 1.0f, float speed = 0.1f)
        : Panel(chain, layer, opacity, speed)
    {
    }
    void draw() override
    {
        ++draws;
        Panel::draw();
    }
    int draws = 0;
};

std::string order(UserInterface::Root& root, const std::vector<std::unique_ptr<CountedPanel>>& panels)
{
    std::string out;
    for (UserInterface::Widget* w : MenuTest::listed(root))
        for (size_t i = 0; i < panels.size(); ++i)
            if (panels[i].get() == w)
                out += char('A' + i);
    return out;
}

TEST(WidgetList, NewWidgetsGoBehindTheFirstOfTheirLayer)
{
    struct Case
    {
        const char* what;
        std::vector<int> layers; // A, B, C, ... in this order
        std::string order;
    };
    const Case cases[] = {
        {"one layer", {5, 5, 5}, "ACB"},
        {"a lower layer at the head, a higher at the tail", {5, 5, 5, 3, 9}, "DACBE"},
        {"between two layers", {1, 5, 3}, "ACB"},
        {"a negative head layer", {-5, -3}, "AB"},
        {"between negative layers", {-5, -1, -3}, "ACB"},
        {"below a negative head", {-3, -5}, "BA"},
        {"the second layer again", {1, 5, 5}, "ABC"},
        {"above everything, then below", {2, 4, 8, 0}, "DABC"},
    };
    for (const Case& c : cases) {
        auto chain = MenuTest::listOnlyChain();
        std::vector<std::unique_ptr<CountedPanel>> panels;
        for (int layer : c.layers)
            panels.push_back(std::make_unique<CountedPanel>(chain.get(), layer));
        EXPECT_EQ(order(*chain->userInterface, panels), c.order) << c.what;
    }

    // A listed widget given a new layer moves; a destroyed one leaves.
    auto chain = MenuTest::listOnlyChain();
    std::vector<std::unique_ptr<CountedPanel>> panels;
    for (int layer : {1, 5, 7})
        panels.push_back(std::make_unique<CountedPanel>(chain.get(), layer));
    panels[0]->addChild(9);
    EXPECT_EQ(order(*chain->userInterface, panels), "BCA");
    panels[1].reset();
    EXPECT_EQ(order(*chain->userInterface, panels), "CA");
    EXPECT_EQ(chain->userInterface->widgets.count(), 2);
}

TEST(WidgetList, TheSwapChainLetsGoOfItsListButNotOfTheWidgets)
{
    auto chain = MenuTest::listOnlyChain();
    auto face = MenuTest::fakeFace([](wchar_t) { return 5; });
    auto panel = std::make_unique<CountedPanel>(chain.get(), 0);
    auto text = std::make_unique<UserInterface::Text>(chain.get(), face.get(), 2, -1, -1, 1.0f, 0.1f);
    ASSERT_EQ(chain->userInterface->widgets.count(), 2);
    chain.reset();
    EXPECT_EQ(panel->node, nullptr);
    EXPECT_EQ(text->node, nullptr);
    panel.reset(); // no list to leave any more
    text.reset();
}

TEST(WidgetFade, AFadeAdvancesOncePerFrameAndStopsAtItsTarget)
{
    gFrameFactor.store(1.0f);
    for (bool secondPass : {false, true}) {
        auto chain = MenuTest::listOnlyChain();
        UserInterface::Root& root = *chain->userInterface;
        CountedPanel panel(chain.get(), 0, 0.5f, 0.1f);
        panel.colour.a = 0;
        panel.fadeIn();
        EXPECT_EQ(panel.enabled, 1u);
        std::vector<int> alphas;
        for (int frame = 0; frame < 6; ++frame) {
            UserInterface::renderAll(root);
            // The showroom draws the list again in the same frame.
            if (secondPass)
                UserInterface::renderAll(root, false);
            alphas.push_back(panel.colour.a);
        }
        EXPECT_EQ(alphas, (std::vector<int>{25, 51, 76, 102, 127, 127})) << secondPass;
        EXPECT_EQ(panel.opacity, 0.5f);
        EXPECT_EQ(panel.fadeMode, UserInterface::Widget::fadeNone);
        EXPECT_EQ(root.changed, 1u);
        EXPECT_EQ(root.fadesAdvance, 1u);
        EXPECT_EQ(panel.draws, secondPass ? 12 : 6);
    }
}

TEST(WidgetFade, AFadeOutEndsDisabledAndThePassSkipsTheWidget)
{
    gFrameFactor.store(2.0f);
    auto chain = MenuTest::listOnlyChain();
    UserInterface::Root& root = *chain->userInterface;
    CountedPanel panel(chain.get(), 0, 1.7f, 0.1f);
    EXPECT_EQ(panel.targetOpacity, 1.0f);
    EXPECT_EQ(panel.enabled, 0u); // made disabled: not drawn
    UserInterface::renderAll(root);
    EXPECT_EQ(panel.draws, 0);

    // From alpha 255 a fade-in drops at once to its target.
    CountedPanel half(chain.get(), 0, 0.5f, 0.1f);
    half.fadeIn();
    UserInterface::renderAll(root);
    EXPECT_EQ(half.colour.a, 127);

    CountedPanel leaving(chain.get(), 0, 1.0f, 0.25f);
    leaving.enable();
    leaving.fadeOut();
    EXPECT_EQ(leaving.opacity, 1.0f);
    UserInterface::renderAll(root);
    EXPECT_EQ(leaving.colour.a, 127); // 0.5 at twice the frame rate
    EXPECT_EQ(leaving.enabled, 1u);
    UserInterface::renderAll(root);
    EXPECT_EQ(leaving.colour.a, 0);
    EXPECT_EQ(leaving.enabled, 0u);
    EXPECT_EQ(leaving.fadeMode, UserInterface::Widget::fadeNone);
    UserInterface::renderAll(root);
    EXPECT_EQ(leaving.draws, 2);

    // A hidden list draws nothing at all.
    root.hidden = 1;
    half.fadeIn();
    UserInterface::renderAll(root);
    EXPECT_EQ(half.fadeMode, UserInterface::Widget::fadeInMode);
    gFrameFactor.store(1.0f);
}

TEST(PanelPlacement, RectanglesCoverWholePixelsAndCropsMapTheirTexels)
{
    struct Case
    {
        const char* what;
        float width, height;
        int32_t x, y;
        float anchorX, anchorY;
        float crop[4]; // left, right, top, bottom
        float left, top, right, bottom;
        UserInterface::Rect rect;
    };
    const Case cases[] = {
        {"256 x 64 centred at 400", 256, 64, 400, 300, 0.5f, 0.0f, {}, 271.5f, 299.5f, 527.5f, 363.5f,
         {272, 300, 528, 364}},
        {"anchored at the bottom right", 50, 20, 100, 100, 1.0f, 1.0f, {}, 49.5f, 79.5f, 99.5f, 99.5f,
         {50, 80, 100, 100}},
        {"an odd width centred, left of 0", 33, 9, 10, 4, 0.5f, 0.5f, {}, -7.5f, -1.5f, 25.5f, 7.5f,
         {-7, -1, 26, 8}},
        {"crops above 1 leave nothing", 64, 64, 100, 50, 0.0f, 0.0f, {0.7f, 0.6f, 0.9f, 0.9f}, 99.5f, 49.5f, 99.5f,
         49.5f, {100, 50, 100, 50}},
        {"half cropped on the left", 64, 32, 100, 50, 0.0f, 0.0f, {0.5f, 0.0f, 0.0f, 0.25f}, 99.5f, 49.5f, 131.5f,
         73.5f, {100, 50, 132, 74}},
    };
    for (const Case& c : cases) {
        Panel panel(nullptr, 0, 1.0f, 0.1f);
        panel.textureWidth = c.width;
        panel.textureHeight = c.height;
        panel.x = c.x;
        panel.y = c.y;
        panel.anchorX = c.anchorX;
        panel.anchorY = c.anchorY;
        panel.cropLeft = c.crop[0];
        panel.cropRight = c.crop[1];
        panel.cropTop = c.crop[2];
        panel.cropBottom = c.crop[3];
        const Panel::Placement p = panel.place();
        EXPECT_EQ(p.left, c.left) << c.what;
        EXPECT_EQ(p.top, c.top) << c.what;
        EXPECT_EQ(p.right, c.right) << c.what;
        EXPECT_EQ(p.bottom, c.bottom) << c.what;
        EXPECT_EQ(panel.rect.left, c.rect.left) << c.what;
        EXPECT_EQ(panel.rect.top, c.rect.top) << c.what;
        EXPECT_EQ(panel.rect.right, c.rect.right) << c.what;
        EXPECT_EQ(panel.rect.bottom, c.rect.bottom) << c.what;
        EXPECT_EQ(panel.getSize().width, c.rect.right - c.rect.left) << c.what;
    }

    // Texture coordinates: the visible part, moved and turned by the
    // texture matrix (rows of four; the third row moves).
    struct Uv
    {
        const char* what;
        float crop[4];
        float m11, m12, m21, m22, m31, m32;
        float u[4], v[4]; // top-left, top-right, bottom-right, bottom-left
    };
    const Uv uvs[] = {
        {"whole texture", {}, 1, 0, 0, 1, 0, 0, {0, 1, 1, 0}, {0, 0, 1, 1}},
        {"cropped", {0.25f, 0.25f, 0.5f, 0.0f}, 1, 0, 0, 1, 0, 0, {0.25f, 0.75f, 0.75f, 0.25f}, {0.5f, 0.5f, 1, 1}},
        {"moved", {}, 1, 0, 0, 1, 0.25f, -0.5f, {0.25f, 1.25f, 1.25f, 0.25f}, {-0.5f, -0.5f, 0.5f, 0.5f}},
        {"mirrored", {}, -1, 0, 0, 1, 0, 0, {1, 0, 0, 1}, {0, 0, 1, 1}},
        {"turned a quarter", {}, 0, 1, -1, 0, 0, 0, {1, 1, 0, 0}, {0, 1, 1, 0}},
    };
    for (const Uv& c : uvs) {
        Panel panel(nullptr, 0, 1.0f, 0.1f);
        panel.cropLeft = c.crop[0];
        panel.cropRight = c.crop[1];
        panel.cropTop = c.crop[2];
        panel.cropBottom = c.crop[3];
        float* m = panel.shader->textureTransforms[0].m;
        m[0] = c.m11;
        m[1] = c.m12;
        m[4] = c.m21;
        m[5] = c.m22;
        m[8] = c.m31;
        m[9] = c.m32;
        const Panel::Placement p = panel.place();
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(p.u[i], c.u[i]) << c.what << " corner " << i;
            EXPECT_FLOAT_EQ(p.v[i], c.v[i]) << c.what << " corner " << i;
        }
    }
}

TEST(PanelPlacement, AnAttachedPanelMovesWithItsBaseAndTakesItsFade)
{
    auto chain = MenuTest::listOnlyChain();
    Panel base(chain.get(), 0, 1.0f, 0.1f);
    base.textureWidth = 100;
    base.textureHeight = 40;
    base.x = 200;
    base.y = 120;
    base.enable();
    base.colour.a = 90;
    Panel badge(chain.get(), 1, 1.0f, 0.1f);
    badge.textureWidth = 10;
    badge.textureHeight = 10;
    badge.attachedTo = &base;
    badge.x = 5;
    badge.y = 6;
    badge.enable();
    UserInterface::renderAll(*chain->userInterface);
    EXPECT_EQ(badge.rect.left, 205);
    EXPECT_EQ(badge.rect.top, 126);
    EXPECT_EQ(badge.colour.a, 90);
    EXPECT_EQ(badge.x, 5); // its own position again after the draw
    base.disable();
    UserInterface::renderAll(*chain->userInterface);
    EXPECT_EQ(badge.enabled, 0u);
    // A hit test outside the rectangle (edges inside) needs no texture.
    EXPECT_EQ(badge.hitTest(204, 130), 0u);
    EXPECT_EQ(badge.hitTest(215, 136), 1u);
    EXPECT_EQ(badge.hitTest(216, 130), 0u);
}

}
