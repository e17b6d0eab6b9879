#pragma once
// Scratch files for the stream, package and archive tests: a fresh folder per
// test under the system's temporary folder, removed when the test ends, and
// plain C runtime file access so that fixtures do not depend on the code under test.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

class TempFolder
{
public:
    TempFolder()
    {
        static unsigned counter = 0;
        wchar_t base[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, base);
        path_ = std::wstring(base) + L"KorvantaStreams_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(++counter) + L"\\";
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() { removeTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder, ending in a backslash.
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + name; }

private:
    static void removeTree(const std::wstring& folder)
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring full = folder + name;
                SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    removeTree(full + L"\\");
                else
                    DeleteFileW(full.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }

    std::wstring path_;
};

inline bool writeBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return written == bytes.size();
}

inline std::vector<uint8_t> readBytes(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return bytes;
    uint8_t chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(file);
    return bytes;
}

inline void appendU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

inline void appendText(std::vector<uint8_t>& bytes, const char* text)
{
    for (; *text; ++text)
        bytes.push_back(uint8_t(*text));
}

// A damaged copy of a valid file: flipped bytes, a random u32 planted over a
// count or size, a cut, or a stretch of garbage, chosen by the generator.
inline std::vector<uint8_t> mutate(const std::vector<uint8_t>& valid, std::mt19937& random)
{
    std::vector<uint8_t> bytes = valid;
    const int rounds = 1 + int(random() % 3);
    for (int r = 0; r < rounds && !bytes.empty(); ++r) {
        const size_t at = random() % bytes.size();
        switch (random() % 5) {
        case 0:
            bytes[at] ^= uint8_t(1u << (random() % 8));
            break;
        case 1:
            bytes[at] = uint8_t(random());
            break;
        case 2: {
            static const uint32_t extremes[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x10000000u, 0xFFFFu};
            const uint32_t value = random() % 2 ? extremes[random() % 5] : uint32_t(random());
            for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
                bytes[at + i] = uint8_t(value >> (8 * i));
            break;
        }
        case 3:
            bytes.resize(at);
            break;
        default:
            for (size_t i = at; i < bytes.size() && i < at + 16; ++i)
                bytes[i] = uint8_t(random());
            break;
        }
    }
    return bytes;
}
