#pragma once
// A map folder of the test's own: level heads written by the builder's
// level writer into a fresh folder under the temporary folder, and an
// application side that names it as the map folder.
#include "MenuStandIns.h"

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"

#include "Core/String.h"

#include <windows.h>

#include <string>
#include <vector>

namespace MenuMaps {

// A square picture of one colour, as a PNG file.
inline std::vector<uint8_t> preview(uint32_t argb, uint32_t size = 16)
{
    ImageFileWriter::Image image;
    image.width = size;
    image.height = size;
    image.argb.assign(size_t(size) * size, argb);
    return ImageFileWriter::png(image);
}

struct Folder
{
    // An empty folder of that name under the temporary folder.
    explicit Folder(const wchar_t* name)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        path = std::wstring(temp) + name + L"\\";
        CreateDirectoryW(path.c_str(), nullptr);
        clear();
    }
    ~Folder() { clear(); }
    void clear()
    {
        WIN32_FIND_DATAW found{};
        HANDLE h = FindFirstFileW((path + L"*").c_str(), &found);
        if (h == INVALID_HANDLE_VALUE)
            return;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((path + found.cFileName).c_str());
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    // A level head: name, preview, country code (tag 3) and kind.
    bool level(const wchar_t* file, const wchar_t* name, const wchar_t* code, int32_t kind,
               std::vector<uint8_t> image = preview(0xFF808080u))
    {
        LevelFileWriter::Level l;
        l.name = String(name);
        l.description = String(code);
        l.courseType = kind;
        l.preview = std::move(image);
        return LevelFileWriter::save(l, String((path + file).c_str()));
    }
    bool raw(const wchar_t* file, const std::vector<uint8_t>& bytes)
    {
        HANDLE h = CreateFileW((path + file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const bool ok = bytes.empty() || WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        CloseHandle(h);
        return ok;
    }
    String string() const { return String(path.c_str()); }

    std::wstring path;
};

// The application side with the test's map folder.
class Application : public MenuStandIn::Application
{
public:
    explicit Application(const Folder& maps) : folder(maps.path) {}
    String getMapFolder() override { return String(folder.c_str()); }
    std::wstring folder;
};

}
