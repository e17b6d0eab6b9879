#include "StreamTestSupport.h"

#include "Core/FileArray.h"
#include "Core/RelationFile.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace
{
using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

class Collector : public RelationFile
{
public:
    uint32_t addRelation(void* context, const wchar_t* key, const wchar_t* text) override
    {
        lastContext = context;
        pairs.emplace_back(key, text);
        return pairs.size() < stopAfter ? 1 : 0;
    }

    Pairs pairs;
    void* lastContext = nullptr;
    size_t stopAfter = ~size_t(0);
};

Pairs parseBytes(const std::vector<uint8_t>& bytes, size_t stopAfter = ~size_t(0))
{
    FileArray stream(64);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    Collector collector;
    collector.stopAfter = stopAfter;
    int context = 0;
    RelationFile::parse(stream, &context, collector);
    if (!collector.pairs.empty()) {
        EXPECT_EQ(collector.lastContext, &context);
    }
    return collector.pairs;
}

Pairs parse8(const std::string& text, size_t stopAfter = ~size_t(0))
{
    return parseBytes(std::vector<uint8_t>(text.begin(), text.end()), stopAfter);
}

std::vector<uint8_t> utf16(const std::wstring& text)
{
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(uint8_t(c));
        bytes.push_back(uint8_t(c >> 8));
    }
    return bytes;
}
}

TEST(RelationTextTest, KeysSeparatorsAndTexts)
{
    EXPECT_EQ(parse8("Error = Fehler\r\nWarn\t= Hinweis\r\n"),
              (Pairs{{L"Error", L"Fehler"}, {L"Warn", L"Hinweis"}}));
    EXPECT_EQ(parse8("Key\t\t=   leading gone, trailing kept  \r\n"),
              (Pairs{{L"Key", L"leading gone, trailing kept  "}}));
    EXPECT_EQ(parse8("Last = never delivered"), Pairs{});
    EXPECT_EQ(parse8("A = 1\r\nB = 2"), (Pairs{{L"A", L"1"}}));
    EXPECT_EQ(parse8(""), Pairs{});
}

TEST(RelationTextTest, LineBreakEscapes)
{
    EXPECT_EQ(parse8("Two = first\\nsecond\r\n"), (Pairs{{L"Two", L"first\nsecond"}}));
    EXPECT_EQ(parse8("Path = C:\\temp\\x\r\n"), (Pairs{{L"Path", L"C:\\temp\\x"}}));
}

TEST(RelationTextTest, BlankLinesRunIntoTheNextEntry)
{
    // A key without text takes the line break as the start of its text.
    EXPECT_EQ(parse8("Empty =\r\nNext = x\r\n"), (Pairs{{L"Empty", L"\r\nNext = x"}}));
}

TEST(RelationTextTest, StoppingAfterTheFirstPair)
{
    EXPECT_EQ(parse8("A = 1\r\nB = 2\r\n", 1).size(), 1u);
}

TEST(RelationTextTest, ByteOrderMarksSelectTheEncoding)
{
    const std::vector<uint8_t> utf8 = {0xEF, 0xBB, 0xBF, 'K', ' ', '=', ' ', 'M', 0xC3, 0xA4, 'r', 'z', '\r', '\n'};
    EXPECT_EQ(parseBytes(utf8), (Pairs{{L"K", L"M\u00E4rz"}}));

    EXPECT_EQ(parseBytes(utf16(L"Gr\u00FC\u00DFe\t= \u4E2D\u6587\\n!\r\n")),
              (Pairs{{L"Gr\u00FC\u00DFe", L"\u4E2D\u6587\n!"}}));

    // Without a mark every byte is one character, not decoded.
    EXPECT_EQ(parseBytes({'K', '=', 0xC3, 0xA4, '\r', '\n'}), (Pairs{{L"K", L"\u00C3\u00A4"}}));

    FileArray twoBytes(16);
    twoBytes.write("\xFF\xFE", 2);
    EXPECT_EQ(detectTextEncoding(twoBytes), uint32_t(textEncoding8Bit));
    EXPECT_EQ(twoBytes.tell(), 0u);
}

TEST(RelationTextTest, OverlongKeysAndTextsAreCut)
{
    const std::string key(300, 'k');
    const std::string text(5000, 't');
    const Pairs pairs = parse8(key + " = " + text + "\r\nNext = ok\r\n");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first.size(), RelationFile::maxKeyLength);
    EXPECT_EQ(pairs[0].second.size(), RelationFile::maxTextLength);
    EXPECT_EQ(pairs[1], (std::pair<std::wstring, std::wstring>{L"Next", L"ok"}));
}

TEST(RelationTextTest, GarbageNeverBreaksTheParser)
{
    const std::string validText = "Error = Fehler\r\nKey = a\\nb\r\nLong = " + std::string(3000, 'x') + "\r\n";
    const std::vector<std::vector<uint8_t>> seeds = {
        std::vector<uint8_t>(validText.begin(), validText.end()),
        utf16(L"Key = Text\r\nNext = \u00E4\\n\r\n"),
        {0xEF, 0xBB, 0xBF, 'K', '=', 0xE2, 0x82, 0xAC, 0xF0, 0x9F, '\r', '\n', 'X', '=', 0xC3, '\r', '\n'},
    };
    std::mt19937 random(20261206);
    size_t delivered = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::vector<uint8_t> bytes = mutate(seeds[round % seeds.size()], random);
        for (const auto& [key, text] : parseBytes(bytes)) {
            EXPECT_LE(key.size(), RelationFile::maxKeyLength);
            EXPECT_LE(text.size(), RelationFile::maxTextLength);
            ++delivered;
        }
    }
    EXPECT_GT(delivered, 0u);
}
