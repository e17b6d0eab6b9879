#pragma once
// Small file helpers for the application tests: a fresh folder per test and
// whole-file reads and writes.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace AppTestFiles {

inline bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::vector<uint8_t> read(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart < 16 * 1024 * 1024) {
        bytes.resize(size_t(size.QuadPart));
        DWORD got = 0;
        if (!bytes.empty() && (!ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size()))
            bytes.clear();
    }
    CloseHandle(file);
    return bytes;
}

inline bool write(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                                      written == bytes.size());
    CloseHandle(file);
    return ok;
}

// An empty folder of its own under the temporary folder, ending with a backslash.
inline std::wstring freshFolder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"KorvantaTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\";
    for (const wchar_t* leftover : {L"gset.dat", L"gset.dat.bad", L"gset.dat.tmp"})
        DeleteFileW((folder + leftover).c_str());
    return folder;
}

// Appends a little-endian u32.
inline void putU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

} // namespace AppTestFiles
