#include "Core/RelationFile.h"

#include "Core/CrashTrace.h"

#include <cstdint>

uint32_t detectTextEncoding(FileInterface& stream)
{
    uint8_t mark[3] = {};
    const uint32_t got = stream.read(mark, 3);
    if (got == 3 && mark[0] == 0xFF && mark[1] == 0xFE) {
        stream.seek(2, 0);
        return textEncodingUtf16;
    }
    if (got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF)
        return textEncodingUtf8;
    stream.seek(0, 0);
    return textEncoding8Bit;
}

namespace
{
bool isSeparator(uint32_t c)
{
    return c == L' ' || c == L'\t' || c == L'=';
}

enum class State
{
    inKey,
    between,
    inText,
};
}

void RelationFile::parse(FileInterface& stream, void* context, RelationFile& target)
{
    CRASH_TRACE();
    stream.seek(0, 0);
    const uint32_t encoding = detectTextEncoding(stream);
    const uint8_t* bytes = stream.memory();
    const uint32_t start = stream.tell();
    const uint32_t end = stream.size();
    if (!bytes || start >= end)
        return;
    const uint8_t* data = bytes + start;
    const uint32_t count = encoding == textEncodingUtf16 ? (end - start) / 2 : end - start;
    auto charAt = [&](uint32_t i) -> uint32_t {
        if (encoding == textEncodingUtf16)
            return uint32_t(data[2 * i]) | (uint32_t(data[2 * i + 1]) << 8);
        return data[i];
    };

    // For UTF-8 the text holds one byte per unit until it is decoded.
    wchar_t key[maxKeyLength + 1];
    wchar_t text[maxTextLength + 1];
    uint32_t keyLength = 0;
    uint32_t textLength = 0;
    State state = State::inKey;

    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t c = charAt(i);
        switch (state) {
        case State::inKey:
            if (isSeparator(c)) {
                key[keyLength] = 0;
                state = State::between;
            } else if (keyLength < maxKeyLength) {
                key[keyLength++] = wchar_t(c);
            }
            break;
        case State::between:
            if (isSeparator(c))
                break;
            // Any other character starts the text, a carriage return included.
            text[textLength++] = wchar_t(c);
            state = State::inText;
            break;
        case State::inText:
            if (c == L'\r') {
                ++i; // the line feed
                text[textLength] = 0;
                uint32_t more;
                if (encoding == textEncodingUtf8) {
                    wchar_t* decoded = utf8ToWide(textLength, text);
                    more = target.addRelation(context, key, decoded ? decoded : L"");
                    delete[] decoded;
                } else {
                    more = target.addRelation(context, key, text);
                }
                if (more == 0)
                    return;
                keyLength = 0;
                textLength = 0;
                state = State::inKey;
            } else if (c == L'n' && textLength > 0 && text[textLength - 1] == L'\\') {
                text[textLength - 1] = 10;
            } else if (textLength < maxTextLength) {
                text[textLength++] = wchar_t(c);
            }
            break;
        }
    }
}
