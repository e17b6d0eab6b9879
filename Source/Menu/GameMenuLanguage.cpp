#include "Menu/GameMenuLanguage.h"

#include "Menu/GameMenuTexts.h"

GameMenu::Language::Language(GameMenu& owner)
    : Screen(owner), languageIndex(gLanguage ? gLanguage->currentIndex() : 0)
{
}

GameMenu::Language::~Language()
{
    deleteWidgets();
}

String GameMenu::Language::languageName() const
{
    if (!gLanguage)
        return String(L"");
    // A pack whose name has no text of its own shows the name itself.
    return String(gLanguage->getText(nullptr, gLanguage->getName(languageIndex), -1, true));
}

void GameMenu::Language::build(int32_t returnTo)
{
    if (titleText)
        return;
    returnState = returnTo;
    GameMenu& owner = *menu;
    titleText = new GameMenu::Text(0, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"Language"), owner.titleX,
                                   owner.titleY, -1);
    titleText->colour = GameMenuTexts::labelGrey;
    languageLabel =
        new GameMenu::Text(0, owner.fonts[buttonFont], owner, GameMenuTexts::lookUp(L"Language"), 100, 0, -1);
    languageButton = new GameMenu::ButtonPrevNext(0, owner, languageName(), 100, 300, languageValue, 0);
    languageLabel->colour = GameMenuTexts::labelGrey;
    update();
}

void GameMenu::Language::deleteWidgets()
{
    delete titleText;
    delete languageLabel;
    delete languageButton;
    titleText = languageLabel = nullptr;
    languageButton = nullptr;
}

void GameMenu::Language::close()
{
    deleteWidgets();
    done = 1;
}

void GameMenu::Language::update()
{
    if (!done)
        build(noScreen);
    if (!titleText)
        return;
    languageLabel->y = 270;
    languageButton->place(310);
    if (languageButton->enabled)
        languageButton->setHighlight(languageButton->id == selection);
}

void GameMenu::Language::step(int32_t by)
{
    if (selection != languageValue || !gLanguage || !titleText)
        return;
    const int32_t next = languageIndex + by;
    if (next < 0 || next >= gLanguage->count())
        return;
    languageIndex = next;
    gLanguage->setCurrent(languageIndex);
    languageButton->setText(languageName());
    titleText->setText(GameMenuTexts::lookUp(L"Language"));
    languageLabel->setText(GameMenuTexts::lookUp(L"Language"));
    menu->playSound(0);
}

void GameMenu::Language::leave()
{
    close();
    menu->playSound(2);
}
