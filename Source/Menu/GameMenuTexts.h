#pragma once
// Texts of the settings screens: looked up by key in the current language
// whenever a screen builds or rewrites a widget.

#include "Core/Color.h"
#include "Core/Language.h"
#include "Core/String.h"

namespace GameMenuTexts {

// The text of key in the current language; empty when there is none (or no
// language object).
inline String lookUp(const wchar_t* key)
{
    return gLanguage ? String(gLanguage->getText(nullptr, String(key))) : String(L"");
}

// The label colour of the settings screens: grey 150, opaque.
inline constexpr Color labelGrey{150, 150, 150, 255};

}
