#include "Application/OSVersion.h"

OSVersion* gOSVersion = nullptr;

OSVersion OSVersion::read()
{
    OSVersion version;
    version.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    // GetVersionExW is deprecated but is the call that reports what the
    // protocol wants (on newer systems it reports the manifest's view).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version.info)) &&
        version.info.dwPlatformId == VER_PLATFORM_WIN32_NT && version.info.dwMajorVersion > 4) {
        version.info = OSVERSIONINFOEXW{};
        version.info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
        GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version.info));
    }
#pragma GCC diagnostic pop
    return version;
}

int32_t OSVersion::getCode()
{
    const DWORD major = info.dwMajorVersion;
    const DWORD minor = info.dwMinorVersion;
    const DWORD build = info.dwBuildNumber & 0xFFFF;
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        if (major != 4)
            return Unknown;
        if (minor < 10) {
            if (build == 950)
                return Windows95;
            if (build >= 951 && build <= 1080)
                return Windows95SP1;
            if (build > 1080)
                return Windows95OSR2;
            return Unknown;
        }
        if (minor == 10) {
            if (build == 1998)
                return Windows98;
            if (build >= 1999 && build <= 2182)
                return Windows98SP1;
            if (build > 2182)
                return Windows98SE;
            return Unknown;
        }
        return minor == 90 ? WindowsME : Unknown;
    case VER_PLATFORM_WIN32_NT:
        if (major == 3 && minor == 51)
            return WindowsNT351;
        if (major == 4 && minor == 0)
            return WindowsNT4;
        if (major == 5 && minor <= 2)
            return minor == 0 ? Windows2000 : minor == 1 ? WindowsXP : WindowsServer2003;
        if (major == 6 && minor <= 2) {
            if (productType == 0) {
                using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
                if (HMODULE kernel = GetModuleHandleW(L"KERNEL32.DLL")) {
                    auto getProductInfo = reinterpret_cast<GetProductInfoFunction>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "GetProductInfo")));
                    DWORD type = 0;
                    if (getProductInfo && getProductInfo(6, 0, 0, 0, &type))
                        productType = type;
                }
            }
            return minor == 0 ? WindowsVista : minor == 1 ? Windows7 : Windows8;
        }
        return Unknown;
    case 3: // VER_PLATFORM_WIN32_CE
        return WindowsCE;
    default:
        return Unknown;
    }
}

String OSVersion::getName()
{
    switch (getCode()) {
    case Windows95: return String(L"Windows 95");
    case Windows95SP1: return String(L"Windows 95 SP1");
    case Windows95OSR2: return String(L"Windows 95 OSR2");
    case Windows98: return String(L"Windows 98");
    case Windows98SP1: return String(L"Windows 98 SP1");
    case Windows98SE: return String(L"Windows 98 SE");
    case WindowsME: return String(L"Windows ME");
    case WindowsNT351: return String(L"Windows NT 3.51");
    case WindowsNT4: return String(L"Windows NT 4");
    case Windows2000: return String(L"Windows 2000");
    case WindowsXP: return String(L"Windows XP");
    case WindowsServer2003: return String(L"Windows Server 2003");
    case WindowsVista: return String(L"Windows Vista");
    case Windows7: return String(L"Windows 7");
    case Windows8: return String(L"Windows 8");
    case WindowsCE: return String(L"Windows CE");
    default: return String(L"unknown Windows version");
    }
}

String OSVersion::getEdition() const
{
    static const wchar_t* const editions[] = {
        L"An unknown product",
        L"Ultimate Edition",
        L"Home Basic Edition",
        L"Home Premium Edition",
        L"Enterprise Edition",
        L"Home Basic Edition",
        L"Business Edition",
        L"Server Standard Edition (full installation)",
        L"Server Datacenter Edition (full installation)",
        L"Small Business Server",
        L"Server Enterprise Edition (full installation)",
        L"Starter Edition",
        L"Server Datacenter Edition (core installation)",
        L"Server Standard Edition (core installation)",
        L"Server Enterprise Edition (core installation)",
        L"Server Enterprise Edition for Itanium-based Systems",
        L"Business Edition",
        L"Web Server Edition",
        L"Cluster Server Edition",
        L"Home Server Edition",
        L"Storage Server Express Edition",
        L"Storage Server Standard Edition",
        L"Storage Server Workgroup Edition",
        L"Storage Server Enterprise Edition",
        L"Server for Small Business Edition",
        L"Small Business Server Premium Edition",
    };
    if (productType < sizeof(editions) / sizeof(editions[0]))
        return String(editions[productType]);
    return String(L"");
}
