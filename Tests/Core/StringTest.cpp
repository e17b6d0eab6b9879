#include "Core/String.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

std::wstring str(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

} // namespace

TEST(String, ConstructionKeepsTheBufferInvariants)
{
    String none;
    EXPECT_EQ(none.buffer(), nullptr);
    EXPECT_EQ(none.length(), 0);

    String fromNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(fromNull.buffer(), nullptr);

    String empty(L"");
    ASSERT_NE(empty.buffer(), nullptr);
    EXPECT_EQ(empty.buffer()[0], 0);
    EXPECT_EQ(empty.length(), 0);

    String abc(L"abc");
    EXPECT_EQ(abc.length(), 3);
    EXPECT_EQ(abc.buffer()[3], 0);

    String copyOfNone(none);
    EXPECT_EQ(copyOfNone.buffer(), nullptr);
    abc = none;
    EXPECT_EQ(abc.buffer(), nullptr);
    EXPECT_EQ(abc.length(), 0);
}

TEST(String, BorrowedTextIsNeverWrittenOrFreed)
{
    wchar_t text[] = L"Data\\Menu.MNU";
    {
        String borrowed = String::borrowed(text);
        EXPECT_TRUE(borrowed.isNotOwned());
        EXPECT_EQ(borrowed.buffer(), text);

        String copy(borrowed);
        EXPECT_FALSE(copy.isNotOwned());
        EXPECT_NE(copy.buffer(), text);

        String lowered = String::borrowed(text);
        lowered.toLower();
        EXPECT_EQ(str(lowered), L"data\\menu.mnu");

        String cut = String::borrowed(text);
        cut.removeExtension();
        EXPECT_EQ(str(cut), L"Data\\Menu");

        // Same length: an owned buffer would be reused, a borrowed one must not be.
        String same = String::borrowed(text);
        same.format(L"%ls", L"0123456789abc");
        EXPECT_FALSE(same.isNotOwned());
    }
    EXPECT_STREQ(text, L"Data\\Menu.MNU");
}

TEST(String, AllocateReusesAnOwnedBufferOfTheSameLength)
{
    String s(L"abcd");
    wchar_t* before = s.buffer();
    s.allocate(4);
    EXPECT_EQ(s.buffer(), before);
    EXPECT_EQ(str(s), L"abcd");

    s.allocate(2);
    ASSERT_NE(s.buffer(), nullptr);
    EXPECT_EQ(s.length(), 2);
    EXPECT_EQ(s.buffer()[2], 0);

    s.allocate(-1);
    EXPECT_EQ(s.buffer(), nullptr);
    EXPECT_EQ(s.length(), 0);
}

TEST(String, AppendAndJoin)
{
    String s;
    s.append(0, L"x");
    EXPECT_EQ(s.buffer(), nullptr);
    s.append(2, L"ab");
    s.append(1, nullptr);
    s.append(3, L"cdef");
    EXPECT_EQ(str(s), L"abcde");
    s.append(s.length(), s.buffer()); // from its own buffer
    EXPECT_EQ(str(s), L"abcdeabcde");

    String left(L"Data");
    EXPECT_EQ(str(left + static_cast<const wchar_t*>(nullptr)), L"Data");
    EXPECT_EQ(str(left + L""), L"Data");
    EXPECT_EQ(str(left + String(L"\\Map")), L"Data\\Map");
    EXPECT_EQ(str(left + left), L"DataData");
    EXPECT_EQ(str(String() + L"x"), L"x");
    EXPECT_EQ(str(left.addBackslash()), L"Data\\");
}

TEST(String, RemoveExtensionCutsAtTheLastDot)
{
    String s(L"a.b.c");
    s.removeExtension();
    EXPECT_EQ(str(s), L"a.b");
    EXPECT_EQ(s.length(), 3);
    String plain(L"abc");
    plain.removeExtension();
    EXPECT_EQ(str(plain), L"abc");
    // A buffer larger than the text still takes a same-length allocate.
    s.allocate(3);
    EXPECT_EQ(s.buffer()[3], 0);
}

TEST(String, ReplaceCollapsesRunsAndAlwaysEnds)
{
    String path(L"x////y");
    path.replace(L"//", L"/");
    EXPECT_EQ(str(path), L"x/y");

    String odd(L"a///b");
    odd.replace(L"//", L"/");
    EXPECT_EQ(str(odd), L"a/b");

    // A replacement that holds the pattern would loop for ever if searched again.
    String grow(L"a-a");
    grow.replace(L"a", L"aa");
    EXPECT_EQ(str(grow), L"aa-aa");

    String gone(L"abcabc");
    gone.replace(L"b", L"");
    EXPECT_EQ(str(gone), L"acac");

    String self(L"abc");
    self.replace(self, L"z");
    EXPECT_EQ(str(self), L"z");

    String none;
    none.replace(L"a", L"b");
    EXPECT_EQ(none.buffer(), nullptr);
}

TEST(String, FindAndSubstring)
{
    String aab(L"aab");
    EXPECT_EQ(aab.find(L"ab", 0), 1);
    EXPECT_EQ(aab.find(L"aabb", 0), -1);
    EXPECT_EQ(aab.find(L"", 0), -1);
    EXPECT_EQ(aab.find(L"a", 3), -1);
    EXPECT_EQ(aab.find(L"a", 1), 1);
    EXPECT_EQ(aab.find(L"b", -5), 2);
    EXPECT_EQ(String().find(L"a", 0), -1);

    String s(L"abcdef");
    EXPECT_EQ(str(s.substring(2)), L"cdef");
    EXPECT_EQ(str(s.substring(4, 10)), L"ef");
    EXPECT_EQ(str(s.substring(1, 2)), L"bc");
    for (String empty : {s.substring(6, 1), s.substring(-1, 2), s.substring(0, 0), String().substring(0)}) {
        ASSERT_NE(empty.buffer(), nullptr);
        EXPECT_EQ(empty.length(), 0);
    }
}

TEST(String, PathParts)
{
    String file(L"Data\\Menu\\Menu.mnu");
    EXPECT_STREQ(file.getExtension(), L"mnu");
    EXPECT_EQ(file.getExtension(), file.buffer() + 15);
    EXPECT_EQ(str(file.getFolder()), L"Data\\Menu");
    EXPECT_EQ(str(file.getFileName()), L"Menu.mnu");

    String mixed(L"a/b\\c");
    EXPECT_EQ(str(mixed.getFolder()), L"a");
    EXPECT_EQ(str(mixed.getFileName()), L"b\\c");

    String bare(L"readme");
    EXPECT_STREQ(bare.getExtension(), L"");
    EXPECT_EQ(bare.getFolder().length(), 0);
    EXPECT_EQ(str(bare.getFileName()), L"readme");
    EXPECT_STREQ(String().getExtension(), L"");
}

TEST(String, FormatTakesWideTextsAndCutsLongResults)
{
    String s;
    s.format(L"%s - %s %d", L"Korvanta", L"1.0", 42);
    EXPECT_EQ(str(s), L"Korvanta - 1.0 42");

    std::wstring longText(9000, L'x');
    s.format(L"%s", longText.c_str());
    EXPECT_EQ(s.length(), 8191);
    EXPECT_EQ(s.buffer()[8191], 0);
}

TEST(String, RandomTextAndAlphabet)
{
    EXPECT_EQ(String::alphabet.length(), 64);
    EXPECT_EQ(String::alphabet.buffer()[0], L'A');
    EXPECT_EQ(String::alphabet.buffer()[63], L'/');

    String r;
    r.makeRandom(200);
    ASSERT_EQ(r.length(), 200);
    for (int32_t i = 0; i < r.length(); ++i)
        EXPECT_TRUE(iswalnum(r.buffer()[i])) << i;
    r.makeRandom(0);
    EXPECT_EQ(r.length(), 0);
}

TEST(String, NarrowConversionsRoundTrip)
{
    String s(L"Data\\Map\\Valley.tee");
    NarrowText narrow = s.toNarrow();
    ASSERT_NE(narrow.buffer, nullptr);
    EXPECT_STREQ(narrow.buffer, "Data\\Map\\Valley.tee");
    EXPECT_EQ(narrow.length, 19u);

    // A second live temporary must not overwrite the first.
    NarrowText other = wideToNarrow(~0u, L"second");
    EXPECT_STREQ(narrow.buffer, "Data\\Map\\Valley.tee");
    EXPECT_STREQ(other.buffer, "second");

    WideText wide = narrowToWide("Menu");
    EXPECT_STREQ(wide.buffer, L"Menu");
    EXPECT_EQ(wide.length, 4u);

    NarrowText none = wideToNarrow(5, nullptr);
    ASSERT_NE(none.buffer, nullptr);
    EXPECT_EQ(none.length, 0u);
}

TEST(String, LongConversionsUseTheHeap)
{
    std::wstring longText(10000, L'k');
    NarrowText narrow = wideToNarrow(~0u, longText.c_str());
    ASSERT_NE(narrow.buffer, nullptr);
    EXPECT_EQ(narrow.ownsHeap, 1u);
    EXPECT_EQ(narrow.length, 10000u);
    EXPECT_EQ(std::strlen(narrow.buffer), 10000u);

    NarrowText moved(static_cast<NarrowText&&>(narrow));
    EXPECT_EQ(narrow.buffer, nullptr);
    EXPECT_EQ(moved.length, 10000u);
}

TEST(String, CountedNarrowTextIsReadNoFurther)
{
    const char bytes[] = {'a', 'b', 'c', 'X', 'Y', 'Z'}; // no NUL anywhere
    WideText wide = narrowToWide(3, bytes);
    EXPECT_STREQ(wide.buffer, L"abc");

    String s(L"old");
    EXPECT_TRUE(s.assignNarrow(3, bytes));
    EXPECT_EQ(str(s), L"abc");
    EXPECT_TRUE(s.assignNarrow(0, nullptr));
    ASSERT_NE(s.buffer(), nullptr);
    EXPECT_EQ(s.length(), 0);
    EXPECT_FALSE(s.assignNarrow(4, nullptr));
    EXPECT_FALSE(s.assignNarrow(-1, bytes));
    EXPECT_EQ(s.buffer(), nullptr);
}

TEST(String, Utf8Decoding)
{
    const char text[] = "A\xC3\xA9\xE2\x82\xAC!";
    wchar_t* wide = utf8ToWide(uint32_t(sizeof(text) - 1), text);
    ASSERT_NE(wide, nullptr);
    EXPECT_STREQ(wide, L"A\x00E9\x20AC!");
    delete[] wide;

    // A sequence cut off by the end of the input is dropped, not read past.
    const char cut[] = {'x', '\xE2', '\x82'};
    wide = utf8ToWide(3, cut);
    EXPECT_STREQ(wide, L"x");
    delete[] wide;

    // One byte per 16-bit unit: only the low byte counts.
    const wchar_t units[] = {0x41C3, 0xFFA9, 0x0042};
    wide = utf8ToWide(3, units);
    EXPECT_STREQ(wide, L"\x00E9" L"B");
    delete[] wide;

    // Longer than one 64-character block.
    std::string many(300, 'q');
    wide = utf8ToWide(uint32_t(many.size()), many.c_str());
    EXPECT_EQ(std::wcslen(wide), 300u);
    delete[] wide;
}
