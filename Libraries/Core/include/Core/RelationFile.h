#pragma once

#include "Core/FileInterface.h"

#include <cstdint>

// Text encodings of a text table, told by the first bytes.
enum TextEncoding : uint32_t
{
    textEncoding8Bit = 0,  // anything else: one character per byte
    textEncodingUtf16 = 1, // FF FE
    textEncodingUtf8 = 2,  // EF BB BF
};

// Reads 3 bytes and leaves the stream at the first character: after FF FE,
// after EF BB BF, or at 0.
uint32_t detectTextEncoding(FileInterface& stream);

// The consumer of a text table: lines of a key, separators (any mix of space,
// tab and '='), a text and a carriage return with its line feed; "\n" in a
// text stands for a line break. Keys hold at most maxKeyLength characters and
// texts maxTextLength (bytes, for UTF-8); longer ones are cut to the limit.
class RelationFile
{
public:
    static constexpr uint32_t maxKeyLength = 127;
    static constexpr uint32_t maxTextLength = 2047;

    virtual ~RelationFile() = default;

    // Called for each line in order; returning 0 stops the parsing.
    virtual uint32_t addRelation(void* context, const wchar_t* key, const wchar_t* text) = 0;

    // Parses stream from its start. stream must be a memory stream (FileArray,
    // Resource); any other gives nothing. A last line without a carriage
    // return is not delivered.
    static void parse(FileInterface& stream, void* context, RelationFile& target);
};
