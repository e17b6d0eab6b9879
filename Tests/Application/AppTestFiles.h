#pragma once
// File helpers for the application tests: whole-file reads and writes and a
// fresh folder per test.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace AppTestFiles {

inline std::vector<uint8_t> read(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    FILE* file = _wfopen(path.c_str(), L"rb");
    uint8_t chunk[4096];
    for (size_t got; file && (got = fread(chunk, 1, sizeof(chunk), file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + got);
    if (file)
        fclose(file);
    return bytes;
}

inline bool write(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    const bool ok = file && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return file && fclose(file) == 0 && ok;
}

// Deletes what folder (ending with a backslash) holds, folders below and
// read-only files too; the folder itself stays.
inline void emptyFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            emptyFolder(path + L"\\");
            RemoveDirectoryW(path.c_str());
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// An empty folder of the test's own under the temporary folder, ending with a
// backslash. Wine hands out the same process ids run after run, so whatever an
// earlier run left in it goes.
inline std::wstring freshFolder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"KorvantaTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\";
    emptyFolder(folder);
    return folder;
}

inline void putU32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(uint8_t(value >> (8 * i)));
}

} // namespace AppTestFiles
