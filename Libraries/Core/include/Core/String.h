#pragma once

#include <cstdint>

// Temporary text produced by the conversions between wide and 8-bit text.
// Short results (length + 1 <= 8192 units) live in a per-thread scratch area,
// longer ones (or one made while another temporary of the same direction is
// still alive) in a heap block that the temporary frees when destroyed.
// buffer is null only when the conversion failed. A temporary is used and
// destroyed on the thread that made it. Move-only.
template <class C>
struct TempText
{
    C* buffer = nullptr;
    uint32_t length = 0;   // units before the terminating NUL
    uint32_t ownsHeap = 0; // 1: buffer is a heap block of this temporary

    TempText() = default;
    TempText(const TempText&) = delete;
    TempText& operator=(const TempText&) = delete;
    TempText(TempText&& other) noexcept;
    TempText& operator=(TempText&& other) noexcept;
    ~TempText();

    // Frees the heap block or gives the scratch area back; leaves the temporary empty.
    void reset();
};

extern template struct TempText<char>;
extern template struct TempText<wchar_t>;

using NarrowText = TempText<char>;
using WideText = TempText<wchar_t>;

// The one text type of the system: UTF-16 characters with an explicit length
// and an ownership flag. A String never given text has a null buffer; a
// String made from an empty source holds a one-character buffer with the NUL.
// A borrowed String (notOwned) points at text it does not own (static text,
// another object's buffer) and never frees it; operations that change the
// text first give a borrowed String its own copy.
// Failures never throw: a failed allocation leaves a null buffer (allocate)
// or the previous text (append, replace).
class String
{
public:
    String() = default;
    String(const wchar_t* text);
    String(const String& other);
    String(String&& other) noexcept;
    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;
    ~String();

    // A String that borrows text (not copied, never freed). text must outlive it.
    static String borrowed(const wchar_t* text);

    // The 64-character alphabet A-Z a-z 0-9 + / (a borrowed String over static text).
    static const String alphabet;

    wchar_t* buffer() const { return buffer_; }
    int32_t length() const { return length_; }
    bool isNotOwned() const { return notOwned_ != 0; }
    // The text, or an empty text when the buffer is null.
    const wchar_t* text() const { return buffer_ ? buffer_ : L""; }

    // Makes the String hold n characters (buffer[n] = 0, the others for the
    // caller to fill). An owned buffer of the same length is kept unchanged.
    // A negative n or a failed allocation leaves a null buffer and length 0.
    void allocate(int32_t n);
    // allocate(n), then copies n characters (a null source gives the default String).
    void assign(int32_t n, const wchar_t* chars);
    // Converts n bytes in the ANSI code page (no NUL needed) into this String.
    // Nothing past the n bytes is read. Returns false (String left default)
    // when n is negative, the bytes are null with n > 0 or the conversion fails.
    bool assignNarrow(int32_t n, const char* bytes);

    // Appends n characters; unchanged when n <= 0, chars is null or memory runs out.
    void append(int32_t n, const wchar_t* chars);
    void toLower();
    // n characters drawn with rand() from the first 62 of the alphabet.
    void makeRandom(int32_t n);
    // Cuts the text at its last '.', if any.
    void removeExtension();
    // Replaces every occurrence of pattern by replacement. Runs of the pattern
    // collapse ("a///b", "//" -> "/" gives "a/b"), because the search goes on
    // from the start of the replacement.
    void replace(const String& pattern, const String& replacement);

    // True when the text is exactly the n characters at chars (case-sensitive);
    // a null buffer counts as empty.
    bool sameText(const wchar_t* chars, int32_t n) const;
    bool sameText(const String& other) const { return sameText(other.text(), other.length()); }

    // Index of the first occurrence of pattern at or after start (a negative
    // start counts as 0), or -1.
    int32_t find(const String& pattern, int32_t start = 0) const;
    // count ~0u means to the end; out of range gives an empty String (NUL only).
    String substring(int32_t start, uint32_t count = ~0u) const;
    // The text after the last '.', inside this String's buffer; "" without one.
    const wchar_t* getExtension() const;
    // Before the last '/' if the text holds one, else before the last '\'; else empty.
    String getFolder() const;
    // After the last '/' if the text holds one, else after the last '\'; else the whole text.
    String getFileName() const;

    // Wide printf formatting (%s is a wide text) into an 8192-character
    // buffer; a longer result is cut to 8191 characters.
    void format(const wchar_t* fmt, ...);
    String operator+(const wchar_t* right) const;
    String operator+(const String& right) const;
    // The text followed by one backslash.
    String addBackslash() const;

    // The text in the ANSI code page. length is the number of bytes before the NUL.
    NarrowText toNarrow() const;

private:
    // A borrowed String over static text, usable in constant initialisation.
    constexpr String(const wchar_t* text, int32_t length)
        : buffer_(const_cast<wchar_t*>(text)), length_(length), notOwned_(1)
    {
    }

    void release();
    bool makeOwned();

    wchar_t* buffer_ = nullptr;
    int32_t length_ = 0;
    uint8_t notOwned_ = 0;
};

// Conversions to and from the ANSI code page. Results are temporaries (see
// TempText); buffer is null when the conversion failed.
// n = ~0u: the text runs up to its NUL.
NarrowText wideToNarrow(uint32_t n, const wchar_t* text);
// text runs up to its NUL; length is the number of wide characters made.
WideText narrowToWide(const char* text);
// Converts exactly n bytes (no NUL needed, none read past n): the safe form
// for counted text from a stream.
WideText narrowToWide(uint32_t n, const char* bytes);

// Decodes n UTF-8 bytes into a NUL-terminated wide text allocated with new[]
// (the caller frees it with delete[]); null when memory runs out. A sequence
// cut off by the end of the input is dropped. The second form takes one byte
// per 16-bit unit (only the low 8 bits count), as text-table parsers hold them.
wchar_t* utf8ToWide(uint32_t n, const char* bytes);
wchar_t* utf8ToWide(uint32_t n, const wchar_t* units);
