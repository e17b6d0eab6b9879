#pragma once
// Scratch folders, file access that does not go through the code under test,
// and damaged copies of valid files for the stream, package and archive tests.
#include "Core/FileInterface.h"
#include "Core/String.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder
{
public:
    TempFolder()
    {
        static unsigned counter = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 (L"KorvantaStreams_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter)))
                    .wstring() + L"\\";
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_, ignored_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; } // ends in a backslash
    std::wstring file(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
    std::error_code ignored_;
};

inline std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

inline bool writeBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(std::filesystem::path(path), std::ios::binary);
    return bool(file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())));
}

inline void appendU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

// A stored string: u32 count, then the characters.
inline void appendString(std::vector<uint8_t>& bytes, const std::string& s)
{
    appendU32(bytes, uint32_t(s.size()));
    bytes.insert(bytes.end(), s.begin(), s.end());
}

// Everything a stream has left to read.
inline std::string readAll(FileInterface& stream)
{
    std::string result;
    char chunk[512];
    uint32_t got;
    while ((got = stream.read(chunk, sizeof(chunk))) > 0 && got != FileInterface::readOnlyResult)
        result.append(chunk, got);
    return result;
}

// What the game reads at path (a file or "name.pack:inner"), or "<closed>".
inline std::string contentAt(const std::wstring& path)
{
    FileInterface* stream = openFile(String(path.c_str()), 0, 1, 1);
    const std::string content = stream->isOpen ? readAll(*stream) : "<closed>";
    stream->close();
    return content;
}

// A damaged copy of a valid file, one to three times over: a flipped bit, a
// huge or random u32 planted over a count or size, a cut, or 16 bytes of garbage.
inline std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, std::mt19937& random)
{
    static const uint32_t extremes[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x10000000u, 0xFFFFu};
    for (int round = 1 + int(random() % 3); round > 0 && !bytes.empty(); --round) {
        const size_t at = random() % bytes.size();
        const uint32_t kind = random() % 4;
        const uint32_t value = random() % 2 ? extremes[random() % 5] : uint32_t(random());
        if (kind == 0)
            bytes[at] ^= uint8_t(1u << (value % 8));
        else if (kind == 2)
            bytes.resize(at);
        for (size_t i = 0; kind % 2 && i < (kind == 1 ? 4u : 16u) && at + i < bytes.size(); ++i)
            bytes[at + i] = uint8_t(kind == 1 ? value >> (8 * i) : random());
    }
    return bytes;
}
