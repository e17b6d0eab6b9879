#include "Core/Language.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/Resource.h"

#include <cwchar>
#include <new>

Language* gLanguage = nullptr;

namespace {

constexpr const wchar_t* kEnglish = L"English";
constexpr uint16_t kResourceTypeRcData = 10;

struct LanguageIds {
    const wchar_t* name;
    uint16_t ids[16];
};

// Windows language identifiers of the languages with a name of their own.
// Spanish (0x40A and its 18 variants) is handled apart.
constexpr LanguageIds kSystemLanguages[] = {
    {L"Arabic", {0x401, 0x801, 0xC01, 0x1001, 0x1401, 0x1801, 0x1C01, 0x2001, 0x2401, 0x2801, 0x2C01,
                 0x3001, 0x3401, 0x3801, 0x3C01, 0x4001}},
    {L"Bulgarian", {0x402}},
    {L"Catalan", {0x403}},
    {L"ChineseT", {0x404, 0x804, 0xC04, 0x1004, 0x1404}},
    {L"Danish", {0x406}},
    {L"German", {0x407, 0x807, 0xC07, 0x1007, 0x1407}},
    {L"Greek", {0x408}},
    {L"French", {0x40C, 0x80C, 0xC0C, 0x100C, 0x140C, 0x180C}},
    {L"Hebrew", {0x40D}},
    {L"Hungarian", {0x40E}},
    {L"Italian", {0x410, 0x810}},
    {L"Dutch", {0x413, 0x813}},
    {L"Polish", {0x415}},
    {L"Brazilian", {0x416, 0x816}},
    {L"Romanian", {0x417, 0x418}},
    {L"Russian", {0x419}},
    {L"Croatian", {0x41A, 0x101A}},
    {L"Serbian", {0x81A, 0xC1A, 0x181A, 0x1C1A}},
    {L"Albanian", {0x41C}},
    {L"Swedish", {0x41D, 0x81D}},
    {L"Turkish", {0x41F}},
    {L"Indonesian", {0x421}},
    {L"Ukrainian", {0x422}},
    {L"Persian", {0x429}},
    {L"Afrikaans", {0x436}},
    {L"Malay", {0x43E, 0x83E}},
    {L"Esperanto", {0x48F}},
};

// The saved index: a 4-byte binary value valueName under key. False without a
// key or such a value; a value of another type or size counts as absent
// (value may then be partly written).
bool readSavedIndex(HKEY key, const wchar_t* valueName, int32_t& value)
{
    if (key == nullptr)
        return false;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    return RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
           && type == REG_BINARY && size == sizeof(value);
}

} // namespace

Language::Language() = default;

Language::~Language()
{
    for (int32_t i = 0; i < count(); ++i)
        delete *languages.at(i);
}

Language::NationalLanguage* Language::languageAt(int32_t index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return const_cast<DynArray<NationalLanguage*>&>(languages).data()[index];
}

uint32_t Language::addRelation(void* context, const wchar_t* key, const wchar_t* text)
{
    NationalLanguage* language = context ? languageAt(*static_cast<const int32_t*>(context)) : nullptr;
    if (language == nullptr || key == nullptr)
        return 0;

    if (preloading) {
        if (!isWantedKey(key))
            return 1;
        keysLeft -= 1;
    }

    Pair* pair = new (std::nothrow) Pair{String(key), String(text)};
    if (pair == nullptr || language->pairs.append(pair) == nullptr) {
        delete pair;
        return 0;
    }
    return preloading ? (keysLeft >= 1 ? 1 : 0) : 1;
}

void Language::addBuiltInPacks(const Pack* packs, int32_t packCount)
{
    for (int32_t i = 0; packs && i < packCount; ++i)
        addPack(packs[i]);
    setCurrent(englishIndex());
}

void Language::addPack(const Pack& pack)
{
    if (find(pack.name.text()) >= 0)
        return;
    auto* language = new (std::nothrow) NationalLanguage;
    if (language == nullptr)
        return;
    language->name = pack.name;
    language->gameTableId = pack.gameTableId;
    language->errorTableId = pack.errorTableId;

    int32_t index = count();
    NationalLanguage** slot = languages.at(index);
    if (slot == nullptr) {
        delete language;
        return;
    }
    *slot = language;
}

int32_t Language::find(const wchar_t* name) const
{
    if (name == nullptr)
        return -1;
    int32_t nameLength = int32_t(std::wcslen(name));
    for (int32_t i = 0; i < count(); ++i)
        if (languageAt(i)->name.sameText(name, nameLength))
            return i;
    return -1;
}

int32_t Language::englishIndex() const
{
    return find(kEnglish);
}

bool Language::isWantedKey(const wchar_t* key) const
{
    int32_t keyLength = int32_t(std::wcslen(key));
    auto& wanted = const_cast<ArrayHeap<String>&>(wantedKeys);
    for (int32_t i = 0; i < wanted.count(); ++i)
        if (wanted.at(i)->sameText(key, keyLength))
            return true;
    return false;
}

void Language::keepOnlyWantedKeys(NationalLanguage& language)
{
    auto* node = language.pairs.head();
    while (node) {
        auto* next = node->next;
        if (node->item == nullptr || !isWantedKey(node->item->key.text()))
            delete language.pairs.unlink(node);
        node = next;
    }
}

void Language::setCurrent(int32_t index)
{
    NationalLanguage* next = languageAt(index);
    if (next == nullptr)
        return;

    // "English" keeps its full list: it is every other language's fallback.
    NationalLanguage* leaving = languageAt(current);
    if (index != current && leaving != nullptr && current != englishIndex())
        keepOnlyWantedKeys(*leaving);

    current = index;
    next->pairs.deleteAll();
    loadTable(next->gameTableId, index);
    loadTable(next->errorTableId, index);
}

void Language::loadPacks(const String* keys, int32_t keyCount)
{
    wantedKeys.resize(keyCount < 1 ? 0 : keyCount);
    if (keys != nullptr)
        for (int32_t i = 0; i < wantedKeys.count(); ++i)
            *wantedKeys.at(i) = keys[i];

    preloading = 1;
    for (int32_t i = 0; i < count(); ++i) {
        NationalLanguage* language = languageAt(i);
        keysLeft = wantedKeys.count();
        loadTable(language->gameTableId, i);
        loadTable(language->errorTableId, i);
    }
    preloading = 0;
}

void Language::loadTable(uint32_t id, int32_t index)
{
    CRASH_TRACE();
    if (id == 0 || id > 0xFFFF || (preloading && keysLeft == 0))
        return;
    Resource resource(uint16_t(id), kResourceTypeRcData);
    if (!resource.isOpen)
        return;
    FileArray table(resource);
    if (table.isOpen && languageAt(index) != nullptr)
        RelationFile::parse(table, &index, *this);
}

const String* Language::lookUp(int32_t index, const String& key) const
{
    NationalLanguage* language = languageAt(index);
    if (language == nullptr)
        return nullptr;
    for (auto* node = language->pairs.head(); node; node = node->next)
        if (node->item && node->item->key.sameText(key))
            return &node->item->text;
    return nullptr;
}

const String& Language::getText(const String* prefix, const String& key, int32_t language, bool keyAsFallback)
{
    if (keyAsFallback)
        fallbackText = key;
    const String& fallback = keyAsFallback ? fallbackText : emptyText;

    String joined;
    if (prefix != nullptr)
        joined = *prefix + key;
    const String& fullKey = prefix != nullptr ? joined : key;

    if (count() == 0)
        return fallback;

    // Any index outside the list but -1 (the current one) asks for "English".
    int32_t index = language == -1 ? current : language;
    if (index < 0 || index >= count())
        index = englishIndex();

    if (const String* text = lookUp(index, fullKey))
        return *text;
    if (const String* text = lookUp(englishIndex(), fullKey))
        return *text;
    return fallback;
}

String Language::getName(int32_t index) const
{
    NationalLanguage* language = languageAt(index);
    return language ? language->name : String(L"Not Found");
}

const wchar_t* Language::nameForLanguageId(uint16_t languageId)
{
    // Spanish: 0x40A and its variants 0x80A .. 0x4C0A in steps of 0x400.
    if ((languageId & 0x3FF) == 0x00A && languageId >= 0x40A && languageId <= 0x4C0A)
        return L"Spanish";
    for (const LanguageIds& entry : kSystemLanguages)
        for (uint16_t id : entry.ids)
            if (id != 0 && id == languageId)
                return entry.name;
    return kEnglish;
}

int32_t Language::systemLanguageName() const
{
    return find(nameForLanguageId(GetUserDefaultLangID()));
}

void Language::saveToRegistry(HKEY key, const wchar_t* valueName) const
{
    if (key == nullptr)
        return;
    int32_t value = current;
    RegSetValueExW(key, valueName, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

bool Language::readSavedChoice(HKEY key, const wchar_t* valueName) const
{
    int32_t value = 0;
    return readSavedIndex(key, valueName, value);
}

void Language::applySavedChoice(HKEY key, const wchar_t* valueName)
{
    int32_t value = 0;
    if (!readSavedIndex(key, valueName, value))
        value = 0;
    setCurrent(value);
}
