#include "Application/OSVersion.h"

#include <gtest/gtest.h>

TEST(OSVersion, NamesAndEditionsOfTheRecords)
{
    struct Case { DWORD platform, major, minor, build; uint32_t product; const wchar_t* name; const wchar_t* edition; };
    const Case cases[] = {
        {1, 4, 0, 949, 1, L"unknown Windows version", nullptr},
        {1, 4, 0, 0x04000000 | 950, 1, L"Windows 95", nullptr}, // the build is the low 16 bits
        {1, 4, 0, 1081, 1, L"Windows 95 OSR2", nullptr},
        {1, 4, 10, 2222, 1, L"Windows 98 SE", nullptr},
        {2, 5, 1, 2600, 0, L"Windows XP", L"An unknown product"}, // below 6.0 no product is asked for
        {2, 6, 1, 7601, 3, L"Windows 7", L"Home Premium Edition"},
        {2, 6, 1, 0, 26, L"Windows 7", L""},
        {2, 6, 3, 9600, 0, L"unknown Windows version", L"An unknown product"},
        {3, 5, 0, 1, 1, L"Windows CE", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OSVersion version;
        version.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
        version.info.dwPlatformId = c.platform;
        version.info.dwMajorVersion = c.major;
        version.info.dwMinorVersion = c.minor;
        version.info.dwBuildNumber = c.build;
        version.productType = c.product; // preset, so the running system is not asked
        EXPECT_STREQ(version.getName().text(), c.name);
        EXPECT_STREQ(c.edition ? version.getEdition().text() : nullptr, c.edition);
    }
}
