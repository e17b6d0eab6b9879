#include "Core/Directory.h"

#include <windows.h>

#include <cstdlib>
#include <direct.h>
#include <new>

namespace
{
// path followed by one backslash, unless it already ends in a separator.
String withBackslash(const String& path)
{
    const int32_t n = path.length();
    if (n > 0 && (path.text()[n - 1] == L'\\' || path.text()[n - 1] == L'/'))
        return path;
    return path.addBackslash();
}

String absoluteFolder(const String& path)
{
    wchar_t full[_MAX_PATH + 1] = {};
    if (path.length() == 0 || !_wfullpath(full, path.text(), _MAX_PATH))
        return String(L"");
    return withBackslash(String(full));
}
}

Directory::Directory(const String& path, bool createIfMissing)
    : path_(path), createIfMissing_(createIfMissing)
{
    name = path.getFileName();
    folder = withBackslash(path);
    fullFolder = absoluteFolder(path);
    pattern_ = makePattern(path);
    list();
}

Directory::~Directory()
{
    files.deleteAll();
    folders.deleteAll();
}

String Directory::makePattern(const String& path)
{
    String pattern;
    pattern.assign(path.length(), path.text());
    for (int32_t i = 0; i < path.length(); ++i) {
        const wchar_t c = path.text()[i];
        pattern.buffer()[i] = c == L'\\' ? L'/' : c;
    }
    pattern.replace(String::borrowed(L"//"), String::borrowed(L"/"));
    const int32_t n = pattern.length();
    if (n == 0 || pattern.text()[n - 1] != L'/')
        pattern = pattern + L"/";
    if (pattern.find(String::borrowed(L"*")) < 0)
        pattern = pattern + L"*";
    return pattern;
}

void Directory::list()
{
    files.deleteAll();
    folders.deleteAll();
    isOpen = false;

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern_.text(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        if (createIfMissing_ && path_.length() > 0)
            isOpen = _wmkdir(path_.text()) == 0;
        return;
    }
    isOpen = true;
    const String entryFolder = withBackslash(path_);
    do {
        const wchar_t* entryName = found.cFileName;
        if (entryName[0] == L'.' && (entryName[1] == 0 || (entryName[1] == L'.' && entryName[2] == 0)))
            continue;
        // Files and folders are described alike; only files carry a size.
        auto describe = [&](auto* info) {
            info->name = String(entryName);
            info->shortName = String(found.cAlternateFileName);
            info->folder = entryFolder;
            info->fullFolder = fullFolder;
            info->hidden = (found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) ? 1 : 0;
            info->system = (found.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) ? 1 : 0;
            return info;
        };
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            FolderInfo* info = new (std::nothrow) FolderInfo;
            if (!info)
                break;
            if (!folders.append(describe(info)))
                delete info;
        } else {
            FileInfo* info = new (std::nothrow) FileInfo;
            if (!info)
                break;
            describe(info)->fileSize = found.nFileSizeLow;
            if (!files.append(info))
                delete info;
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
