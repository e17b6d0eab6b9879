#include "Application/Multimonitor.h"

#include <gtest/gtest.h>

#include <cwchar>

using WinShell::Multimonitor;

TEST(Multimonitor, ChoosesTheFirstPrimaryAndFindsExactNamesAmongTheCountedRecords)
{
    Multimonitor monitors;
    monitors.enumerate();
    ASSERT_GE(monitors.count, 1);
    const Multimonitor::Monitor& primary = monitors.getPrimary();
    EXPECT_EQ(primary.handle, MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
    EXPECT_EQ(&monitors.findByDeviceName(primary.deviceName), &primary);
    String lower(primary.deviceName);
    lower.toLower();
    EXPECT_EQ(monitors.findByDeviceName(lower).handle, nullptr);

    const wchar_t* names[3] = {L"\\\\.\\DISPLAY1", L"\\\\.\\DISPLAY2", L"\\\\.\\DISPLAY3"};
    for (int i = 0; i < 3; ++i) {
        Multimonitor::Monitor& m = *monitors.list.at(i);
        m = Multimonitor::Monitor();
        wcsncpy(m.deviceName, names[i], 31);
        m.primary = i > 0;
        m.handle = reinterpret_cast<HMONITOR>(intptr_t(0x10 * (i + 1)));
    }
    monitors.count = 2;
    EXPECT_EQ(monitors.getPrimary().handle, reinterpret_cast<HMONITOR>(0x20));
    EXPECT_EQ(monitors.findByDeviceName(L"\\\\.\\DISPLAY1").handle, reinterpret_cast<HMONITOR>(0x10));
    EXPECT_EQ(monitors.findByDeviceName(L"\\\\.\\DISPLAY").handle, nullptr);
    EXPECT_EQ(monitors.findByDeviceName(L"\\\\.\\DISPLAY3").handle, nullptr); // beyond the count
    monitors.count = 1;
    EXPECT_EQ(monitors.getPrimary().handle, nullptr);
    EXPECT_EQ(monitors.getPrimary().width, -1);
}
