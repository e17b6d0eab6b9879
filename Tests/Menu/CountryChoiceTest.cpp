// The country choice over a map folder the test writes: countries by code,
// the difficulty and "Continue" by the progress records, the championship's
// start, the picture's cross-fade on the race clock, and the country table.
#include "MenuMapFolder.h"
#include "MenuSoundProbe.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuChooseCountry.h"

#include "Landscape/Scene.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

namespace {

class CountryChoice : public testing::Test
{
protected:
    CountryChoice() : application(folder) {}
    void SetUp() override
    {
        gFrameFactor = 1.0f;
        for (Game::ChampionshipEntry& entry : scene.game.championshipTable)
            entry = Game::ChampionshipEntry{};
    }

    GameMenu::ChooseCountry& screen()
    {
        auto* s = dynamic_cast<GameMenu::ChooseCountry*>(menu.createChooseCountry());
        EXPECT_NE(s, nullptr);
        return *s;
    }
    std::vector<std::wstring> codes(GameMenu::ChooseCountry& s)
    {
        std::vector<std::wstring> out;
        for (auto* node = s.countries.head(); node; node = node->next)
            out.push_back(node->item->code.text());
        return out;
    }
    Game::ChampionshipEntry* entryOf(int8_t a, int8_t b)
    {
        for (Game::ChampionshipEntry& entry : scene.game.championshipTable)
            if (entry.key0 == a && entry.key1 == b)
                return &entry;
        return nullptr;
    }

    MenuStandIn::Clock clock{5000};
    MenuMaps::Folder folder{L"KorvantaCountries"};
    MenuMaps::Application application;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene, &application};
    SoundProbe sounds{menu};
};

}

TEST(CountryTable, CodesGiveTheirNamesAndOthersNone)
{
    const wchar_t* const table[][2] = {
        {L"AF", L"Afrika"},  {L"DE", L"Deutschland"}, {L"FR", L"Frankreich"}, {L"ES", L"Spanien"},
        {L"IT", L"Italien"}, {L"US", L"Amerika"},     {L"CA", L"Kanada"},     {L"GL", L"Gr\u00F6nland"},
        {L"CN", L"China"},   {L"IN", L"Indien"},      {L"AU", L"Australien"}, {L"BR", L"Brasilien"},
        {L"RU", L"Russland"}, {L"de", L""},           {L"DEU", L""},          {L"D", L""},
        {L"", L""},
    };
    for (const auto& row : table)
        EXPECT_EQ(std::wstring(GameMenu::getCountryName(String(row[0])).text()), row[1]) << row[0];
}

TEST_F(CountryChoice, MapsGroupByCodeAndACountryKeepsThreeOfThem)
{
    ASSERT_TRUE(folder.level(L"de1.tee", L"DE One", L"DE", 1));
    ASSERT_TRUE(folder.level(L"fr1.tee", L"FR One", L"FR", 2));
    ASSERT_TRUE(folder.level(L"de2.tee", L"DE Two", L"DE", 2));
    ASSERT_TRUE(folder.level(L"de3.tee", L"DE Three", L"DE", 3));
    ASSERT_TRUE(folder.level(L"de4.tee", L"DE Four", L"DE", 9));
    ASSERT_TRUE(folder.level(L"x.txt", L"Not a level", L"IT", 1));
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    sounds.mark();
    ASSERT_NE(choice.titleText, nullptr);
    const std::vector<std::wstring> got = codes(choice);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(choice.maps.count(), 5) << "every level is read";
    GameMenu::ChooseCountry::Country* de = nullptr;
    GameMenu::ChooseCountry::Country* fr = nullptr;
    for (auto* node = choice.countries.head(); node; node = node->next)
        (node->item->code.text()[0] == L'D' ? de : fr) = node->item;
    ASSERT_TRUE(de && fr);
    EXPECT_EQ(de->mapCount, 3) << "a fourth map has no slot";
    EXPECT_EQ(fr->mapCount, 1);
    EXPECT_NE(de->entry, nullptr);
    EXPECT_EQ(de->entry, entryOf('D', 'E'));
    // With fewer maps the cross-fade cycles over those there are.
    EXPECT_EQ(fr->nextIndex(0), 0);
    EXPECT_EQ(de->nextIndex(1), 2);
    EXPECT_EQ(de->nextIndex(2), 0);
    ASSERT_NE(de->label, nullptr);
    EXPECT_EQ(de->label->id, 94);
}

TEST_F(CountryChoice, TheDifficultyIsBoundByTheRecordAndContinueNeedsARunningOne)
{
    ASSERT_TRUE(folder.level(L"de.tee", L"DE One", L"DE", 1));
    ASSERT_TRUE(folder.level(L"fr.tee", L"FR One", L"FR", 1));
    Game::ChampionshipEntry* de = scene.game.findChampionshipEntry('D', 'E');
    ASSERT_NE(de, nullptr);
    de->unlocked = 1;
    de->raceNumber = 3;
    de->difficulty = 0;
    de->points[0] = 20;
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    sounds.mark();
    while (choice.selectedCountry() && choice.selectedCountry()->entry != de)
        choice.onKeyRight();
    ASSERT_NE(choice.selectedCountry(), nullptr);
    // The highest allowed difficulty, not the running one: no Continue.
    EXPECT_EQ(choice.difficulty, 97);
    EXPECT_FALSE(choice.continueShown());
    choice.onKeyDown();
    EXPECT_EQ(choice.focus, GameMenu::ChooseCountry::selector);
    sounds.mark();
    choice.onKeyRight();
    EXPECT_EQ(choice.difficulty, 97) << "no higher than the record allows";
    EXPECT_EQ(sounds.last(), -1);
    choice.onKeyLeft();
    EXPECT_EQ(choice.difficulty, 96);
    EXPECT_TRUE(choice.continueShown()) << "race number and difficulty agree";
    choice.onKeyLeft();
    EXPECT_EQ(choice.difficulty, 96);
    // Down reaches Continue, which leads to state 24 with the record as it is.
    choice.onKeyDown();
    EXPECT_EQ(choice.focus, GameMenu::ChooseCountry::continueFocus);
    choice.onKeyConfirm();
    EXPECT_EQ(choice.done, 1u);
    EXPECT_EQ(choice.nextScreen(), GameMenu::championshipStartState);
    EXPECT_EQ(choice.chosenEntry(), de);
    EXPECT_EQ(de->raceNumber, 3);
    EXPECT_EQ(de->points[0], 20);
    EXPECT_EQ(choice.countries.count(), 0) << "only the record lives on";
    EXPECT_EQ(choice.titleText, nullptr);
    EXPECT_EQ(choice.difficultyLabel, nullptr);
    EXPECT_EQ(choice.difficultySelector, nullptr);
    EXPECT_EQ(choice.continueButton, nullptr);
    EXPECT_EQ(choice.startButton, nullptr);

    // StartChampionship starts it anew at the chosen difficulty: state 25.
    choice.reset();
    choice.enter(GameMenu::noScreen);
    while (choice.selectedCountry() && choice.selectedCountry()->entry != de)
        choice.onKeyRight();
    choice.onKeyConfirm();
    EXPECT_EQ(choice.focus, GameMenu::ChooseCountry::selector);
    choice.onKeyRight();
    EXPECT_EQ(choice.difficulty, 97);
    EXPECT_FALSE(choice.continueShown());
    choice.onKeyConfirm();
    EXPECT_EQ(choice.focus, GameMenu::ChooseCountry::startFocus) << "Continue is skipped while hidden";
    choice.onKeyConfirm();
    EXPECT_EQ(choice.nextScreen(), GameMenu::championshipStartState2);
    EXPECT_EQ(de->raceNumber, 0);
    EXPECT_EQ(de->points[0], 0);
    EXPECT_EQ(de->difficulty, 1);

    // Back from the carousel: the main screen, the record chosen, not reset.
    de->raceNumber = 2;
    choice.reset();
    choice.enter(GameMenu::noScreen);
    while (choice.selectedCountry() && choice.selectedCountry()->entry != de)
        choice.onKeyRight();
    choice.onKeyBack();
    EXPECT_EQ(choice.nextScreen(), GameMenu::mainState);
    EXPECT_EQ(choice.chosenEntry(), de);
    EXPECT_EQ(de->raceNumber, 2);
}

TEST_F(CountryChoice, ANewPlayersChampionshipStartsAtItsFirstRaceOnTheCountrysMap)
{
    // No progress records at all; the map's name does not start with its
    // country's code, which the level file holds.
    ASSERT_TRUE(folder.level(L"sprint.tee", L"Sprint", L"DE", 2));
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    ASSERT_NE(choice.selectedCountry(), nullptr);
    choice.onKeyConfirm();
    choice.onKeyConfirm();
    ASSERT_EQ(choice.focus, GameMenu::ChooseCountry::startFocus);
    choice.onKeyConfirm();
    EXPECT_EQ(choice.nextScreen(), GameMenu::championshipStartState2);
    Game::ChampionshipEntry* entry = choice.chosenEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry, entryOf('D', 'E')) << "the country's record is created";
    EXPECT_EQ(entry->raceNumber, 0);
    EXPECT_EQ(entry->difficulty, 0);
    RaceChoice race;
    Game::makeChampionshipChoice(*entry, race, folder.string());
    EXPECT_EQ(std::wstring(race.mapFile.text()), folder.path + L"sprint.tee");
    EXPECT_EQ(race.championship, 1);
}

TEST_F(CountryChoice, TheKeysMoveTheFocusAndTheSelectionStopsAtTheEnds)
{
    ASSERT_TRUE(folder.level(L"a.tee", L"AU", L"AU", 1));
    ASSERT_TRUE(folder.level(L"b.tee", L"BR", L"BR", 1));
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    sounds.mark();
    sounds.mark();
    choice.onKeyLeft();
    EXPECT_EQ(choice.selected, 0);
    EXPECT_EQ(sounds.last(), -1);
    choice.onKeyRight();
    EXPECT_EQ(choice.selected, 1);
    EXPECT_EQ(sounds.last(), 0);
    sounds.mark();
    choice.onKeyRight();
    EXPECT_EQ(choice.selected, 1);
    EXPECT_EQ(sounds.last(), -1);
    struct Step
    {
        void (GameMenu::ChooseCountry::*key)();
        int32_t focus;
        int32_t sound;
    };
    using C = GameMenu::ChooseCountry;
    const Step steps[] = {
        {&C::onKeyUp, C::carousel, 1},     {&C::onKeyDown, C::selector, 1},  {&C::onKeyDown, C::startFocus, 1},
        {&C::onKeyDown, C::startFocus, 1}, {&C::onKeyUp, C::selector, 1},    {&C::onKeyBack, C::carousel, 2},
        {&C::onKeyConfirm, C::selector, 1}, {&C::onKeyConfirm, C::startFocus, 1}, {&C::onKeyBack, C::selector, 2},
    };
    for (const Step& step : steps) {
        (choice.*step.key)();
        EXPECT_EQ(choice.focus, step.focus);
        EXPECT_EQ(sounds.last(), step.sound);
    }
    EXPECT_EQ(choice.done, 0u);
}

TEST_F(CountryChoice, TheSelectedPictureFadesOnTheClock)
{
    ASSERT_TRUE(folder.level(L"a.tee", L"ES One", L"ES", 1));
    ASSERT_TRUE(folder.level(L"b.tee", L"ES Two", L"ES", 2));
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    sounds.mark();
    GameMenu::ChooseCountry::Country& es = *choice.countries.head()->item;
    EXPECT_EQ(es.nextChange, 7000u);
    choice.layout(false);
    EXPECT_FLOAT_EQ(es.fade, 0.0f) << "not before 2000 ms";
    MenuStandIn::clockNow = 7001;
    choice.layout(false);
    EXPECT_FLOAT_EQ(es.fade, 0.05f);
    for (int i = 0; i < 20; ++i)
        choice.layout(false);
    EXPECT_EQ(es.pictureIndex, 1);
    EXPECT_FLOAT_EQ(es.fade, 0.0f);
    EXPECT_EQ(es.nextChange, 8501u);
    // The carousel's panel sizes: the selected one whole, brightness 255.
    const auto p = GameMenu::ChooseCountry::Country::placement(462, 244, 0.0f, 0);
    EXPECT_EQ(p.width, 300);
    EXPECT_EQ(p.height, 180);
    EXPECT_EQ(p.grey, 255);
    const auto q = GameMenu::ChooseCountry::Country::placement(462, 244, 1.0f, 1);
    EXPECT_EQ(q.grey, 84);
    EXPECT_EQ(GameMenu::ChooseCountry::Country::placement(462, 244, 2.0f, 2).grey, 52);
    EXPECT_EQ(q.x, 462 + int32_t(330.0f * std::sin(3.14159265f / 5.0f)));
}

TEST_F(CountryChoice, ThePanelsAndTheirLabelsTakeTheirPlacements)
{
    ASSERT_TRUE(folder.level(L"de.tee", L"DE One", L"DE", 1));
    ASSERT_TRUE(folder.level(L"fr.tee", L"FR One", L"FR", 1));
    ASSERT_TRUE(folder.level(L"it.tee", L"IT One", L"IT", 1));
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    // Snapped on entering: panel i stands i places right of the selected one.
    int32_t i = 0;
    for (auto* node = choice.countries.head(); node; node = node->next, ++i) {
        const GameMenu::ChooseCountry::Country& country = *node->item;
        const auto p = GameMenu::ChooseCountry::Country::placement(462, 244, float(i), i);
        EXPECT_EQ(country.x, p.x) << i;
        EXPECT_EQ(country.y, p.y) << i;
        EXPECT_FLOAT_EQ(country.textureWidth, float(p.width)) << i;
        EXPECT_FLOAT_EQ(country.textureHeight, float(p.height)) << i;
        EXPECT_EQ(country.colour, Color(p.grey, p.grey, p.grey, 255)) << i;
        ASSERT_NE(country.label, nullptr);
        EXPECT_FLOAT_EQ(country.label->scale, p.scale) << i;
        EXPECT_EQ(country.label->x, p.x + int32_t(10.0f * p.scale)) << i;
    }
    EXPECT_EQ(i, 3);
    // 1024 x 768 without a device: the selector and the two buttons in the
    // lower left of the free area.
    EXPECT_EQ(choice.difficultySelector->y, 768 - 200);
    EXPECT_EQ(choice.continueButton->x, 1024 - 500);
    EXPECT_EQ(choice.continueButton->y, 768 - 150);
    EXPECT_EQ(choice.startButton->x, 1024 - 500);
    EXPECT_EQ(choice.startButton->y, 768 - 100);
    choice.close();
}

TEST_F(CountryChoice, BeyondThe32RecordsACountryHasNoEntryAndNoContinue)
{
    for (int i = 0; i < Game::championshipCount; ++i) {
        Game::ChampionshipEntry& entry = scene.game.championshipTable[i];
        entry.key0 = int8_t('a' + i % 26);
        entry.key1 = int8_t('0' + i / 26);
    }
    ASSERT_TRUE(folder.level(L"ca.tee", L"CA One", L"CA", 1));
    GameMenu::ChooseCountry& choice = screen();
    menu.openScreen(GameMenu::chooseCountryState);
    sounds.mark();
    ASSERT_EQ(choice.countries.count(), 1);
    EXPECT_EQ(choice.countries.head()->item->entry, nullptr);
    EXPECT_EQ(choice.difficulty, 96);
    choice.onKeyDown();
    choice.onKeyRight();
    EXPECT_EQ(choice.difficulty, 96) << "no record: not above Easy";
    choice.onKeyDown();
    EXPECT_EQ(choice.focus, GameMenu::ChooseCountry::startFocus);
    choice.onKeyConfirm();
    EXPECT_EQ(choice.chosenEntry(), nullptr);
    EXPECT_EQ(choice.nextScreen(), GameMenu::championshipStartState2);
}
