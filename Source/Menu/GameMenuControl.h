#pragma once
// The control assignment screen (state 18): the fifteen game and menu
// actions as rows with a keyboard and a gamepad value each. The player walks
// the buttons (Change, Default, Extended) or the value grid, and a confirmed
// value takes the next input pressed. An input is taken only by a column
// that fits it; once taken it is cleared from the other actions of its
// group. Back during a capture ends it. The bindings record is changed in
// place; the settings file stores it at its next save.
//
// Slot s of the screen's numbering maps onto Control::BindingSet: 1 to 15 are
// keys[s - 1], 16 and 17 axes[0] and axes[1], 18 and 19 invertAxis[0] and
// invertAxis[1].

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"

#include "Application/ControlBindings.h"
#include "Application/UserInput.h"

class GameMenu::Control : public GameMenu::Screen
{
public:
    static constexpr int32_t rowCount = 15;
    static constexpr int32_t changeValue = 37;
    static constexpr int32_t defaultValue = 38;
    static constexpr int32_t extendedValue = 39;
    static constexpr int32_t firstKeyboardValue = 40; // 40 + row
    static constexpr int32_t firstGamepadValue = 55;  // 55 + row
    static constexpr int32_t widgetLayer = 15;
    static constexpr int32_t keyboardX = 600;
    static constexpr int32_t gamepadX = 830;

    // What the screen is doing.
    enum Focus : int32_t {
        buttonColumn = 0,   // Change, Default, Extended
        valueGrid = 1,      // the 30 values
        waitingForRelease = 2, // a capture starts once confirm is up
        capturing = 3,
    };

    // The rows' label keys and slots (1 to 15), in display order.
    static const wchar_t* const rowKeys[rowCount];
    static const int32_t rowSlots[rowCount];

    explicit Control(GameMenu& owner);
    ~Control() override;
    static Screen* make(GameMenu& menu) { return new Control(menu); }

    // Makes the widgets when they do not exist; returnTo (unless 3) is the
    // state to go back to.
    void build(int32_t returnTo);
    void enter(int32_t returnTo) override { build(returnTo); }
    int32_t nextScreen() override;
    void close() override;
    // Layout, highlight and the capture, every frame while shown.
    void update() override;
    bool isCapturing() override { return focus == waitingForRelease || focus == capturing; }
    void onKeyLeft() override;
    void onKeyRight() override;
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    void onKeyBack() override;

    // Every value's text from the bindings ("Not assigned" for none).
    void refreshBindings();
    // Takes code for the selected value: false (and nothing changed) when
    // the value's column does not take it or it names no input; else the
    // other actions of the row's group lose the input and the value gets it.
    bool assign(const InputCode& code);

    // The rows' distance at a back-buffer height.
    static int32_t rowStep(int32_t height) { return (height - 225) / rowCount; }

    // Where the pressed inputs are read.
    const UserInput* input = &gUserInput;
    int32_t returnState = noScreen;
    int32_t selection = changeValue;
    int32_t focus = buttonColumn;
    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* labels[rowCount] = {};
    GameMenu::Text* keyboardHeader = nullptr;
    GameMenu::Text* gamepadHeader = nullptr;
    GameMenu::Button* changeButton = nullptr;
    GameMenu::Button* defaultButton = nullptr;
    GameMenu::Button* extendedButton = nullptr;
    GameMenu::Button* keyboardValues[rowCount] = {};
    GameMenu::Button* gamepadValues[rowCount] = {};

private:
    void deleteWidgets();
    void layOut();
    // The button of a value 37 to 69, null for any other.
    GameMenu::Button* buttonOf(int32_t value) const;
    // While capturing: the newly pressed input for the selected value;
    // true when it was taken (the value shows it, the grid has the focus).
    bool takePressedInput();
    // After an input was taken: the press that is still down must not act
    // as a fresh press of the menu action it now drives.
    void holdCapturedAction(int32_t row);
};
