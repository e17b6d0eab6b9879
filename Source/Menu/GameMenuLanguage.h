#pragma once
// The language screen (state 20; after the intro on a first start): one row
// with the name of the current language. Left and right switch language at
// once, so this screen and every text looked up later read in it. Confirm
// and back both leave. The next save of the settings keeps the choice in the
// registry.

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"

class GameMenu::Language : public GameMenu::Screen
{
public:
    static constexpr int32_t languageValue = 36;

    // The shown language is the current one.
    explicit Language(GameMenu& owner);
    ~Language() override;
    static Screen* make(GameMenu& menu) { return new Language(menu); }

    void build(int32_t returnTo);
    void enter(int32_t returnTo) override { build(returnTo); }
    int32_t nextScreen() override { return returnState; }
    void close() override;
    void update() override;
    void onKeyLeft() override { step(-1); }
    void onKeyRight() override { step(1); }
    void onKeyConfirm() override { leave(); }
    void onKeyBack() override { leave(); }

    int32_t returnState = noScreen;
    int32_t selection = languageValue;
    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* languageLabel = nullptr;
    GameMenu::ButtonPrevNext* languageButton = nullptr;
    int32_t languageIndex = 0;

private:
    void deleteWidgets();
    void step(int32_t by);
    void leave();
    // The shown language's name in the current language.
    String languageName() const;
};
