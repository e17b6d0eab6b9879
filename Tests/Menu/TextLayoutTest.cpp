// Text layout with faces of chosen glyph widths: the cases a reader of the
// menus would notice, then random texts against a brute-force line breaker
// and against what the draw would show.
#include "MenuTestSupport.h"

#include "Menu/Text.h"

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

using UserInterface::Text;
using Formatting = UserInterface::Text::Formatting;

namespace {

using Records = std::vector<std::pair<int, uint32_t>>;

// Widths: "." 3, space 10, "i" 2, "W" 120 (wider than most wraps), a
// carriage return and a newline 7 (the face has glyphs for them, as GDI
// gives), the other printable ASCII 10; nothing above U+02FF.
int simpleWidth(wchar_t c)
{
    switch (c) {
    case L'.':
        return 3;
    case L'i':
        return 2;
    case L'W':
        return 120;
    case L'\r':
    case L'\n':
        return 7;
    default:
        return c >= 32 && c < 127 ? 10 : -1;
    }
}

struct Laid
{
    Records records;
    std::vector<int> widths;
    int charCount = 0;
    UserInterface::Size size;
};

Laid layOut(UserInterface::UIFont::Face& face, const std::wstring& text, int wrap, int maxLines)
{
    Text t(nullptr, &face, 0, wrap, maxLines, 1.0f, 0.0f);
    t.x = 11;
    t.y = 21;
    t.setText(String(text.c_str()));
    Laid out;
    for (int i = 0; i < t.formattingCount; ++i)
        out.records.push_back({t.formatting.at(i)->position, t.formatting.at(i)->kind});
    for (int i = 0; i < t.lineCount; ++i)
        out.widths.push_back(*t.lineWidths.at(i));
    out.charCount = t.charCount;
    out.size = t.getSize();
    return out;
}

TEST(TextLayout, LinesBreakWhereAReaderExpects)
{
    auto face = MenuTest::fakeFace(simpleWidth);
    struct Case
    {
        const char* what;
        std::wstring text;
        int wrap, maxLines;
        std::vector<int> widths;
        Records records;
        int charCount;
    };
    const Case cases[] = {
        {"unwrapped: one line, a newline is a character", L"ab\ncd", -1, -1, {47}, {}, 5},
        {"wrap 0 wraps nothing", L"aaaaaaaaaaaaaaaaaaaa", 0, -1, {200}, {}, 20},
        {"the space that reaches the width is the break", L"aaaa aaaa aaaa", 100, -1, {90, 40},
         {{9, Formatting::hidden}, {9, Formatting::newLine}}, 14},
        {"the last space before the width", L"aaaa aaaa aaaaa", 100, -1, {90, 50},
         {{9, Formatting::hidden}, {9, Formatting::newLine}}, 15},
        {"a word wider than the wrap breaks where it reached it", L"aaaaaaaaaaaa", 100, -1, {90, 30},
         {{9, Formatting::newLine}}, 12},
        {"a newline breaks a wrapped text", L"ab\ncd", 100, -1, {20, 20},
         {{2, Formatting::hidden}, {2, Formatting::newLine}}, 5},
        {"an empty line between two newlines", L"a\n\nb", 100, -1, {10, 0, 10},
         {{1, Formatting::hidden}, {1, Formatting::newLine}, {2, Formatting::hidden}, {2, Formatting::newLine}}, 4},
        {"a carriage return is never drawn and takes no room", L"ab\rcd", -1, -1, {40},
         {{2, Formatting::hidden}}, 5},
        {"a character wider than the wrap stands alone", L"Wab", 100, -1, {120, 20}, {{1, Formatting::newLine}}, 3},
        {"two of them, one per line", L"WW", 100, -1, {120, 120}, {{1, Formatting::newLine}}, 2},
        // The second space starts a line that carries "aaaaaaaW" over it,
        // wider than the wrap: it is measured again and the W moves on.
        {"what a break carries over is measured again", L"aaaaaaaaa  aaaaaaaW", 100, -1, {90, 0, 70, 120},
         {{9, Formatting::hidden},
          {9, Formatting::newLine},
          {10, Formatting::hidden},
          {10, Formatting::newLine},
          {18, Formatting::newLine}},
         19},
        {"characters without a glyph take no room", L"a\u4E00b", -1, -1, {20}, {}, 3},
    };
    for (const Case& c : cases) {
        const Laid laid = layOut(*face, c.text, c.wrap, c.maxLines);
        EXPECT_EQ(laid.widths, c.widths) << c.what;
        EXPECT_EQ(laid.records, c.records) << c.what;
        EXPECT_EQ(laid.charCount, c.charCount) << c.what;
    }
}

TEST(TextLayout, ALineLimitEndsTheLastLineInThreeFullStops)
{
    auto face = MenuTest::fakeFace(simpleWidth);
    struct Case
    {
        const char* what;
        std::wstring text;
        int wrap, maxLines;
        std::vector<int> widths;
        std::vector<int> stops; // positions drawn as "."
        int charCount;
    };
    const Case cases[] = {
        // Five lines of one word; the second ends in the stops over its last
        // two characters and the space after them (they are wider).
        {"two of five lines", L"aaaa aaaa aaaa aaaa aaaa", 50, 2, {40, 29}, {7, 8, 9}, 10},
        // The last line takes more words while it stays narrower than the
        // widest line.
        {"the last line fills up to the widest", L"aaaaaaaa aa aaaaaaaaaa", 100, 2, {80, 59}, {14, 15, 16}, 17},
        {"narrow characters: the stops replace three", L"aaii bbbbbbb", 30, 1, {19}, {1, 2, 3}, 4},
        {"a cut without a break", L"aaaaaaaaaaaaaaa", 100, 1, {79}, {7, 8, 9}, 10},
        // The cut falls at index 0 or 1: only characters that exist take
        // stops, none lies before the text.
        {"the first character alone", L"Waaaa", 100, 1, {6}, {0, 1}, 2},
        {"a break at index 1", L"a bbbbbbbbbbbbbbbb", 100, 1, {6}, {0, 1}, 2},
        {"a break at index 0", L" bbbbbbbbbbbbbbbbb", 100, 1, {0}, {}, 0},
    };
    for (const Case& c : cases) {
        const Laid laid = layOut(*face, c.text, c.wrap, c.maxLines);
        std::vector<int> stops;
        for (const auto& [position, kind] : laid.records)
            if (kind == Formatting::fullStop)
                stops.push_back(position);
        EXPECT_EQ(stops, c.stops) << c.what;
        EXPECT_EQ(laid.charCount, c.charCount) << c.what;
        EXPECT_EQ(laid.widths, c.widths) << c.what;
    }
}

TEST(TextLayout, TheBoxHoldsTheLinesAndLinesAlignInIt)
{
    auto face = MenuTest::fakeFace(simpleWidth, 22.0f);
    Text t(nullptr, face.get(), 0, 100, -1, 1.0f, 0.0f);
    t.x = 40;
    t.y = 30;
    t.setText(String(L"aaaa aaaa aaaaa")); // lines of 90 and 50
    EXPECT_EQ(t.boxLeft, 39.0f);
    EXPECT_EQ(t.boxTop, 29.0f);
    EXPECT_EQ(t.boxRight, 39.0f + 90.0f + 1.0f);
    EXPECT_EQ(t.boxBottom, 29.0f + 2 * 22.0f + 1.0f);
    EXPECT_EQ(t.getSize().width, 91);
    EXPECT_EQ(t.lineOffset(0), 0.0f);
    t.alignment = Text::alignCentre;
    EXPECT_EQ(t.lineOffset(0), 0.0f);
    EXPECT_EQ(t.lineOffset(1), 20.0f); // (91 - 1 - 50) / 2
    t.alignment = Text::alignRight;
    EXPECT_EQ(t.lineOffset(1), 41.0f);
    EXPECT_EQ(t.lineOffset(2), 0.0f); // no such line

    // A 50-pixel line in a box 101 wide: 25; half a pixel goes down.
    t.wrapWidth = 101;
    t.alignment = Text::alignCentre;
    t.setText(String(L"aaaaaaaaaa aaaaa")); // lines of 100 and 50
    EXPECT_EQ(t.getSize().width, 101);
    EXPECT_EQ(t.lineOffset(1), 25.0f);
    t.setText(String(L"aaaaaaaaaa aaaa.")); // a line of 43: 28.5
    EXPECT_EQ(t.lineOffset(1), 28.0f);

    // Unwrapped texts are never aligned.
    Text plain(nullptr, face.get(), 0, -1, -1, 1.0f, 0.0f);
    plain.alignment = Text::alignRight;
    plain.setText(String(L"ab"));
    EXPECT_EQ(plain.lineOffset(0), 0.0f);
    EXPECT_EQ(plain.getSize().width, 21);
}

TEST(TextLayout, AChangedTextIsLaidOutAgainOnlyWhenMarked)
{
    auto face = MenuTest::fakeFace(simpleWidth);
    auto chain = MenuTest::listOnlyChain();
    Text t(chain.get(), face.get(), 0, -1, -1, 1.0f, 0.0f);
    t.setText(String(L"abc"));
    EXPECT_EQ(t.getSize().width, 31);
    t.buffer.data()[3] = L'd';
    t.buffer.data()[4] = 0;
    t.update();
    EXPECT_EQ(t.getSize().width, 31); // not marked
    chain->userInterface->relayout = 1;
    t.update();
    EXPECT_EQ(t.getSize().width, 41);
    chain->userInterface->relayout = 0;

    // 511 characters at most, whatever the language pack holds.
    t.setText(String(std::wstring(2000, L'a').c_str()));
    EXPECT_EQ(t.charCount, 511);
    EXPECT_EQ(std::wstring(t.text()).size(), 511u);
    t.setText(String());
    EXPECT_EQ(t.charCount, 0);
}

// The layout a brute-force breaker finds: for every line it measures each
// prefix of what is left from scratch, and ends the line at the first
// character whose prefix reaches the wrap width (or that is a newline),
// at the last space or newline of that prefix, else before the character
// (unless the character is the line's first).
struct Reference
{
    Records records;
    std::vector<int> widths;
    int charCount = 0;
};

Reference bruteForce(const std::wstring& full, int (*width)(wchar_t), int wrap, int maxLines)
{
    const std::wstring text = full.substr(0, std::min<size_t>(full.size(), 511)).c_str();
    const int n = int(text.size());
    const auto glyph = [&](int i) { return width(text[i]) >= 0; };
    const auto counted = [&](int i) { return glyph(i) && text[i] != L'\r'; };
    const auto advance = [&](int i) { return counted(i) ? width(text[i]) : 0; };
    const auto sum = [&](int from, int to) {
        int w = 0;
        for (int k = from; k < to; ++k)
            w += advance(k);
        return w;
    };
    const auto isBreak = [&](int k) { return counted(k) && (text[k] == L' ' || text[k] == L'\n'); };
    Reference out;
    int scanned = n;
    bool truncated = false, cutAtBreak = false;
    int cut = 0, lastLine = 0;
    for (int s = 0; wrap > 0 && !truncated;) {
        int end = -1, lastBreak = -1;
        for (int j = s; j < n && end < 0; ++j) {
            if (!counted(j) || (sum(s, j + 1) < wrap && text[j] != L'\n'))
                continue;
            lastBreak = -1;
            int before = 0;
            for (int k = s; k <= j; ++k) {
                if (isBreak(k))
                    lastBreak = k;
                before += k < j && counted(k);
            }
            if (lastBreak < 0 && before == 0)
                continue;
            end = j;
        }
        if (end < 0) {
            out.widths.push_back(sum(s, n));
            break;
        }
        if (int(out.widths.size()) == maxLines - 1) {
            truncated = true;
            lastLine = s;
            cutAtBreak = lastBreak >= 0;
            cut = cutAtBreak ? lastBreak : end;
            out.widths.push_back(sum(s, cut));
            scanned = end;
        } else if (lastBreak < 0) {
            out.records.push_back({end, Formatting::newLine});
            out.widths.push_back(sum(s, end));
            s = end;
        } else {
            out.records.push_back({lastBreak, Formatting::hidden});
            out.records.push_back({lastBreak, Formatting::newLine});
            out.widths.push_back(sum(s, lastBreak));
            s = lastBreak + 1;
        }
    }
    if (wrap <= 0)
        out.widths.push_back(sum(0, n));
    for (int k = 0; k < scanned; ++k)
        if (text[k] == L'\r' && glyph(k))
            out.records.push_back({k, Formatting::hidden});
    out.charCount = n;
    if (truncated) {
        const int widest = *std::max_element(out.widths.begin(), out.widths.end());
        int& last = out.widths.back();
        int count = cut;
        while (cutAtBreak && count < n && text[count] != L'\n' && text[count] != L'\r' &&
               last + advance(count) < widest)
            last += advance(count++);
        const int dot = width(L'.');
        // The stops take only the cut line's own characters.
        int replaced = 0, first = count;
        for (; first > lastLine && first > count - 2; --first)
            replaced += advance(first - 1);
        if (replaced >= 3 * dot)
            ++count;
        else if (first > lastLine)
            replaced += advance(--first);
        first = std::max(count - 3, lastLine);
        last += (count - first) * dot - replaced;
        for (int p = first; p < count; ++p)
            out.records.push_back({p, Formatting::fullStop});
        out.charCount = count;
    }
    std::stable_sort(out.records.begin(), out.records.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

// Widths that vary: most letters 1 to 15 pixels, some 0, a few wider than
// most wraps, spaces 1 to 6; nothing for characters above U+02FF.
int variedWidth(wchar_t c)
{
    if (c > 0x2FF)
        return -1;
    if (c == L'.')
        return 4;
    if (c == L' ')
        return 1 + c % 6;
    const unsigned h = unsigned(c) * 2654435761u >> 24;
    if (h < 6)
        return 0;
    if (h < 12)
        return 90 + int(h) * 10;
    return 1 + int(h % 15);
}

std::wstring randomText(std::mt19937& random)
{
    std::uniform_int_distribution<int> length(0, 700), kind(0, 99), letter(33, 0x2FF), any(1, 0xFFFF);
    std::wstring s(size_t(length(random)), L' ');
    for (wchar_t& c : s) {
        const int k = kind(random);
        c = k < 18 ? L' ' : k < 22 ? L'\n' : k < 24 ? L'\r' : k < 28 ? wchar_t(any(random)) : wchar_t(letter(random));
    }
    return s;
}

TEST(TextLayout, RandomTextsAgreeWithABruteForceBreakerAndWithWhatIsDrawn)
{
    auto face = MenuTest::fakeFace(variedWidth);
    std::mt19937 random(36);
    std::uniform_int_distribution<int> wrapKind(0, 9), wrapWidth(1, 300), lines(-1, 6);
    for (int round = 0; round < 3000; ++round) {
        const std::wstring text = randomText(random);
        const int k = wrapKind(random);
        const int wrap = k == 0 ? -1 : k == 1 ? 0 : wrapWidth(random);
        const int maxLines = lines(random);
        Text t(nullptr, face.get(), 0, wrap, maxLines, 1.0f, 0.0f);
        t.alignment = uint32_t(round % 3);
        t.setText(String(text.c_str()));
        const std::wstring stored = t.text();
        const Reference want = bruteForce(stored, variedWidth, wrap, maxLines);
        const std::string where = "round " + std::to_string(round) + ", wrap " + std::to_string(wrap) +
                                  ", lines " + std::to_string(maxLines);

        Records records;
        for (int i = 0; i < t.formattingCount; ++i)
            records.push_back({t.formatting.at(i)->position, t.formatting.at(i)->kind});
        std::vector<int> widths;
        for (int i = 0; i < t.lineCount; ++i)
            widths.push_back(*t.lineWidths.at(i));
        ASSERT_EQ(records, want.records) << where;
        ASSERT_EQ(widths, want.widths) << where;
        ASSERT_EQ(t.charCount, want.charCount) << where;

        // What the draw shows, walked by its rules: each line as wide as
        // laid out; no line past the wrap width unless it holds one
        // character (the cut last line aside); no line beyond the limit.
        ASSERT_LE(t.charCount, Text::bufferSize) << where;
        ASSERT_TRUE(std::is_sorted(records.begin(), records.end(),
                                   [](const auto& a, const auto& b) { return a.first < b.first; }))
            << where;
        if (maxLines > 0) {
            ASSERT_LE(t.lineCount, maxLines) << where;
        }
        std::vector<int> drawnWidth(1, 0), drawnChars(1, 0);
        size_t r = 0;
        for (int i = 0; i < t.charCount; ++i) {
            bool hidden = false, stop = false;
            for (; r < records.size() && records[r].first <= i; ++r) {
                ASSERT_EQ(records[r].first, i) << where;
                if (records[r].second == Formatting::newLine) {
                    drawnWidth.push_back(0);
                    drawnChars.push_back(0);
                }
                hidden |= records[r].second == Formatting::hidden;
                stop |= records[r].second == Formatting::fullStop;
            }
            const wchar_t c = stop ? L'.' : stored[size_t(i)];
            if ((hidden && !stop) || variedWidth(c) < 0)
                continue;
            drawnWidth.back() += variedWidth(c);
            ++drawnChars.back();
        }
        ASSERT_EQ(drawnWidth, widths) << where;
        const bool cut = t.charCount < int(stored.size()) ||
                         std::any_of(records.begin(), records.end(),
                                     [](const auto& e) { return e.second == Formatting::fullStop; });
        for (size_t line = 0; wrap > 0 && line < widths.size(); ++line) {
            if (!(cut && line + 1 == widths.size()) && widths[line] > wrap) {
                ASSERT_EQ(drawnChars[line], 1) << where << ", line " << line;
            }
        }

        const float boxWidth = t.boxRight - t.boxLeft;
        for (int line = 0; line < t.lineCount; ++line) {
            const float offset = t.lineOffset(line);
            if (wrap < 0 || t.alignment == Text::alignLeft)
                ASSERT_EQ(offset, 0.0f) << where;
            else if (t.alignment == Text::alignRight)
                ASSERT_EQ(offset + float(widths[size_t(line)]), boxWidth) << where;
            else
                ASSERT_LE(std::abs(offset - (boxWidth - 1.0f - float(widths[size_t(line)])) * 0.5f), 0.5f)
                    << where;
        }
    }
}

}
