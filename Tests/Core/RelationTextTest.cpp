#include "StreamTestSupport.h"

#include "Core/FileArray.h"
#include "Core/RelationFile.h"

#include <gtest/gtest.h>

#include <utility>

namespace
{
using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

class Collector : public RelationFile
{
public:
    uint32_t addRelation(void*, const wchar_t* key, const wchar_t* text) override
    {
        pairs.emplace_back(key, text);
        return 1;
    }
    Pairs pairs;
};

Pairs parse(const std::vector<uint8_t>& bytes)
{
    FileArray stream(64);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    Collector collector;
    RelationFile::parse(stream, nullptr, collector);
    return collector.pairs;
}

Pairs parse(const std::string& text)
{
    return parse(std::vector<uint8_t>(text.begin(), text.end()));
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

TEST(RelationTextTest, SeparatorsEscapesAndUnfinishedLines)
{
    EXPECT_EQ(parse("Error = Fehler\r\nKey\t\t=   two\\nlines  \r\nPath = C:\\temp\r\nLast = never delivered"),
              (Pairs{{L"Error", L"Fehler"}, {L"Key", L"two\nlines  "}, {L"Path", L"C:\\temp"}}));
    // A key without text takes the line break as the start of its text.
    EXPECT_EQ(parse("Empty =\r\nNext = x\r\n"), (Pairs{{L"Empty", L"\r\nNext = x"}}));
}

TEST(RelationTextTest, ByteOrderMarksSelectTheEncoding)
{
    EXPECT_EQ(parse(std::vector<uint8_t>{0xEF, 0xBB, 0xBF, 'K', ' ', '=', ' ', 'M', 0xC3, 0xA4, 'r', 'z', '\r', '\n'}),
              (Pairs{{L"K", L"M\u00E4rz"}}));
    EXPECT_EQ(parse(utf16(L"Gr\u00FC\u00DFe\t= \u4E2D\u6587\\n!\r\n")), (Pairs{{L"Gr\u00FC\u00DFe", L"\u4E2D\u6587\n!"}}));
    // Without a mark every byte is one character.
    EXPECT_EQ(parse(std::vector<uint8_t>{'K', '=', 0xC3, 0xA4, '\r', '\n'}), (Pairs{{L"K", L"\u00C3\u00A4"}}));
}

TEST(RelationTextTest, OverlongKeysAndTextsAreCutAndGarbageNeverBreaksTheParser)
{
    const std::string valid = std::string(300, 'k') + " = " + std::string(5000, 't') + "\r\nNext = a\\nb\r\n";
    const Pairs pairs = parse(valid);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first.size(), RelationFile::maxKeyLength);
    EXPECT_EQ(pairs[0].second.size(), RelationFile::maxTextLength);
    EXPECT_EQ(pairs[1], (std::pair<std::wstring, std::wstring>{L"Next", L"a\nb"}));

    const std::vector<std::vector<uint8_t>> seeds = {
        std::vector<uint8_t>(valid.begin(), valid.end()),
        utf16(L"Key = Text\r\nNext = \u00E4\\n\r\n"),
        {0xEF, 0xBB, 0xBF, 'K', '=', 0xE2, 0x82, 0xAC, 0xF0, 0x9F, '\r', '\n', 'X', '=', 0xC3, '\r', '\n'},
    };
    std::mt19937 random(20261206);
    size_t delivered = 0;
    for (int round = 0; round < 3000; ++round) {
        for (const auto& [key, text] : parse(mutate(seeds[round % seeds.size()], random))) {
            ASSERT_LE(key.size(), RelationFile::maxKeyLength);
            ASSERT_LE(text.size(), RelationFile::maxTextLength);
            ++delivered;
        }
    }
    EXPECT_GT(delivered, 0u);
}
