// Widgets on the real device of the test window: the swap chain's frame
// draws its widget list, and the pixels are read back. With
// KORVANTA_SCREENSHOTS naming a folder, the frames the checks look at are
// kept there as "Menu-<name>.png".
#include "MenuTestSupport.h"

#include "../Render/TestDevice.h"

#include "Menu/GameMenu.h"
#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuColorSlider.h"
#include "Menu/GameMenuEditField.h"
#include "Menu/Panel.h"
#include "Menu/Text.h"
#include "Menu/UserInterface.h"

#include "Landscape/Scene.h"

#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

using namespace TestDevice;
using UserInterface::Panel;
using UserInterface::UIFont;

namespace {

constexpr uint32_t clearColour = 0x203040;

uint32_t rgb(uint32_t pixel)
{
    return pixel & 0xFFFFFF;
}

int channel(uint32_t pixel, int shift)
{
    return int(pixel >> shift & 0xFF);
}

bool similar(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift : {0, 8, 16})
        if (std::abs(channel(a, shift) - channel(b, shift)) > tolerance)
            return false;
    return true;
}

// The bounding box of the pixels that are not the clear colour, and their number.
struct Ink
{
    int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1, count = 0;
    float centreX() const { return float(left + right) * 0.5f; }
};

Ink inkOf(const Level& pixels, int x0 = 0, int y0 = 0, int x1 = 1 << 20, int y1 = 1 << 20)
{
    Ink ink;
    for (int y = std::max(y0, 0); y < std::min(y1, int(pixels.height)); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, int(pixels.width)); ++x)
            if (rgb(pixels.at(uint32_t(x), uint32_t(y))) != clearColour) {
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y);
                ink.bottom = std::max(ink.bottom, y);
                ++ink.count;
            }
    return ink;
}

class MenuDevice : public DeviceSuite
{
protected:
    void SetUp() override
    {
        gFrameFactor.store(1.0f);
        scene.swapChain = &chain();
        menu.fonts[GameMenu::buttonFont] = button;
        menu.fonts[GameMenu::secondButtonFont] = button;
        menu.fonts[GameMenu::arrowFont] = button;
    }
    void TearDown() override { scene.swapChain = nullptr; }

    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        button = UIFont::global()->createFace(String(L"Trebuchet MS"), 24, 700, 0, -1, {}, 0.3f, 0);
    }

    // One frame of the swap chain with its user-interface pass, read back
    // before it is presented.
    static Level frame(const char* name = nullptr, bool drawUi = true, uint32_t* triangles = nullptr)
    {
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000 | clearColour, 1.0f, 0);
        c.render(drawUi);
        if (triangles)
            *triangles = gDirectGraphics.record.primitiveCount;
        Level pixels = readSurface(c.targets[0].surface);
        const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
        if (folder && *folder && name) {
            const std::string path = std::string(folder) + "/Menu-" + name + ".png";
            D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, c.targets[0].surface, nullptr, nullptr);
        }
        c.present();
        return pixels;
    }

    static inline UIFont::Face* button = nullptr;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene};
};

TEST_F(MenuDevice, TheUserInterfacePassLeavesTheDeviceAsItFoundIt)
{
    // First of the suite: a pass that leaked a state before would hide it.
    TextureRef texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, pattern());
    const Level before = referenceScene(chain(), texture);
    ASSERT_FALSE(before.texels.empty());

    Panel panel(&chain(), 0, 1.0f, 0.1f);
    panel.setTexture(texture);
    panel.shader->alphaBlend = 1;
    panel.outline = 1;
    panel.showAnchor = 1;
    panel.x = 20;
    panel.y = 20;
    panel.enable();
    UserInterface::Text text(&chain(), button, 1, 100, 2, 1.0f, 0.1f);
    text.setText(String(L"Korvanta Korvanta Korvanta"));
    text.alphaTest = 1;
    text.zEnable = 1;
    text.filter = D3DTEXF_ANISOTROPIC;
    text.enable();
    GameMenu::EditField field(menu, String(L"Abc"), 60, 120, 150, 81, 1);
    field.animateHighlight();
    GameMenu::ColorSlider slider(menu, 2, 83);
    slider.animateMarker();
    // The frame fogs; no widget does, also after the panel's outline and
    // cross, which hold fog off on their own outside the pass.
    chain().fogEnabled = 1;
    const Level drawn = frame("states");
    chain().fogEnabled = 0;
    const uint32_t sliderEnd = drawn.at(300, 15);
    EXPECT_GT(channel(sliderEnd, 8), 150); // two thirds along the green gradient
    EXPECT_LT(channel(sliderEnd, 16), 30);
    EXPECT_LT(channel(sliderEnd, 0), 30);

    const Level after = referenceScene(chain(), texture);
    EXPECT_EQ(wrongTexels(after, [&](uint32_t x, uint32_t y) { return before.at(x, y); }), 0);
}

TEST_F(MenuDevice, APanelShowsItsTexelsOnExactlyItsPixels)
{
    const auto texel = [](uint32_t x, uint32_t y) { return 0xFF000000 | patternTexel(x, y); };
    TextureRef texture = makeTexture(16, 8, D3DFMT_A8R8G8B8, texel);
    Panel panel(&chain(), 0, 1.0f, 0.1f);
    panel.setTexture(texture);
    EXPECT_EQ(panel.textureWidth, 16.0f);
    EXPECT_EQ(panel.textureHeight, 8.0f);
    panel.x = 40;
    panel.y = 30;
    panel.enable();

    // Untextured: a flat rectangle in the panel's colour; blended: the
    // colour's alpha weighs it against what lies below.
    Panel flat(&chain(), 0, 1.0f, 0.1f);
    flat.textureWidth = 20;
    flat.textureHeight = 10;
    flat.x = 100;
    flat.y = 100;
    flat.colour = Color(200, 100, 50, 255);
    flat.enable();
    Panel veil(&chain(), 0, 1.0f, 0.1f);
    veil.textureWidth = 20;
    veil.textureHeight = 10;
    veil.x = 150;
    veil.y = 100;
    veil.colour = Color(255, 255, 255, 128);
    veil.shader->alphaBlend = 1;
    veil.enable();

    const Level pixels = frame("panel");
    ASSERT_EQ(pixels.width, 320u);
    int wrong = 0;
    for (uint32_t y = 26; y < 42; ++y)
        for (uint32_t x = 36; x < 60; ++x) {
            const bool inside = x >= 40 && x < 56 && y >= 30 && y < 38;
            wrong += rgb(pixels.at(x, y)) != (inside ? rgb(texel(x - 40, y - 30)) : clearColour);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(rgb(pixels.at(100, 100)), 0xC86432u);
    EXPECT_EQ(rgb(pixels.at(119, 109)), 0xC86432u);
    EXPECT_EQ(rgb(pixels.at(120, 109)), clearColour);
    EXPECT_TRUE(similar(pixels.at(160, 105), 0x8F979F, 2)) << std::hex << pixels.at(160, 105);
}

TEST_F(MenuDevice, TheFrameDrawsItsWidgetsBetweenItsTwoHooks)
{
    Panel panel(&chain(), 0, 1.0f, 0.1f);
    panel.textureWidth = 10;
    panel.textureHeight = 10;
    panel.x = 5;
    panel.y = 5;
    panel.enable();
    client->calls.clear();
    EXPECT_EQ(rgb(frame(nullptr, false).at(8, 8)), clearColour);
    EXPECT_EQ(std::count(client->calls.begin(), client->calls.end(), "beforeUi"), 0);
    client->calls.clear();
    EXPECT_EQ(rgb(frame().at(8, 8)), 0xFFFFFFu);
    const auto before = std::find(client->calls.begin(), client->calls.end(), "beforeUi");
    ASSERT_NE(before, client->calls.end());
    ASSERT_NE(before + 1, client->calls.end());
    EXPECT_EQ(before[1], "afterUi");
    chain().userInterface->hidden = 1;
    EXPECT_EQ(rgb(frame().at(8, 8)), clearColour);
    chain().userInterface->hidden = 0;
}

TEST_F(MenuDevice, TheLineHelpersDrawACrossAndAnOutlineOnTheirPixels)
{
    // A widget that draws only the two helpers, in opaque red.
    struct Marks final : Panel
    {
        using Panel::Panel;
        void draw() override
        {
            const Color red = Color::fromArgb(0xFFFF0000);
            UserInterface::drawCross(100.0f, 60.0f, 10.0f, red);
            UserInterface::drawRectOutline(20.5f, 20.5f, 60.5f, 40.5f, 0.0f, red);
        }
    };
    Marks marks(&chain(), 0, 1.0f, 0.1f);
    marks.enable();
    const Level pixels = frame("line-helpers");
    const auto redIn = [&](int x0, int y0, int x1, int y1) {
        int count = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                count += rgb(pixels.at(uint32_t(x), uint32_t(y))) == 0xFF0000u;
        return count;
    };
    // The cross: 20 pixels each way through (100, 60), nothing beyond.
    EXPECT_GE(redIn(90, 59, 110, 61), 18) << "the horizontal line";
    EXPECT_GE(redIn(99, 50, 101, 70), 18) << "the vertical line";
    EXPECT_GE(redIn(99, 50, 101, 55), 4) << "the vertical line's upper half";
    EXPECT_GE(redIn(99, 65, 101, 70), 4) << "the vertical line's lower half";
    EXPECT_EQ(redIn(70, 30, 130, 48) + redIn(70, 72, 130, 90), 0);
    // The outline: its four sides, and nothing inside.
    EXPECT_GE(redIn(24, 19, 56, 21), 30) << "top";
    EXPECT_GE(redIn(24, 39, 56, 41), 30) << "bottom";
    EXPECT_GE(redIn(19, 24, 21, 36), 12) << "left";
    EXPECT_GE(redIn(59, 24, 61, 36), 12) << "right";
    EXPECT_EQ(redIn(23, 23, 57, 37), 0) << "inside";
}

TEST_F(MenuDevice, AFrameShowsAPanelATextAndAPulsingButton)
{
    ASSERT_NE(button, nullptr);
    TextureRef texture = makeTexture(64, 32, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t y) {
        return 0xC0000000u | (x * 4) << 16 | 0x2000u | y * 8;
    });
    Panel panel(&chain(), 0, 1.0f, 0.1f);
    panel.setTexture(texture);
    panel.x = 160;
    panel.y = 120;
    panel.anchorX = 0.5f;
    panel.anchorY = 0.5f;
    panel.textureWidth = 280;
    panel.textureHeight = 200;
    panel.shader->alphaBlend = 1;
    panel.outline = 1;
    panel.enable();
    UserInterface::Text title(&chain(), button, 1, -1, -1, 1.0f, 0.1f);
    title.x = 40;
    title.y = 40;
    title.setText(String(L"Korvanta \u25C4 \u00F6 \u25BA"));
    title.enable();
    GameMenu::Button start(1, menu, String(L"Start"), 40, 120, 1, false);

    std::vector<uint32_t> pulse;
    Ink startInk;
    for (int f = 0; f < 4; ++f) {
        start.animateHighlight();
        start.animateHighlight();
        const std::string name = "frame-" + std::to_string(f);
        const Level pixels = frame(name.c_str());
        const UserInterface::Rect box = start.getRect();
        // The button's brightest pixel carries its colour of the frame.
        uint32_t brightest = 0;
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x) {
                const uint32_t p = rgb(pixels.at(uint32_t(x), uint32_t(y)));
                if (channel(p, 8) > channel(brightest, 8))
                    brightest = p;
            }
        pulse.push_back(brightest);
        // The title is white over the panel.
        const UserInterface::Rect titleBox = title.getRect();
        int white = 0;
        for (int y = titleBox.top; y < titleBox.bottom; ++y)
            for (int x = titleBox.left; x < titleBox.right; ++x)
                white += similar(pixels.at(uint32_t(x), uint32_t(y)), 0xFFFFFF, 15);
        EXPECT_GT(white, 100);
    }
    // Green, then on towards yellow, grey and green again.
    EXPECT_LT(channel(pulse[0], 16), 80);
    EXPECT_GT(channel(pulse[1], 16), 150);
    EXPECT_NE(pulse[1], pulse[2]);
    EXPECT_NE(pulse[2], pulse[3]);
}

TEST_F(MenuDevice, GlyphsLieInsideTheirTextsBoxAndAScaledTextKeepsItsCentre)
{
    UIFont::Face* face = UIFont::global()->createFace(String(L"Arial"), 24, 700, 0, -1, {}, 0.3f, 0);
    ASSERT_NE(face, nullptr);
    UserInterface::Text text(&chain(), face, 1, -1, -1, 1.0f, 0.1f);
    text.x = 20;
    text.y = 100;
    text.setText(String(L"Korvanta \u25C4\u25BA \u00F6y"));
    text.enable();
    const Level pixels = frame("text");
    const UserInterface::Rect box = text.getRect();
    const Ink inside = inkOf(pixels, box.left, box.top, box.right + 1, box.bottom + 1);
    EXPECT_GT(inside.count, 400);
    EXPECT_EQ(inkOf(pixels).count, inside.count) << "no glyph pixel outside the box";
    // The arrows and the umlaut have glyphs of their own.
    for (wchar_t c : {L'\u25C4', L'\u25BA', L'\u00F6'}) {
        ASSERT_NE(face->glyph(c), nullptr);
        EXPECT_GT(face->glyph(c)->width, 6.0f);
    }

    // The text's colour tints its glyphs, and its alpha (the fade's) scales
    // theirs.
    text.colour = Color(255, 255, 255, 0);
    EXPECT_EQ(inkOf(frame()).count, 0);
    text.colour = Color(255, 0, 0, 128);
    int brightest = 0;
    const Level faded = frame("text-faded");
    for (uint32_t y = 0; y < faded.height; ++y)
        for (uint32_t x = 0; x < faded.width; ++x) {
            EXPECT_LE(channel(faded.at(x, y), 8), 0x30);
            brightest = std::max(brightest, channel(faded.at(x, y), 16));
        }
    EXPECT_NEAR(brightest, (0x20 + 255) / 2, 6);
    text.colour = Color(255, 255, 255, 255);

    // A scaled text grows about its box's centre.
    text.setText(String(L"Menu"));
    text.x = 100;
    const Ink plain = inkOf(frame());
    text.scale = 2.0f;
    const Ink scaled = inkOf(frame("text-scaled"));
    EXPECT_NEAR(scaled.centreX(), plain.centreX(), 2.0f);
    EXPECT_NEAR(float(scaled.top + scaled.bottom), float(plain.top + plain.bottom), 4.0f);
    EXPECT_NEAR(float(scaled.right - scaled.left), 2.0f * float(plain.right - plain.left), 6.0f);
    text.disable();
    UIFont::global()->releaseFace(face);
}

TEST_F(MenuDevice, AFixedPitchFaceSpacesItsGlyphsEvenly)
{
    UIFont::Face* fixed =
        UIFont::global()->createFace(String(L"Arial"), 20, 400, UIFont::Face::fixedPitchFlag, 30, {}, 0.3f, 0);
    ASSERT_NE(fixed, nullptr);
    UserInterface::Text text(&chain(), fixed, 1, -1, -1, 1.0f, 0.1f);
    text.x = 20;
    text.y = 100;
    text.enable();
    text.setText(String(L"W"));
    const Ink one = inkOf(frame());
    for (const wchar_t* s : {L"WWWW", L"iiii"})
        EXPECT_EQ((text.setText(String(s)), text.getSize().width), 4 * 30 + 1) << "every advance is 30";
    text.setText(String(L"WWWW"));
    const Ink four = inkOf(frame("fixed-pitch"));
    EXPECT_EQ(four.right - four.left, one.right - one.left + 3 * 30);
    // Each glyph sits in the middle of its advance.
    const int lead = int(fixed->glyph(L'W')->lead);
    EXPECT_EQ(lead, int(std::floor((30.0f - fixed->glyph(L'W')->width) * 0.5f)));
    text.setText(String(L"i"));
    const Ink narrow = inkOf(frame());
    EXPECT_GT(narrow.left, one.left + 5);
    text.disable();
    UIFont::global()->releaseFace(fixed);
}

TEST_F(MenuDevice, ACutTextShowsItsLinesAndItsFullStops)
{
    // The same characters as plain one-line texts, one per line, the cut
    // characters written as full stops.
    UserInterface::Text cut(&chain(), button, 1, 150, 2, 1.0f, 0.1f);
    cut.x = 20;
    cut.y = 40;
    cut.setText(String(L"Korvanta races over hills and rivers"));
    ASSERT_EQ(cut.lineCount, 2);
    std::wstring lines[2];
    int line = 0, record = 0;
    for (int i = 0; i < cut.charCount; ++i) {
        bool hidden = false, stop = false;
        for (; record < cut.formattingCount && cut.formatting.at(record)->position == i; ++record) {
            const uint32_t kind = cut.formatting.at(record)->kind;
            line += kind == UserInterface::Text::Formatting::newLine;
            hidden |= kind == UserInterface::Text::Formatting::hidden;
            stop |= kind == UserInterface::Text::Formatting::fullStop;
        }
        if (stop)
            lines[line] += L'.';
        else if (!hidden)
            lines[line] += cut.text()[i];
    }
    ASSERT_EQ(lines[1].substr(lines[1].size() - 3), L"...");
    cut.enable();
    const Level shown = frame("cut-text");
    cut.disable();

    std::unique_ptr<UserInterface::Text> plain[2];
    for (int l = 0; l < 2; ++l) {
        plain[l] = std::make_unique<UserInterface::Text>(&chain(), button, 1, -1, -1, 1.0f, 0.1f);
        plain[l]->x = 20;
        plain[l]->y = 40 + int(button->lineHeight) * l;
        plain[l]->setText(String(lines[l].c_str()));
        plain[l]->enable();
    }
    const Level expected = frame("cut-text-plain");
    EXPECT_GT(inkOf(shown).count, 500);
    EXPECT_EQ(wrongTexels(shown, [&](uint32_t x, uint32_t y) { return expected.at(x, y); }, 0xFFFFFF), 0);
}

TEST_F(MenuDevice, ThreeHundredGlyphsOverTwoLayersAreAllDrawn)
{
    UIFont::Face* face = UIFont::global()->createFace(String(L"Arial"), 26, 400, 0, -1, {}, 0.3f, 0);
    ASSERT_NE(face, nullptr);
    ASSERT_EQ(face->currentLayer, 1) << "the printable characters fill two layers";
    std::wstring mixed, same(300, L'a');
    for (int i = 0; i < 300; ++i)
        mixed += wchar_t(33 + (i * 7) % 94);
    UserInterface::Text text(&chain(), face, 1, 300, -1, 1.0f, 0.1f);
    uint32_t none = 0, drawn = 0;
    frame(nullptr, true, &none);
    text.enable();
    for (const std::wstring* s : {&mixed, &same}) {
        text.setText(String(s->c_str()));
        ASSERT_EQ(text.charCount, 300);
        frame(s == &mixed ? "glyphs-300" : nullptr, true, &drawn);
        EXPECT_EQ(drawn - none, 600u) << (s == &mixed ? "two layers" : "batches of 255");
    }
    text.wrapWidth = -1;
    text.x = 4;
    text.y = 10;
    text.setText(String(mixed.substr(0, 40).c_str()));
    const Level pixels = frame("glyphs-two-layers");
    EXPECT_GT(inkOf(pixels).count, 1000);
    text.disable();
    UIFont::global()->releaseFace(face);
}

TEST_F(MenuDevice, TextsDrawTheSameAfterADeviceReset)
{
    UserInterface::Text text(&chain(), button, 1, -1, -1, 1.0f, 0.1f);
    text.x = 30;
    text.y = 60;
    text.setText(String(L"Nickname"));
    text.enable();
    const Level before = frame("before-reset");
    ASSERT_GT(inkOf(before).count, 200);
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_EQ(gDirectGraphics.record.resetting, 0u);
    // Made again, each holding a batch of glyph vertices.
    for (const UIFont::VertexBuffer* vb : {&UIFont::global()->vertexBuffer2D, &UIFont::global()->vertexBuffer3D}) {
        D3DVERTEXBUFFER_DESC desc{};
        ASSERT_NE(vb->buffer, nullptr);
        ASSERT_EQ(vb->buffer->GetDesc(&desc), D3D_OK);
        EXPECT_GE(desc.Size, vb->batchSize * vb->stride);
    }
    EXPECT_NE(UIFont::global()->stateBlockText, nullptr);
    const Level after = frame("after-reset");
    EXPECT_EQ(wrongTexels(after, [&](uint32_t x, uint32_t y) { return before.at(x, y); }, 0xFFFFFF), 0);
}

TEST_F(MenuDevice, AWorldSpaceTextIsDrawnThroughItsMatrix)
{
    lookAlongZ(chain(), {0.0f, 0.0f, -10.0f});
    UserInterface::Text text(&chain(), button, 1, -1, -1, 1.0f, 0.1f);
    text.setText(String(L"WWW"));
    text.worldSpace = 1;
    // Pixels of the text become world units, y up, at the origin.
    text.world = matrix3d::identity();
    text.world.m[0] = 0.05f;
    text.world.m[5] = -0.05f;
    text.enable();
    const Level pixels = frame("world-text");
    const UserInterface::Size size = text.getSize();
    const vec2d a = screenPoint(chain(), {0.0f, 0.0f, 0.0f});
    const vec2d b = screenPoint(chain(), {0.05f * float(size.width), -0.05f * float(size.height), 0.0f});
    const Ink all = inkOf(pixels);
    const Ink within = inkOf(pixels, int(a.x) - 2, int(a.y) - 2, int(b.x) + 3, int(b.y) + 3);
    EXPECT_GT(within.count, 30);
    EXPECT_EQ(all.count, within.count);
    EXPECT_EQ(text.isWorldSpace(), 1u);
}

TEST_F(MenuDevice, AHitTestReadsTheAlphaOfEveryFormatThatHasOne)
{
    struct Case
    {
        const char* what;
        D3DFORMAT format;
        uint32_t clear, opaque; // texel values
        bool readable;
    };
    const Case cases[] = {
        {"A8R8G8B8", D3DFMT_A8R8G8B8, 0x00FFFFFF, 0xFFFFFFFF, true},
        {"A4R4G4B4", D3DFMT_A4R4G4B4, 0x0FFF, 0x1FFF, true},
        {"A1R5G5B5", D3DFMT_A1R5G5B5, 0x7FFF, 0x8000, true},
        {"X8R8G8B8 has no alpha", D3DFMT_X8R8G8B8, 0x00FFFFFF, 0x00FFFFFF, false},
    };
    for (const Case& c : cases) {
        // Two transparent columns, then two opaque ones.
        TextureRef texture =
            makeTexture(4, 2, c.format, [&](uint32_t x, uint32_t) { return x < 2 ? c.clear : c.opaque; });
        Panel panel(&chain(), 0, 1.0f, 0.1f);
        panel.setTexture(texture);
        panel.x = 100;
        panel.y = 50;
        panel.place();
        EXPECT_EQ(panel.hitTest(99, 50), 0u) << c.what;
        EXPECT_EQ(panel.hitTest(100, 50), c.readable ? 0u : 1u) << c.what;
        EXPECT_EQ(panel.hitTest(101, 51), c.readable ? 0u : 1u) << c.what;
        EXPECT_EQ(panel.hitTest(102, 50), 1u) << c.what;
        EXPECT_EQ(panel.hitTest(104, 52), 1u) << c.what << ": the far edges are inside";
        EXPECT_EQ(panel.hitTest(105, 52), 0u) << c.what;
        chain().userInterface->pointerX = 100;
        chain().userInterface->pointerY = 51;
        EXPECT_EQ(panel.isPointerOutside(), c.readable ? 1u : 0u) << c.what;
    }
    // Textures that cannot be read count as hit everywhere.
    for (const auto& [what, usage, format, pool] :
         {std::tuple{"compressed", 0u, D3DFMT_DXT1, D3DPOOL_MANAGED},
          std::tuple{"render target", uint32_t(D3DUSAGE_RENDERTARGET), D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT}}) {
        TextureRef texture;
        ASSERT_TRUE(Texture::create(texture, String(L"unreadable"), 4, 4, 1, usage, format, pool)) << what;
        Panel panel(&chain(), 0, 1.0f, 0.1f);
        panel.setTexture(texture);
        panel.x = 100;
        panel.y = 50;
        panel.place();
        EXPECT_EQ(panel.hitTest(100, 50), 1u) << what;
    }
}

TEST_F(MenuDevice, TheColourSliderShowsAnOpaqueGradientAndItsMarker)
{
    GameMenu::ColorSlider red(menu, 1, 82);
    const Level gradient = readLevel(red.shader->textures[0]);
    ASSERT_EQ(gradient.width, 32u);
    EXPECT_EQ(wrongTexels(gradient,
                          [](uint32_t x, uint32_t) { return 0xFF000000u | uint32_t(float(x) / 31.0f * 255.0f) << 16; }),
              0);
    EXPECT_EQ(gradient.at(31, 5), 0xFFFF0000u);
    EXPECT_EQ(gradient.at(16, 0), 0xFF830000u); // 16 / 31 of 255, truncated
    GameMenu::ColorSlider yellow(menu, 5, 84);
    EXPECT_EQ(readLevel(yellow.shader->textures[0]).at(31, 31), 0xFFFFFF00u);
    yellow.disable();

    EXPECT_EQ(red.textureWidth, 300.0f);
    EXPECT_EQ(red.x, 100);
    red.x = 10; // 300 pixels wide: inside the test window
    red.y = 100;
    red.value = 0.5f;
    red.markerColour = Color(255, 0, 255, 255);
    const Level pixels = frame("slider");
    for (uint32_t x : {158u, 161u})
        EXPECT_EQ(rgb(pixels.at(x, 115)), 0xFF00FFu) << x;
    for (uint32_t x : {156u, 163u})
        EXPECT_NE(rgb(pixels.at(x, 115)), 0xFF00FFu) << x;
    EXPECT_LT(channel(pixels.at(15, 110), 16), 40);
    EXPECT_GT(channel(pixels.at(305, 110), 16), 220);
    EXPECT_EQ(rgb(pixels.at(305, 130)), clearColour);
    EXPECT_EQ(rgb(pixels.at(9, 110)), clearColour);
    red.animateMarker();
    EXPECT_EQ(red.markerColour, Color(0, 255, 0, 255));
}

TEST_F(MenuDevice, AHighlightedEditFieldDrawsAFrameAndACaret)
{
    GameMenu::EditField field(menu, String(L"Abc"), 60, 120, 150, 81, 1);
    const auto grey = [](const Level& p) {
        int n = 0;
        for (uint32_t y = 0; y < p.height; ++y)
            for (uint32_t x = 0; x < p.width; ++x)
                n += rgb(p.at(x, y)) == 0x7F7F7Fu;
        return n;
    };
    EXPECT_EQ(grey(frame("edit-field")), 0);
    field.animateHighlight();
    const Level pixels = frame("edit-field-highlighted");
    // Two lines from x 50 to 210, two as high as the text.
    EXPECT_GT(grey(pixels), 2 * 150);
    const UserInterface::Size size = field.getSize();
    // The caret in the field's colour, just right of the text's box.
    int caret = 0;
    for (int column = 60 + size.width - 1; column <= 60 + size.width + 1; ++column) {
        int here = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            here += rgb(pixels.at(uint32_t(column), y)) == 0x00FF00u;
        caret = std::max(caret, here);
    }
    EXPECT_GE(caret, size.height - 8);
}

}
