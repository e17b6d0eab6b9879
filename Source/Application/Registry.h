#pragma once

#include "Core/String.h"

#include <windows.h>

#include <cstdint>

// The program's own registry key under HKEY_CURRENT_USER\Software\<program name>
// and its named values. A key of 0 means "no key": reads then find nothing and
// writes do nothing, so callers keep their defaults.
class Registry
{
public:
    // Opens HKCU\Software\<name>, creating it when it does not exist yet
    // (then *created, when given, becomes true). Returns 0 when both fail.
    // The caller keeps the handle for the whole run.
    static HKEY open(const String& programName, bool* created = nullptr);

    // Writes a value; the result is ignored (settings are kept in memory anyway).
    static void setValue(HKEY key, const wchar_t* valueName, DWORD type, const void* data, uint32_t size);

    // Reads a value into buffer (at most size bytes). Returns the value's size on
    // success, 0 when there is no key, no such value or it does not fit; the buffer
    // is left unchanged on failure.
    static uint32_t queryValue(HKEY key, const wchar_t* valueName, void* buffer, uint32_t size);
};
