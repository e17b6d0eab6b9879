#include "Application/Registry.h"

#include <cstring>

HKEY Registry::open(const String& programName, bool* created)
{
    if (created)
        *created = false;
    String path(L"Software\\");
    path = path + programName;
    HKEY key = nullptr;
    if (RegOpenKeyW(HKEY_CURRENT_USER, path.text(), &key) == ERROR_SUCCESS)
        return key;
    key = nullptr;
    if (RegCreateKeyW(HKEY_CURRENT_USER, path.text(), &key) != ERROR_SUCCESS)
        return nullptr;
    if (created)
        *created = true;
    return key;
}

void Registry::setValue(HKEY key, const wchar_t* valueName, DWORD type, const void* data, uint32_t size)
{
    if (!key)
        return;
    RegSetValueExW(key, valueName, 0, type, static_cast<const BYTE*>(data), size);
}

uint32_t Registry::queryValue(HKEY key, const wchar_t* valueName, void* buffer, uint32_t size)
{
    if (!key || !buffer)
        return 0;
    // Read into a scratch copy first: a failed or oversized read must leave the
    // caller's buffer as it was.
    DWORD type = 0;
    DWORD needed = 0;
    if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &needed) != ERROR_SUCCESS || needed > size)
        return 0;
    BYTE scratch[256];
    if (needed > sizeof(scratch))
        return 0;
    DWORD got = needed;
    if (RegQueryValueExW(key, valueName, nullptr, &type, scratch, &got) != ERROR_SUCCESS || got > size)
        return 0;
    memcpy(buffer, scratch, got);
    return got;
}
