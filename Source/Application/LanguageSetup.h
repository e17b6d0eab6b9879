#pragma once

#include <windows.h>

#include <cstdint>

class Language;

// The language choice at start-up, apart from the application object so that
// it can run against any language object, registry key and Windows language.
class LanguageSetup
{
public:
    // Registers the built-in languages (German: game texts 159, error texts
    // 225; English: 141, 109), lets every language read its own name
    // ("MyLanguage"), then makes current the index saved under the registry
    // value "Language" when there is one, else the language matching
    // systemLanguageId. An index that names no language leaves English current.
    static void run(Language& language, HKEY key, uint16_t systemLanguageId);

    static constexpr uint32_t germanGameTexts = 159;
    static constexpr uint32_t germanErrorTexts = 225;
    static constexpr uint32_t englishGameTexts = 141;
    static constexpr uint32_t englishErrorTexts = 109;
};
