#pragma once

#include "Core/String.h"

#include <windows.h>

#include <cstdint>

// The Windows version, read once at start-up; the crash protocol names it with
// getName, getEdition and the record's service-pack text.
class OSVersion
{
public:
    // Version codes: 1-7 the 9x family, 101-108 the NT family up to Windows 8,
    // 201 Windows CE, 0 anything else.
    enum Code : int32_t {
        Unknown = 0,
        Windows95 = 1, Windows95SP1 = 2, Windows95OSR2 = 3,
        Windows98 = 4, Windows98SP1 = 5, Windows98SE = 6, WindowsME = 7,
        WindowsNT351 = 101, WindowsNT4 = 102, Windows2000 = 103, WindowsXP = 104,
        WindowsServer2003 = 105, WindowsVista = 106, Windows7 = 107, Windows8 = 108,
        WindowsCE = 201,
    };

    // Reads the running system's version: the basic record first, then the
    // extended one on NT with a major version above 4.
    static OSVersion read();

    // The code of the table above. On 6.0 to 6.2 it first asks GetProductInfo for
    // the edition when productType is still 0 (the function is looked up at run
    // time; without it productType stays 0).
    int32_t getCode();
    String getName();
    // The edition of productType; "" for values outside the known list.
    String getEdition() const;

    OSVERSIONINFOEXW info{};
    uint32_t productType = 0;
};

static_assert(sizeof(OSVERSIONINFOW) == 276 && sizeof(OSVERSIONINFOEXW) == 284, "Windows version record sizes");

// The running system's version record, made by the start-up globals.
extern OSVersion* gOSVersion;
