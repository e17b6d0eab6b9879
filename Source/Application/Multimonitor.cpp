#include "Application/Multimonitor.h"

#include <cstring>

namespace WinShell {

Multimonitor* gMonitors = nullptr;

namespace {

BOOL CALLBACK fillCallback(HMONITOR monitor, HDC dc, LPRECT, LPARAM context)
{
    reinterpret_cast<Multimonitor*>(context)->fill(monitor, dc);
    return TRUE;
}

} // namespace

void Multimonitor::enumerate()
{
    count = 0;
    HDC screen = GetDC(nullptr);
    EnumDisplayMonitors(screen, nullptr, fillCallback, reinterpret_cast<LPARAM>(this));
    Sleep(30);
    ReleaseDC(nullptr, screen);
}

void Multimonitor::fill(HMONITOR monitor, HDC dc)
{
    Monitor* record = list.at(count);
    if (!record)
        return;
    ++count;
    record->handle = monitor;
    record->dc = dc;

    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    if (GetMonitorInfoW(monitor, &info)) {
        record->primary = (info.dwFlags & MONITORINFOF_PRIMARY) ? 1 : 0;
        record->monitorRect = info.rcMonitor;
        record->workRect = info.rcWork;
        static_assert(sizeof(record->deviceName) == sizeof(info.szDevice), "device name sizes");
        memcpy(record->deviceName, info.szDevice, sizeof(record->deviceName));
        record->deviceName[31] = 0;
    }
    if (dc)
        record->bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL);

    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    if (record->deviceName[0] && EnumDisplaySettingsW(record->deviceName, ENUM_REGISTRY_SETTINGS, &mode)) {
        record->width = int32_t(mode.dmPelsWidth);
        record->height = int32_t(mode.dmPelsHeight);
    }
    if (record->modeWidth == -1 && record->modeHeight == -1) {
        record->modeWidth = record->width;
        record->modeHeight = record->height;
    }
}

const Multimonitor::Monitor& Multimonitor::getPrimary()
{
    for (int32_t i = 0; i < count; ++i) {
        const Monitor* record = list.at(i);
        if (record && record->primary)
            return *record;
    }
    return emptyRecord();
}

const Multimonitor::Monitor& Multimonitor::findByDeviceName(const String& name)
{
    if (name.length() <= 0)
        return emptyRecord();
    for (int32_t i = 0; i < count; ++i) {
        const Monitor* record = list.at(i);
        if (!record)
            break;
        const size_t length = wcsnlen(record->deviceName, 32);
        if (length == size_t(name.length()) && memcmp(record->deviceName, name.text(), length * sizeof(wchar_t)) == 0)
            return *record;
    }
    return emptyRecord();
}

void Multimonitor::clear()
{
    delete[] list.detach();
    count = 0;
}

const Multimonitor::Monitor& Multimonitor::emptyRecord()
{
    static const Monitor empty;
    return empty;
}

} // namespace WinShell
