#include "Application/OSVersion.h"

#include <gtest/gtest.h>

namespace {

OSVersion record(DWORD platform, DWORD major, DWORD minor, DWORD build, uint32_t productType = 0)
{
    OSVersion version;
    version.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    version.info.dwPlatformId = platform;
    version.info.dwMajorVersion = major;
    version.info.dwMinorVersion = minor;
    version.info.dwBuildNumber = build;
    version.productType = productType;
    return version;
}

} // namespace

TEST(OSVersion, NamesEveryVersionOfTheTable)
{
    struct Case { DWORD platform, major, minor, build; const wchar_t* name; };
    const Case cases[] = {
        {1, 4, 0, 949, L"unknown Windows version"},
        {1, 4, 0, 950, L"Windows 95"},
        {1, 4, 0, 1000, L"Windows 95 SP1"},
        {1, 4, 0, 1080, L"Windows 95 SP1"},
        {1, 4, 0, 1081, L"Windows 95 OSR2"},
        // Only the low 16 bits are the build.
        {1, 4, 0, 0x04000000 | 950, L"Windows 95"},
        {1, 4, 10, 1998, L"Windows 98"},
        {1, 4, 10, 2182, L"Windows 98 SP1"},
        {1, 4, 10, 2222, L"Windows 98 SE"},
        {1, 4, 90, 3000, L"Windows ME"},
        {2, 3, 51, 1057, L"Windows NT 3.51"},
        {2, 4, 0, 1381, L"Windows NT 4"},
        {2, 5, 0, 2195, L"Windows 2000"},
        {2, 5, 1, 2600, L"Windows XP"},
        {2, 5, 2, 3790, L"Windows Server 2003"},
        {2, 6, 0, 6002, L"Windows Vista"},
        {2, 6, 1, 7601, L"Windows 7"},
        {2, 6, 2, 9200, L"Windows 8"},
        {2, 6, 3, 9600, L"unknown Windows version"},
        {2, 10, 0, 19045, L"unknown Windows version"},
        {3, 5, 0, 1, L"Windows CE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.platform << " " << c.major << "." << c.minor << " " << c.build);
        // A product type is preset so that no query of the running system interferes.
        OSVersion version = record(c.platform, c.major, c.minor, c.build, 1);
        EXPECT_STREQ(version.getName().text(), c.name);
    }
}

TEST(OSVersion, EditionsComeFromTheProductType)
{
    OSVersion xp = record(2, 5, 1, 2600);
    EXPECT_STREQ(xp.getName().text(), L"Windows XP");
    // Below 6.0 the product is never asked for.
    EXPECT_EQ(xp.productType, 0u);
    EXPECT_STREQ(xp.getEdition().text(), L"An unknown product");

    OSVersion seven = record(2, 6, 1, 7601, 3);
    EXPECT_STREQ(seven.getName().text(), L"Windows 7");
    EXPECT_STREQ(seven.getEdition().text(), L"Home Premium Edition");

    OSVersion later = record(2, 6, 3, 9600);
    EXPECT_STREQ(later.getName().text(), L"unknown Windows version");
    EXPECT_STREQ(later.getEdition().text(), L"An unknown product");

    EXPECT_STREQ(record(2, 6, 1, 0, 25).getEdition().text(), L"Small Business Server Premium Edition");
    EXPECT_STREQ(record(2, 6, 1, 0, 26).getEdition().text(), L"");
    EXPECT_STREQ(record(2, 6, 1, 0, 0xABCD).getEdition().text(), L"");
}

TEST(OSVersion, ReadsTheRunningSystemsExtendedRecord)
{
    OSVersion version = OSVersion::read();
    EXPECT_EQ(version.info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
    EXPECT_GT(version.info.dwMajorVersion, 4u);
    EXPECT_EQ(version.info.dwOSVersionInfoSize, sizeof(OSVERSIONINFOEXW));
    EXPECT_GT(version.getName().length(), 0);
}
