#include "Application/Multimonitor.h"

#include <gtest/gtest.h>

#include <cwchar>

using WinShell::Multimonitor;

namespace {

Multimonitor::Monitor fakeMonitor(const wchar_t* name, uint32_t primary, intptr_t handle)
{
    Multimonitor::Monitor monitor;
    wcsncpy(monitor.deviceName, name, 31);
    monitor.primary = primary;
    monitor.handle = reinterpret_cast<HMONITOR>(handle);
    return monitor;
}

} // namespace

TEST(Multimonitor, EnumeratesTheDisplayAndChoosesItsPrimaryMonitor)
{
    Multimonitor monitors;
    monitors.enumerate();
    ASSERT_GE(monitors.count, 1);
    const Multimonitor::Monitor& primary = monitors.getPrimary();
    ASSERT_NE(primary.handle, nullptr);
    EXPECT_EQ(primary.handle, MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
    EXPECT_GT(primary.monitorRect.right - primary.monitorRect.left, 0);
    EXPECT_GT(primary.bitsPerPixel, 0);
    EXPECT_EQ(primary.modeWidth, primary.width);
    EXPECT_EQ(primary.modeHeight, primary.height);

    const Multimonitor::Monitor& found = monitors.findByDeviceName(String(primary.deviceName));
    EXPECT_EQ(&found, &primary);

    // The name must match exactly, letter case included.
    String lower(primary.deviceName);
    lower.toLower();
    ASSERT_STRNE(lower.text(), primary.deviceName);
    EXPECT_EQ(monitors.findByDeviceName(lower).handle, nullptr);
    EXPECT_EQ(monitors.findByDeviceName(String(L"")).handle, nullptr);
    EXPECT_EQ(monitors.findByDeviceName(String()).handle, nullptr);
}

TEST(Multimonitor, ThreeMonitorsFillTwoBlocks)
{
    Multimonitor monitors;
    HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    for (int i = 0; i < 3; ++i)
        monitors.fill(monitor, nullptr);
    EXPECT_EQ(monitors.count, 3);
    EXPECT_EQ(monitors.list.blocks(), 2u);
    EXPECT_EQ(monitors.list.count(), 4);
    monitors.clear();
    EXPECT_EQ(monitors.count, 0);
    EXPECT_EQ(monitors.list.count(), 0);
    EXPECT_EQ(monitors.getPrimary().handle, nullptr);
}

TEST(Multimonitor, ChoosesTheFirstPrimaryAndFindsNamesOnlyAmongTheCountedRecords)
{
    Multimonitor monitors;
    *monitors.list.at(0) = fakeMonitor(L"\\\\.\\DISPLAY1", 0, 0x10);
    *monitors.list.at(1) = fakeMonitor(L"\\\\.\\DISPLAY2", 1, 0x20);
    *monitors.list.at(2) = fakeMonitor(L"\\\\.\\DISPLAY3", 1, 0x30);
    monitors.count = 2;
    EXPECT_EQ(monitors.getPrimary().handle, reinterpret_cast<HMONITOR>(0x20));
    EXPECT_EQ(monitors.findByDeviceName(String(L"\\\\.\\DISPLAY1")).handle, reinterpret_cast<HMONITOR>(0x10));
    EXPECT_EQ(monitors.findByDeviceName(String(L"\\\\.\\DISPLAY")).handle, nullptr);
    // Beyond the count: not a monitor of this machine.
    EXPECT_EQ(monitors.findByDeviceName(String(L"\\\\.\\DISPLAY3")).handle, nullptr);

    monitors.count = 1;
    const Multimonitor::Monitor& none = monitors.getPrimary();
    EXPECT_EQ(none.handle, nullptr);
    EXPECT_EQ(none.width, -1);
    EXPECT_EQ(none.modeWidth, -1);
}
