#include "Menu/GameMenuControl.h"

#include "Menu/GameMenuTexts.h"

#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <iterator>

namespace {

using BindingSet = ::Control::BindingSet;

// The rows of the race actions come first; the menu actions follow.
constexpr int32_t firstMenuRow = 9;
// Rows 0 and 1 steer (slot 16 is their axis), rows 2 and 3 accelerate and
// brake (slot 17).
constexpr int32_t lastAxisRow = 3;
// A held menu key repeats after this long, as in the state machine.
constexpr uint32_t firstRepeat = 500;

// The slots (1 to 17) that a row's group gives up to an input taken
// elsewhere in the group: the race actions with both axes (never the
// camera's slot 15), or the menu actions.
constexpr int32_t raceGroupSlots[] = {1, 2, 3, 4, 5, 6, 7, 8, 16, 17};
constexpr int32_t menuGroupSlots[] = {9, 10, 11, 12, 13, 14};

const void* slotAddress(const BindingSet& set, int32_t slot)
{
    if (slot >= 1 && slot <= BindingSet::keyCount)
        return set.keys[slot - 1];
    if (slot == 16 || slot == 17)
        return set.axes[slot - 16];
    return nullptr;
}

void clearSlot(BindingSet& set, int32_t slot)
{
    if (slot >= 1 && slot <= BindingSet::keyCount)
        set.keys[slot - 1] = nullptr;
    else if (slot == 16 || slot == 17)
        set.axes[slot - 16] = nullptr;
}

String inputName(const BindingSet& set, const void* address)
{
    if (!set.base || !address)
        return String(L"");
    return UserInput::nameOfCode(UserInput::codeOfAddress(address, *set.base));
}

// The menu input a row's action drives, or -1.
int32_t menuInputOf(int32_t row)
{
    switch (row) {
    case 2:
        return GameMenu::inThrottle;
    case 7:
        return GameMenu::inPause;
    case 8:
        return GameMenu::inCamera;
    case 9:
        return GameMenu::inLeft;
    case 10:
        return GameMenu::inRight;
    case 11:
        return GameMenu::inUp;
    case 12:
        return GameMenu::inDown;
    case 13:
        return GameMenu::inConfirm;
    case 14:
        return GameMenu::inBack;
    default:
        return -1;
    }
}

}

const wchar_t* const GameMenu::Control::rowKeys[rowCount] = {
    L"ControlLeft", L"ControlRight", L"Accelerate", L"Brake",    L"UseRocket", L"UseOil",      L"UseNitro", L"Pause",
    L"Camera",      L"MenuLeft",     L"MenuRight",  L"MenuUp",   L"MenuDown",  L"MenuConfirm", L"MenuBack"};
const int32_t GameMenu::Control::rowSlots[rowCount] = {3, 4, 1, 2, 5, 6, 7, 8, 15, 9, 10, 11, 12, 13, 14};

GameMenu::Control::Control(GameMenu& owner) : Screen(owner)
{
}

GameMenu::Control::~Control()
{
    deleteWidgets();
}

void GameMenu::Control::build(int32_t returnTo)
{
    if (titleText)
        return;
    CRASH_TRACE();
    if (returnTo != noScreen)
        returnState = returnTo;
    GameMenu& owner = *menu;
    UserInterface::UIFont::Face* small = owner.fonts[secondButtonFont];
    titleText = new GameMenu::Text(widgetLayer, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"Control"),
                                   owner.titleX, owner.titleY, -1);
    titleText->colour = GameMenuTexts::labelGrey;
    for (int32_t row = 0; row < rowCount; ++row)
        labels[row] = new GameMenu::Text(widgetLayer, small, owner, GameMenuTexts::lookUp(rowKeys[row]), 350, 0, -1);
    keyboardHeader =
        new GameMenu::Text(widgetLayer, small, owner, GameMenuTexts::lookUp(L"Keyboard"), keyboardX, 150, -1);
    gamepadHeader = new GameMenu::Text(widgetLayer, small, owner, GameMenuTexts::lookUp(L"Gamepad"), gamepadX, 150, -1);
    changeButton =
        new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Change"), 60, 300, changeValue, false);
    defaultButton =
        new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Default"), 60, 350, defaultValue, false);
    extendedButton =
        new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Extended"), 60, 400, extendedValue, false);
    for (int32_t row = 0; row < rowCount; ++row)
        keyboardValues[row] =
            new GameMenu::Button(widgetLayer, owner, String(L""), keyboardX, 0, firstKeyboardValue + row, true);
    for (int32_t row = 0; row < rowCount; ++row)
        gamepadValues[row] =
            new GameMenu::Button(widgetLayer, owner, String(L""), gamepadX, 0, firstGamepadValue + row, true);
    backFlag = 0;
    refreshBindings();
    update();
}

int32_t GameMenu::Control::nextScreen()
{
    if (backFlag)
        return returnState;
    return selection == extendedValue ? extendedControlState : returnState;
}

void GameMenu::Control::deleteWidgets()
{
    delete titleText;
    titleText = nullptr;
    for (GameMenu::Text*& label : labels) {
        delete label;
        label = nullptr;
    }
    for (GameMenu::Text** text : {&keyboardHeader, &gamepadHeader}) {
        delete *text;
        *text = nullptr;
    }
    for (GameMenu::Button** button : {&changeButton, &defaultButton, &extendedButton}) {
        delete *button;
        *button = nullptr;
    }
    for (int32_t row = 0; row < rowCount; ++row) {
        delete keyboardValues[row];
        delete gamepadValues[row];
        keyboardValues[row] = gamepadValues[row] = nullptr;
    }
}

void GameMenu::Control::close()
{
    deleteWidgets();
    done = 1;
}

GameMenu::Button* GameMenu::Control::buttonOf(int32_t value) const
{
    switch (value) {
    case changeValue:
        return changeButton;
    case defaultValue:
        return defaultButton;
    case extendedValue:
        return extendedButton;
    default:
        break;
    }
    if (value >= firstKeyboardValue && value < firstKeyboardValue + rowCount)
        return keyboardValues[value - firstKeyboardValue];
    if (value >= firstGamepadValue && value < firstGamepadValue + rowCount)
        return gamepadValues[value - firstGamepadValue];
    return nullptr;
}

void GameMenu::Control::layOut()
{
    D3D::Device::SwapChain* chain = menu->swapChain();
    const int32_t height = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 768;
    const int32_t step = rowStep(height);
    for (int32_t row = 0; row < rowCount; ++row) {
        const int32_t y = 200 + row * step;
        labels[row]->y = y;
        keyboardValues[row]->y = y;
        gamepadValues[row]->y = y;
    }
}

void GameMenu::Control::update()
{
    if (!done)
        build(noScreen);
    if (!titleText)
        return;
    layOut();
    for (int32_t value = changeValue; value < firstGamepadValue + rowCount; ++value) {
        GameMenu::Button* button = buttonOf(value);
        if (button && button->enabled)
            button->setHighlight(value == selection);
    }
    if (focus == waitingForRelease && !menu->inputHeld[inConfirm])
        focus = capturing;
    takePressedInput();
}

bool GameMenu::Control::takePressedInput()
{
    if (focus != capturing || !input)
        return false;
    const InputCode code = input->detectPressedInput();
    if (code.index == -1 || !assign(code))
        return false;
    refreshBindings();
    focus = valueGrid;
    holdCapturedAction((selection - firstKeyboardValue) % rowCount);
    return true;
}

void GameMenu::Control::holdCapturedAction(int32_t row)
{
    const int32_t held = menuInputOf(row);
    if (held < 0)
        return;
    menu->inputHeld[held] = 1;
    if (held <= inDown)
        menu->repeatAt[held] = raceNow() + firstRepeat;
}

bool GameMenu::Control::assign(const InputCode& code)
{
    ::Control* bindings = menu->controls;
    if (!bindings)
        return false;
    const bool keyboard = selection >= firstKeyboardValue && selection < firstKeyboardValue + rowCount;
    const bool gamepad = selection >= firstGamepadValue && selection < firstGamepadValue + rowCount;
    if (!keyboard && !gamepad)
        return false;
    const int32_t row = selection - (keyboard ? firstKeyboardValue : firstGamepadValue);
    BindingSet& set = keyboard ? bindings->keyboardSet : bindings->joystickSet;
    if (!set.base)
        return false;

    InputCode taken = code;
    // The wheel has no held state: a notch presses its code for one poll.
    if (taken.device == InputCode::Mouse && (taken.index == UserInput::wheelUp || taken.index == UserInput::wheelDown))
        taken.variant = 1;
    const void* address = UserInput::addressOfCode(taken, *set.base);
    if (!address)
        return false;
    const bool joystick = taken.device == InputCode::Joystick;
    const bool axis = UserInput::isAxisCode(taken);
    // Keyboard values take keys and mouse inputs; gamepad values joystick
    // buttons and directions, and the four steering and throttle rows axes.
    if (keyboard ? joystick : (!joystick || (axis && row > lastAxisRow)))
        return false;

    // Only an input that is taken leaves the other actions of its group.
    for (BindingSet* other : {&bindings->keyboardSet, &bindings->joystickSet}) {
        const auto clearMatches = [&](const int32_t* slots, size_t count) {
            for (size_t i = 0; i < count; ++i)
                if (slotAddress(*other, slots[i]) == address)
                    clearSlot(*other, slots[i]);
        };
        if (row < firstMenuRow)
            clearMatches(raceGroupSlots, std::size(raceGroupSlots));
        else
            clearMatches(menuGroupSlots, std::size(menuGroupSlots));
    }

    const int32_t slot = rowSlots[row];
    if (!axis) {
        set.keys[slot - 1] = static_cast<const uint8_t*>(address);
        // A button on a steering or throttle row replaces that action's axis.
        if (gamepad && row <= lastAxisRow)
            set.axes[row <= 1 ? 0 : 1] = nullptr;
        return true;
    }
    // An axis drives both rows of its action; the invert flag turns the
    // direction the player pushed into this row's direction (left and brake
    // are negative).
    const bool negative = taken.negative != 0;
    const int32_t which = row <= 1 ? 0 : 1;
    const int32_t firstKey = which == 0 ? 2 : 0;
    set.keys[firstKey] = nullptr;
    set.keys[firstKey + 1] = nullptr;
    set.axes[which] = static_cast<const float*>(address);
    const bool rowIsNegative = row == 0 || row == 3;
    set.invertAxis[which] = negative != rowIsNegative ? 1u : 0u;
    return true;
}

void GameMenu::Control::refreshBindings()
{
    if (!titleText)
        return;
    const String none = GameMenuTexts::lookUp(L"NotAssigned");
    ::Control* bindings = menu->controls;
    for (int32_t row = 0; row < rowCount; ++row) {
        const int32_t slot = rowSlots[row];
        String keyboardName(L"");
        String gamepadName(L"");
        if (bindings) {
            const BindingSet& keys = bindings->keyboardSet;
            const BindingSet& pad = bindings->joystickSet;
            keyboardName = inputName(keys, slotAddress(keys, slot));
            const void* padAddress = slotAddress(pad, slot);
            if (!padAddress && row <= lastAxisRow)
                padAddress = pad.axes[row <= 1 ? 0 : 1];
            gamepadName = inputName(pad, padAddress);
        }
        keyboardValues[row]->setText(keyboardName.length() ? keyboardName : none);
        gamepadValues[row]->setText(gamepadName.length() ? gamepadName : none);
    }
}

void GameMenu::Control::onKeyUp()
{
    int32_t first = 0;
    if (focus == buttonColumn)
        first = changeValue;
    else if (focus == valueGrid)
        first = selection < firstGamepadValue ? firstKeyboardValue : firstGamepadValue;
    else
        return;
    if (selection > first) {
        --selection;
        menu->playSound(0);
    }
}

void GameMenu::Control::onKeyDown()
{
    int32_t last = 0;
    if (focus == buttonColumn)
        last = extendedValue;
    else if (focus == valueGrid)
        last = (selection < firstGamepadValue ? firstKeyboardValue : firstGamepadValue) + rowCount - 1;
    else
        return;
    if (selection < last) {
        ++selection;
        menu->playSound(0);
    }
}

void GameMenu::Control::onKeyLeft()
{
    if (focus != valueGrid)
        return;
    selection += selection < firstGamepadValue ? rowCount : -rowCount;
    menu->playSound(0);
}

void GameMenu::Control::onKeyRight()
{
    onKeyLeft();
}

void GameMenu::Control::onKeyConfirm()
{
    if (focus == buttonColumn) {
        if (selection == changeValue) {
            selection = firstKeyboardValue;
            focus = valueGrid;
        } else if (selection == defaultValue) {
            if (::Control* bindings = menu->controls) {
                ::Control::setDefaultKeys(bindings->keyboardSet);
                ::Control::setDefaultJoystick(bindings->joystickSet);
            }
            refreshBindings();
        } else if (selection == extendedValue) {
            close();
        }
    } else if (focus == valueGrid) {
        focus = waitingForRelease;
        if (GameMenu::Button* button = buttonOf(selection))
            button->setText(GameMenuTexts::lookUp(L"PressKey"));
    }
    menu->playSound(1);
}

void GameMenu::Control::onKeyBack()
{
    if (focus == buttonColumn) {
        backFlag = 1;
        close();
    } else if (focus == valueGrid) {
        focus = buttonColumn;
        selection = changeValue;
    } else {
        // The input behind back is one to bind like any other: the capture
        // takes it first. Only one the value cannot take ends the capture,
        // since without a joystick a gamepad value would wait for ever.
        if (takePressedInput())
            return;
        focus = valueGrid;
        refreshBindings();
    }
    menu->playSound(2);
}
