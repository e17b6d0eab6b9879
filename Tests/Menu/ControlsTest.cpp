// The menu controls with faces of chosen widths: the highlight ramp, the
// buttons and their arrows, and the edit field's input.
#include "MenuTestSupport.h"

#include "Menu/GameMenu.h"
#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuEditField.h"
#include "Menu/GameMenuText.h"

#include "Landscape/Scene.h"

#include "Core/Timer.h"

#include <string>

namespace {

struct Rgba
{
    float r, g, b, a;
};

TEST(HighlightRamp, StopsLieAThirdApartAndTheRampClosesOnItself)
{
    const float grey = 63.0f / 255.0f;
    struct Case
    {
        float t;
        Rgba want;
    };
    const Case cases[] = {
        {-0.5f, {0, 1, 0, 1}},                                           // below: stop 0
        {0.0f, {0, 1, 0, 1}},                                            // green
        {1.0f / 6.0f, {0.5f, 1, 0, 1}},                                  // half way to yellow
        {1.0f / 3.0f, {1, 1, 0, 1}},                                     // yellow
        {0.5f, {(1 + grey) / 2, (1 + grey) / 2, grey / 2, 1}},           // between yellow and grey
        {2.0f / 3.0f, {grey, grey, grey, 1}},                            // dark grey
        {5.0f / 6.0f, {grey / 2, (grey + 1) / 2, grey / 2, 1}},          // back towards green
        {1.0f, {0, 1, 0, 1}},                                            // green again
        {7.0f, {0, 1, 0, 1}},                                            // above: stop 3
    };
    for (const Case& c : cases) {
        const D3DCOLORVALUE v = colorRamp4(GameMenu::highlightRamp, c.t);
        EXPECT_NEAR(v.r, c.want.r, 1e-5f) << c.t;
        EXPECT_NEAR(v.g, c.want.g, 1e-5f) << c.t;
        EXPECT_NEAR(v.b, c.want.b, 1e-5f) << c.t;
        EXPECT_NEAR(v.a, c.want.a, 1e-5f) << c.t;
    }
}

TEST(HighlightRamp, AStepWritesTheColourAndMovesOnByTheSavedFactor)
{
    gTimer.savedFactor = 1.0f;
    gFrameFactor.store(0.0f); // a paused race: the ramp still moves
    float phase = 1.0f / 3.0f;
    Color colour;
    GameMenu::highlightStep(phase, colour);
    EXPECT_EQ(colour, Color(255, 255, 0, 255));
    EXPECT_NEAR(phase, 1.0f / 3.0f + 0.08f, 1e-6f);

    phase = 0.96f;
    GameMenu::highlightStep(phase, colour);
    EXPECT_NEAR(phase, 0.04f, 1e-6f);
    phase = 0.5f;
    GameMenu::highlightStep(phase, colour);
    // Half way from yellow to grey: about (255 + 63) / 2, and 63 / 2 truncated.
    EXPECT_NEAR(colour.r, 159, 1);
    EXPECT_EQ(colour.r, colour.g);
    EXPECT_EQ(colour.b, 31);
    EXPECT_EQ(colour.a, 255);
    gTimer.savedFactor = 0.5f;
    phase = 0.0f;
    GameMenu::highlightStep(phase, colour);
    EXPECT_NEAR(phase, 0.04f, 1e-6f);
    gTimer.savedFactor = 1.0f;
    gFrameFactor.store(1.0f);
}

class MenuControls : public testing::Test
{
protected:
    void SetUp() override
    {
        scene.swapChain = chain.get();
        menu.fonts[GameMenu::buttonFont] = buttonFace.get();
        menu.fonts[GameMenu::secondButtonFont] = smallFace.get();
        menu.fonts[GameMenu::arrowFont] = arrowFace.get();
    }
    void TearDown() override { scene.swapChain = nullptr; }

    std::unique_ptr<D3D::Device::SwapChain> chain = MenuTest::listOnlyChain();
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene};
    // Letters 10 wide, "i" 5; the small face half as wide; the arrows 20.
    std::unique_ptr<UserInterface::UIFont::Face> buttonFace =
        MenuTest::fakeFace([](wchar_t c) { return c == L'i' ? 5 : c >= 32 && c < 127 ? 10 : -1; });
    std::unique_ptr<UserInterface::UIFont::Face> smallFace =
        MenuTest::fakeFace([](wchar_t c) { return c >= 32 && c < 127 ? 5 : -1; });
    std::unique_ptr<UserInterface::UIFont::Face> arrowFace =
        MenuTest::fakeFace([](wchar_t c) { return c == 0x25C4 || c == 0x25BA ? 20 : -1; }, 20.0f, 0x25FF);
};

TEST_F(MenuControls, ButtonsTakeTheMenusFacesAndHighlightOnlyWhenAllowed)
{
    GameMenu::Button first(3, menu, String(L"Start"), 120, 80, 7, false);
    GameMenu::Button second(3, menu, String(L"Start"), 120, 80, 8, true);
    EXPECT_EQ(first.face, buttonFace.get());
    EXPECT_EQ(first.getSize().width, 51);
    EXPECT_EQ(second.getSize().width, 26);
    EXPECT_EQ(first.enabled, 1u);
    EXPECT_EQ(first.targetOpacity, 0.5f);
    EXPECT_EQ(first.fadeSpeed, 0.1f);
    EXPECT_EQ(first.id, 7);
    EXPECT_EQ(first.root, chain->userInterface);
    EXPECT_EQ(chain->userInterface->widgets.count(), 2);

    first.setHighlight(true);
    EXPECT_EQ(first.colour, Color(0, 255, 0, 255));
    first.setHighlight(true);
    EXPECT_EQ(first.colour, Color(61, 255, 0, 255)); // 0.08 of the way to yellow
    first.setHighlight(false);
    EXPECT_EQ(first.colour, Color(255, 255, 255, 255));

    second.highlightable = 0;
    second.colour = Color(10, 20, 30, 40);
    second.setHighlight(true);
    second.setHighlight(false);
    EXPECT_EQ(second.colour, Color(10, 20, 30, 40));
}

TEST_F(MenuControls, ArrowsFlankAPreviousNextButtonAndGoWithIt)
{
    {
        GameMenu::ButtonPrevNext choice(200, menu, String(L"Easy"), 100, 300, 96, 2);
        ASSERT_NE(choice.previous, nullptr);
        ASSERT_NE(choice.next, nullptr);
        EXPECT_EQ(choice.previous->x, 60);
        EXPECT_EQ(choice.next->x, 400);
        EXPECT_EQ(choice.previous->y, 0);
        EXPECT_EQ(choice.y, 200);
        EXPECT_EQ(choice.previous->face, arrowFace.get());
        EXPECT_EQ(std::wstring(choice.previous->text()), L"\u25C4");
        EXPECT_EQ(std::wstring(choice.next->text()), L"\u25BA");
        EXPECT_EQ(choice.next->getSize().width, 21); // the arrow has its glyph
        EXPECT_EQ(chain->userInterface->widgets.count(), 3);
    }
    EXPECT_EQ(chain->userInterface->widgets.count(), 0);

    GameMenu::Text label(1, smallFace.get(), menu, String(L"Nickname"), 50, 60, 30);
    EXPECT_EQ(label.wrapWidth, 30);
    EXPECT_EQ(label.lineCount, 2); // "Nickn" reaches 30 at its sixth letter
    label.animateHighlight();
    EXPECT_EQ(label.colour, Color(0, 255, 0, 255));
}

TEST_F(MenuControls, TheEditFieldHoldsWhatFitsItsWidth)
{
    GameMenu::EditField field(menu, String(L""), 300, 200, 150, 81, 1);
    EXPECT_EQ(field.face, buttonFace.get());
    // Backspace on an empty field, Escape and Enter change nothing.
    for (wchar_t c : {L'\b', L'\x1b', L'\r', L'\0'})
        field.inputChar(c);
    EXPECT_EQ(std::wstring(field.text()), L"");
    EXPECT_EQ(field.getSize().width, 1);

    // Ten-pixel letters: the box is one wider than the text, so 14 fit.
    for (int i = 0; i < 20; ++i)
        field.inputChar(L'a');
    EXPECT_EQ(std::wstring(field.text()), std::wstring(14, L'a'));
    EXPECT_EQ(field.getSize().width, 141);
    // A narrower letter may still fit.
    field.inputChar(L'i');
    EXPECT_EQ(std::wstring(field.text()), std::wstring(14, L'a') + L"i");
    field.inputChar(L'i');
    EXPECT_EQ(field.getSize().width, 146);
    field.inputChar(L'\x1b');
    field.inputChar(L'\r');
    EXPECT_EQ(field.getSize().width, 146);

    field.inputChar(L'\b');
    field.inputChar(L'\b');
    EXPECT_EQ(std::wstring(field.text()), std::wstring(13, L'a'));
    EXPECT_EQ(field.getSize().width, 131);
    // A character the face has no glyph for takes no room.
    field.inputChar(L'\u4E00');
    EXPECT_EQ(field.getSize().width, 131);
    EXPECT_EQ(field.charCount, 14);
}

}
