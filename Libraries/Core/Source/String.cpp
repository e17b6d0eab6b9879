#include "Core/String.h"

#include "Core/DynArray.h"

#include <windows.h>

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>
#include <stdio.h>

namespace {

constexpr uint32_t scratchUnits = 8192;
constexpr int32_t formatUnits = 8192;

// Per-thread scratch areas for conversion results, one per direction. A busy
// flag keeps two live temporaries from sharing one area: the second one gets
// a heap block instead.
template <class C>
struct Scratch
{
    static thread_local C area[scratchUnits];
    static thread_local bool busy;
};
template <class C>
thread_local C Scratch<C>::area[scratchUnits];
template <class C>
thread_local bool Scratch<C>::busy = false;

// Points result at room for units characters (scratch or heap).
template <class C>
bool acquire(TempText<C>& result, uint64_t units)
{
    if (units <= scratchUnits && !Scratch<C>::busy) {
        Scratch<C>::busy = true;
        result.buffer = Scratch<C>::area;
        result.ownsHeap = 0;
        return true;
    }
    if (units > uint64_t(INT32_MAX))
        return false;
    result.buffer = new (std::nothrow) C[size_t(units)];
    if (!result.buffer)
        return false;
    result.ownsHeap = 1;
    return true;
}

template <class Unit>
wchar_t* decodeUtf8(uint32_t n, const Unit* units)
{
    DynArray<wchar_t> out(64);
    int32_t written = 0;
    uint32_t i = 0;
    while (units && i < n) {
        const uint32_t b0 = uint32_t(units[i]) & 0xFF;
        uint32_t ch;
        if (b0 >= 0xE0) {
            // Lead bytes from 0xF0 up are taken as three-byte sequences too.
            if (n - i < 3)
                break;
            ch = ((b0 << 12) | ((uint32_t(units[i + 1]) & 63) << 6) | (uint32_t(units[i + 2]) & 63)) & 0xFFFF;
            i += 3;
        } else if (b0 >= 0xC0) {
            if (n - i < 2)
                break;
            ch = ((b0 & 31) << 6) | (uint32_t(units[i + 1]) & 63);
            i += 2;
        } else {
            ch = b0;
            i += 1;
        }
        wchar_t* slot = out.at(written++);
        if (!slot)
            return nullptr;
        *slot = wchar_t(ch);
    }
    wchar_t* end = out.at(written);
    if (!end)
        return nullptr;
    *end = 0;
    return out.detach();
}

int32_t lastIndexOf(const wchar_t* text, int32_t length, wchar_t c)
{
    for (int32_t i = length - 1; i >= 0; --i)
        if (text[i] == c)
            return i;
    return -1;
}

} // namespace

template <class C>
TempText<C>::TempText(TempText&& other) noexcept
    : buffer(other.buffer), length(other.length), ownsHeap(other.ownsHeap)
{
    other.buffer = nullptr;
    other.length = 0;
    other.ownsHeap = 0;
}

template <class C>
TempText<C>& TempText<C>::operator=(TempText&& other) noexcept
{
    if (this != &other) {
        reset();
        buffer = other.buffer;
        length = other.length;
        ownsHeap = other.ownsHeap;
        other.buffer = nullptr;
        other.length = 0;
        other.ownsHeap = 0;
    }
    return *this;
}

template <class C>
TempText<C>::~TempText()
{
    reset();
}

template <class C>
void TempText<C>::reset()
{
    if (ownsHeap)
        delete[] buffer;
    else if (buffer)
        Scratch<C>::busy = false;
    buffer = nullptr;
    length = 0;
    ownsHeap = 0;
}

template struct TempText<char>;
template struct TempText<wchar_t>;

constinit const String String::alphabet(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", 64);

String::String(const wchar_t* text)
{
    if (text)
        assign(int32_t(wcslen(text)), text);
}

String::String(const String& other)
{
    if (other.buffer_)
        assign(other.length_, other.buffer_);
}

String::String(String&& other) noexcept
    : buffer_(other.buffer_), length_(other.length_), notOwned_(other.notOwned_)
{
    other.buffer_ = nullptr;
    other.length_ = 0;
    other.notOwned_ = 0;
}

String& String::operator=(const String& other)
{
    if (this == &other)
        return *this;
    if (other.buffer_)
        assign(other.length_, other.buffer_);
    else
        release();
    return *this;
}

String& String::operator=(String&& other) noexcept
{
    if (this != &other) {
        release();
        buffer_ = other.buffer_;
        length_ = other.length_;
        notOwned_ = other.notOwned_;
        other.buffer_ = nullptr;
        other.length_ = 0;
        other.notOwned_ = 0;
    }
    return *this;
}

String::~String()
{
    release();
}

String String::borrowed(const wchar_t* text)
{
    if (!text)
        return String();
    return String(text, int32_t(wcslen(text)));
}

void String::release()
{
    if (!notOwned_)
        delete[] buffer_;
    buffer_ = nullptr;
    length_ = 0;
    notOwned_ = 0;
}

bool String::makeOwned()
{
    if (!notOwned_ || !buffer_)
        return true;
    wchar_t* own = new (std::nothrow) wchar_t[size_t(length_) + 1];
    if (!own)
        return false;
    wmemcpy(own, buffer_, size_t(length_));
    own[length_] = 0;
    buffer_ = own;
    notOwned_ = 0;
    return true;
}

void String::allocate(int32_t n)
{
    if (n >= 0 && buffer_ && !notOwned_ && length_ == n)
        return;
    release();
    if (n < 0)
        return;
    buffer_ = new (std::nothrow) wchar_t[size_t(n) + 1];
    if (!buffer_)
        return;
    length_ = n;
    buffer_[n] = 0;
}

void String::assign(int32_t n, const wchar_t* chars)
{
    if (!chars || n < 0) {
        release();
        return;
    }
    // The source may lie inside our own buffer, which allocate can free.
    if (buffer_ && chars >= buffer_ && chars <= buffer_ + length_) {
        String copy;
        copy.assign(n, chars);
        *this = static_cast<String&&>(copy);
        return;
    }
    allocate(n);
    if (buffer_)
        wmemcpy(buffer_, chars, size_t(n));
}

bool String::assignNarrow(int32_t n, const char* bytes)
{
    if (n < 0 || (n > 0 && !bytes)) {
        release();
        return false;
    }
    if (n == 0) {
        allocate(0);
        return buffer_ != nullptr;
    }
    const int chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, n, nullptr, 0);
    if (chars <= 0) {
        release();
        return false;
    }
    allocate(chars);
    if (!buffer_)
        return false;
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, n, buffer_, chars) != chars) {
        release();
        return false;
    }
    return true;
}

void String::append(int32_t n, const wchar_t* chars)
{
    if (n <= 0 || !chars)
        return;
    if (length_ == 0) {
        assign(n, chars);
        return;
    }
    const int64_t total = int64_t(length_) + n;
    if (total > INT32_MAX)
        return;
    wchar_t* joined = new (std::nothrow) wchar_t[size_t(total) + 1];
    if (!joined)
        return;
    wmemcpy(joined, buffer_, size_t(length_));
    wmemcpy(joined + length_, chars, size_t(n));
    joined[total] = 0;
    release();
    buffer_ = joined;
    length_ = int32_t(total);
}

void String::toLower()
{
    if (!buffer_ || !makeOwned())
        return;
    for (wchar_t* c = buffer_; *c; ++c)
        *c = wchar_t(towlower(*c));
}

void String::makeRandom(int32_t n)
{
    allocate(n);
    if (!buffer_)
        return;
    for (int32_t i = 0; i < n; ++i)
        buffer_[i] = alphabet.buffer_[rand() % 62];
}

void String::removeExtension()
{
    if (!buffer_)
        return;
    const int32_t dot = lastIndexOf(buffer_, length_, L'.');
    if (dot < 0 || !makeOwned())
        return;
    buffer_[dot] = 0;
    length_ = int32_t(wcslen(buffer_));
}

void String::replace(const String& pattern, const String& replacement)
{
    // Copies, because either may be this String or borrow from it.
    const String pat(pattern);
    const String rep(replacement);
    if (!buffer_ || pat.length_ == 0)
        return;
    // Going on from the replacement itself is what collapses runs of the
    // pattern; when the replacement holds the pattern that would never end,
    // so the search then resumes after it.
    const bool skipReplacement = rep.find(pat) >= 0;
    int32_t from = 0;
    for (;;) {
        const int32_t at = find(pat, from);
        if (at < 0)
            return;
        const int64_t total = int64_t(length_) - pat.length_ + rep.length_;
        if (total > INT32_MAX)
            return;
        wchar_t* joined = new (std::nothrow) wchar_t[size_t(total) + 1];
        if (!joined)
            return;
        wmemcpy(joined, buffer_, size_t(at));
        if (rep.length_)
            wmemcpy(joined + at, rep.buffer_, size_t(rep.length_));
        wmemcpy(joined + at + rep.length_, buffer_ + at + pat.length_, size_t(length_ - at - pat.length_));
        joined[total] = 0;
        release();
        buffer_ = joined;
        length_ = int32_t(total);
        from = skipReplacement ? at + rep.length_ : at;
    }
}

bool String::sameText(const wchar_t* chars, int32_t n) const
{
    return length_ == n && (n == 0 || wmemcmp(buffer_, chars, size_t(n)) == 0);
}

int32_t String::find(const String& pattern, int32_t start) const
{
    if (start < 0)
        start = 0;
    const int32_t plen = pattern.length_;
    if (!buffer_ || length_ == 0 || start >= length_ || plen == 0 || plen > length_)
        return -1;
    for (int32_t i = start; i + plen <= length_; ++i) {
        if (wmemcmp(buffer_ + i, pattern.buffer_, size_t(plen)) == 0)
            return i;
    }
    return -1;
}

String String::substring(int32_t start, uint32_t count) const
{
    String result;
    if (!buffer_ || length_ == 0 || start < 0 || start >= length_ || count == 0) {
        result.allocate(0);
        return result;
    }
    const uint32_t available = uint32_t(length_ - start);
    result.assign(int32_t(count < available ? count : available), buffer_ + start);
    return result;
}

const wchar_t* String::getExtension() const
{
    if (!buffer_ || length_ == 0)
        return L"";
    const int32_t dot = lastIndexOf(buffer_, length_, L'.');
    return dot < 0 ? L"" : buffer_ + dot + 1;
}

String String::getFolder() const
{
    String result;
    int32_t cut = buffer_ ? lastIndexOf(buffer_, length_, L'/') : -1;
    if (cut < 0 && buffer_)
        cut = lastIndexOf(buffer_, length_, L'\\');
    if (cut < 0)
        result.allocate(0);
    else
        result.assign(cut, buffer_);
    return result;
}

String String::getFileName() const
{
    if (!buffer_)
        return String();
    int32_t cut = lastIndexOf(buffer_, length_, L'/');
    if (cut < 0)
        cut = lastIndexOf(buffer_, length_, L'\\');
    String result;
    result.assign(length_ - cut - 1, buffer_ + cut + 1);
    return result;
}

void String::format(const wchar_t* fmt, ...)
{
    if (!fmt) {
        allocate(0);
        return;
    }
    wchar_t text[formatUnits];
    va_list args;
    va_start(args, fmt);
    // _vsnwprintf keeps the Microsoft meaning of %s (a wide text).
    const int written = _vsnwprintf(text, formatUnits - 1, fmt, args);
    va_end(args);
    text[formatUnits - 1] = 0;
    const int32_t length = written >= 0 ? written : int32_t(wcslen(text));
    assign(length, text);
}

String String::operator+(const wchar_t* right) const
{
    if (!right || !*right)
        return *this;
    const int64_t rlen = int64_t(wcslen(right));
    const int64_t total = int64_t(length_) + rlen;
    String result;
    if (total > INT32_MAX)
        return *this;
    result.allocate(int32_t(total));
    if (!result.buffer_)
        return result;
    if (length_)
        wmemcpy(result.buffer_, buffer_, size_t(length_));
    wmemcpy(result.buffer_ + length_, right, size_t(rlen));
    return result;
}

String String::operator+(const String& right) const
{
    if (!right.buffer_ || right.length_ == 0)
        return *this;
    String rightCopy(right); // right may be this String
    return *this + rightCopy.buffer_;
}

String String::addBackslash() const
{
    return *this + L"\\";
}

NarrowText String::toNarrow() const
{
    return wideToNarrow(uint32_t(length_), buffer_);
}

NarrowText wideToNarrow(uint32_t n, const wchar_t* text)
{
    NarrowText result;
    if (!text)
        n = 0;
    else if (n == ~0u)
        n = uint32_t(wcslen(text));
    if (n > uint32_t(INT32_MAX))
        return result;
    int bytes = 0;
    if (n > 0) {
        bytes = WideCharToMultiByte(CP_ACP, 0, text, int(n), nullptr, 0, nullptr, nullptr);
        if (bytes <= 0)
            return result;
    }
    if (!acquire(result, uint64_t(bytes) + 1))
        return result;
    if (n > 0 && WideCharToMultiByte(CP_ACP, 0, text, int(n), result.buffer, bytes, nullptr, nullptr) != bytes) {
        result.reset();
        return result;
    }
    result.buffer[bytes] = 0;
    result.length = uint32_t(bytes);
    return result;
}

WideText narrowToWide(const char* text)
{
    return narrowToWide(text ? uint32_t(strlen(text)) : 0u, text);
}

WideText narrowToWide(uint32_t n, const char* bytes)
{
    WideText result;
    if (!bytes)
        n = 0;
    if (n > uint32_t(INT32_MAX))
        return result;
    int chars = 0;
    if (n > 0) {
        chars = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, int(n), nullptr, 0);
        if (chars <= 0)
            return result;
    }
    if (!acquire(result, uint64_t(chars) + 1))
        return result;
    if (n > 0 && MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, bytes, int(n), result.buffer, chars) != chars) {
        result.reset();
        return result;
    }
    result.buffer[chars] = 0;
    result.length = uint32_t(chars);
    return result;
}

wchar_t* utf8ToWide(uint32_t n, const char* bytes)
{
    return decodeUtf8(n, bytes);
}

wchar_t* utf8ToWide(uint32_t n, const wchar_t* units)
{
    return decodeUtf8(n, units);
}
