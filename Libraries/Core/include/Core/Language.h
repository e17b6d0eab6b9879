#pragma once

#include "Core/ArrayHeap.h"
#include "Core/DynArray.h"
#include "Core/RelationFile.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <windows.h>

#include <cstdint>

// The text tables of every national language and the lookup of texts by key.
//
// Each language has two tables (game texts and error texts), module resources
// of type RT_RCDATA in the text-table format. Only the current language and
// "English" hold their full tables; every other language holds just the wanted
// keys (its own name under "MyLanguage", for the language menu). A key the
// current language lacks is looked up in "English".
//
// Thread: the main thread; the crash handler also looks texts up.
class Language : public RelationFile {
public:
    // One language handed in by the application: its table ids and its name.
    struct Pack {
        uint32_t gameTableId = 0;
        uint32_t errorTableId = 0;
        String name;
    };

    struct Pair {
        String key;
        String text;
    };

    struct NationalLanguage {
        NationalLanguage() = default;
        NationalLanguage(const NationalLanguage&) = delete;
        NationalLanguage& operator=(const NationalLanguage&) = delete;
        ~NationalLanguage() { pairs.deleteAll(); }

        String name;
        uint32_t gameTableId = 0;
        uint32_t errorTableId = 0;
        SCList<Pair> pairs; // owned, in table order
    };

    Language();
    ~Language() override;
    Language(const Language&) = delete;
    Language& operator=(const Language&) = delete;

    // The parser's delivery of one line; context points at the index of the
    // language being read. False stops the parsing (preloading found every
    // wanted key).
    uint32_t addRelation(void* context, const wchar_t* key, const wchar_t* text) override;

    // Adds the packs as languages and makes "English" current (reading its tables).
    void addBuiltInPacks(const Pack* packs, int32_t count);
    // Appends a language with the pack's name and ids and no texts yet; a name
    // already present is ignored.
    void addPack(const Pack& pack);
    // Index of the language of exactly this name, else -1.
    int32_t find(const wchar_t* name) const;

    // Makes a language current and reads its tables in full; the language left
    // keeps only its wanted keys ("English" always keeps everything). An index
    // outside the list is ignored.
    void setCurrent(int32_t index);

    // Reads from every language's tables just the given keys.
    void loadPacks(const String* keys, int32_t count);
    // Reads one table resource into a language (all of it, or only the wanted
    // keys while preloading). A missing resource changes nothing.
    void loadTable(uint32_t id, int32_t index);

    // The text of prefix + key in the given language (-1: the current one),
    // else in "English", else the key itself (without the prefix) when
    // keyAsFallback is set, else an empty text. The reference stays valid
    // until that language's texts change (setCurrent) or, for the key itself,
    // until the next call with keyAsFallback.
    const String& getText(const String* prefix, const String& key, int32_t language = -1,
                          bool keyAsFallback = false);

    // The language's name, or "Not Found" for an index outside the list.
    String getName(int32_t index) const;

    // The index of the loaded language that matches the user's Windows
    // language, -1 when that language is not loaded.
    int32_t systemLanguageName() const;
    // The language name for a Windows language identifier; "English" for
    // every identifier without a language of its own.
    static const wchar_t* nameForLanguageId(uint16_t languageId);

    // The current index as the 4-byte REG_BINARY value valueName under key.
    // Nothing happens without a key.
    void saveToRegistry(HKEY key, const wchar_t* valueName) const;
    // True when key holds a 4-byte value of that name.
    bool readSavedChoice(HKEY key, const wchar_t* valueName) const;
    // Makes the saved index current (0 when the value cannot be read).
    void applySavedChoice(HKEY key, const wchar_t* valueName);

    int32_t count() const { return int32_t(languages.blocks() * languages.blockSize()); }
    int32_t currentIndex() const { return current; }
    NationalLanguage* languageAt(int32_t index) const;

private:
    int32_t englishIndex() const;
    const String* lookUp(int32_t index, const String& key) const;
    void keepOnlyWantedKeys(NationalLanguage& language);
    bool isWantedKey(const wchar_t* key) const;

    ArrayHeap<String> wantedKeys;
    uint32_t preloading = 0;
    int32_t keysLeft = 0;
    // Block size 1, so the array's count is the number of languages.
    DynArray<NationalLanguage*> languages{1};
    int32_t current = 0;
    String fallbackText;
    String emptyText{L""};
};

// The one language object, created at start-up and deleted at shutdown.
extern Language* gLanguage;
