#include "Core/String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <tuple>

namespace
{

std::wstring str(const String& s) { return std::wstring(s.text(), size_t(s.length())); }

TEST(String, StoredTextAndBorrowedBuffers)
{
    EXPECT_EQ(String(static_cast<const wchar_t*>(nullptr)).buffer(), nullptr);
    // An empty source still gets a buffer holding the NUL.
    String empty(L"");
    ASSERT_NE(empty.buffer(), nullptr);
    EXPECT_EQ(empty.buffer()[0], 0);
    EXPECT_EQ(empty.length(), 0);
    String abc(L"abc");
    EXPECT_EQ(std::wstring(abc.buffer(), 4), std::wstring(L"abc", 4));

    // Changing a borrowed String copies first; the borrowed text is never written.
    wchar_t text[] = L"Data\\Menu.MNU";
    {
        String lowered = String::borrowed(text), same = String::borrowed(text);
        EXPECT_EQ(lowered.buffer(), text);
        lowered.toLower();
        EXPECT_EQ(str(lowered), L"data\\menu.mnu");
        same.format(L"%ls", L"0123456789abc"); // same length: only an owned buffer may be reused
        EXPECT_FALSE(same.isNotOwned());
    }
    EXPECT_STREQ(text, L"Data\\Menu.MNU");
}

TEST(String, AppendReplaceFindAndSubstring)
{
    String s;
    s.append(2, L"ab");
    s.append(1, nullptr);
    s.append(3, L"cdef");
    s.append(s.length(), s.buffer()); // from its own buffer
    EXPECT_EQ(str(s), L"abcdeabcde");
    EXPECT_EQ(str(String(L"Data") + static_cast<const wchar_t*>(nullptr)), L"Data");

    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*> replaced[] = {
        {L"x////y", L"//", L"/", L"x/y"}, {L"a///b", L"//", L"/", L"a/b"},
        {L"a-a", L"a", L"aa", L"aa-aa"}, // a replacement holding the pattern must not loop
        {L"abcabc", L"b", L"", L"acac"}};
    for (const auto& [text, pattern, replacement, expected] : replaced) {
        String t(text);
        t.replace(pattern, replacement);
        EXPECT_EQ(str(t), expected) << text;
    }
    String self(L"abc");
    self.replace(self, L"z");
    EXPECT_EQ(str(self), L"z");

    const String aab(L"aab");
    EXPECT_EQ(aab.find(L"ab"), 1);
    EXPECT_EQ(aab.find(L"aabb"), -1); // longer than what is left
    EXPECT_EQ(aab.find(L"b", -5), 2);

    String abc(L"abcdef");
    EXPECT_EQ(str(abc.substring(2)), L"cdef");
    EXPECT_EQ(str(abc.substring(4, 10)), L"ef");
    EXPECT_EQ(str(abc.substring(1, 2)), L"bc");
    for (const String& none : {abc.substring(6, 1), abc.substring(-1, 2), abc.substring(0, 0), String().substring(0)}) {
        ASSERT_NE(none.buffer(), nullptr);
        EXPECT_EQ(none.length(), 0);
    }
}

TEST(String, PathPartsAndFormatting)
{
    String file(L"Data\\Menu\\Menu.mnu");
    EXPECT_EQ(file.getExtension(), file.buffer() + 15);
    EXPECT_EQ(str(file.getFolder()), L"Data\\Menu");
    EXPECT_EQ(str(file.getFileName()), L"Menu.mnu");
    // A '/' anywhere wins over backslashes.
    EXPECT_EQ(str(String(L"a/b\\c").getFolder()), L"a");
    EXPECT_EQ(str(String(L"a/b\\c").getFileName()), L"b\\c");
    EXPECT_EQ(String(L"readme").getFolder().length(), 0);

    String s;
    s.format(L"%s - %s %d", L"Korvanta", L"1.0", 42); // %s is a wide text
    EXPECT_EQ(str(s), L"Korvanta - 1.0 42");
    s.format(L"%s", std::wstring(9000, L'x').c_str());
    EXPECT_EQ(s.length(), 8191);
    EXPECT_EQ(s.buffer()[8191], 0);
}

TEST(String, ConversionsStayWithinTheirInput)
{
    NarrowText narrow = String(L"Data\\Map\\Valley.tee").toNarrow();
    NarrowText other = wideToNarrow(~0u, L"second"); // a second live temporary
    EXPECT_STREQ(narrow.buffer, "Data\\Map\\Valley.tee");
    EXPECT_EQ(narrow.length, 19u);
    EXPECT_STREQ(other.buffer, "second");

    NarrowText longText = wideToNarrow(~0u, std::wstring(10000, L'k').c_str());
    ASSERT_NE(longText.buffer, nullptr);
    EXPECT_EQ(std::strlen(longText.buffer), 10000u);

    const char bytes[] = {'a', 'b', 'c', 'X', 'Y', 'Z'}; // no NUL anywhere
    EXPECT_STREQ(narrowToWide(3, bytes).buffer, L"abc");
    String s;
    EXPECT_TRUE(s.assignNarrow(3, bytes));
    EXPECT_EQ(str(s), L"abc");
    EXPECT_FALSE(s.assignNarrow(4, nullptr));
    EXPECT_FALSE(s.assignNarrow(-1, bytes));
    EXPECT_EQ(s.buffer(), nullptr);

    const char utf8[] = "A\xC3\xA9\xE2\x82\xAC!";
    EXPECT_STREQ(std::unique_ptr<wchar_t[]>(utf8ToWide(sizeof(utf8) - 1, utf8)).get(), L"A\x00E9\x20AC!");
    const char cut[] = {'x', '\xE2', '\x82'}; // a sequence cut off by the end is dropped
    EXPECT_STREQ(std::unique_ptr<wchar_t[]>(utf8ToWide(3, cut)).get(), L"x");
    const std::string many(300, 'q'); // longer than one block of the decoder
    EXPECT_EQ(std::wcslen(std::unique_ptr<wchar_t[]>(utf8ToWide(300, many.c_str())).get()), 300u);
    const wchar_t units[] = {0x41C3, 0xFFA9, 0x0042}; // only the low byte of each unit counts
    EXPECT_STREQ(std::unique_ptr<wchar_t[]>(utf8ToWide(3, units)).get(), L"\x00E9" L"B");
}

}
