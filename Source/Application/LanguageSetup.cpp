#include "Application/LanguageSetup.h"

#include "Core/Language.h"

void LanguageSetup::run(Language& language, HKEY key, uint16_t systemLanguageId)
{
    Language::Pack packs[2];
    packs[0].gameTableId = germanGameTexts;
    packs[0].errorTableId = germanErrorTexts;
    packs[0].name = String(L"German");
    packs[1].gameTableId = englishGameTexts;
    packs[1].errorTableId = englishErrorTexts;
    packs[1].name = String(L"English");
    language.addBuiltInPacks(packs, 2);

    const String wantedKeys[1] = {String(L"MyLanguage")};
    language.loadPacks(wantedKeys, 1);

    if (language.readSavedChoice(key, L"Language"))
        language.applySavedChoice(key, L"Language");
    else
        language.setCurrent(language.find(Language::nameForLanguageId(systemLanguageId)));
}
