#pragma once

#include "Core/DynArray.h"
#include "Core/String.h"

#include <windows.h>

#include <cstdint>

namespace WinShell {

// The monitors attached to the machine, filled once at start-up; the
// application picks the one that its window and the device use.
// Main thread only.
class Multimonitor
{
public:
    // One monitor, plain data copied by value.
    struct Monitor
    {
        uint32_t primary = 0;
        int32_t width = -1;  // display mode stored in the registry for the device
        int32_t height = -1;
        RECT monitorRect{};  // virtual-screen coordinates
        RECT workRect{};     // without the task bar
        int32_t bitsPerPixel = 0;
        wchar_t deviceName[32] = {};
        HMONITOR handle = nullptr;
        HDC dc = nullptr;    // only valid during enumeration
        int32_t modeWidth = -1; // chosen display mode; the first fill copies width and height
        int32_t modeHeight = -1;
    };

    Multimonitor() : list(2) {}

    // Empties the list and enumerates every monitor of the virtual screen.
    void enumerate();

    // Fills the next record from a monitor handle and its device context.
    void fill(HMONITOR monitor, HDC dc);

    // The first record flagged primary, else the empty record.
    const Monitor& getPrimary();

    // The first record whose device name equals name exactly (case counts),
    // else the empty record. An empty name gives the empty record.
    const Monitor& findByDeviceName(const String& name);

    // Frees the list (count and capacity 0).
    void clear();

    // The record returned where no monitor matches: every field at its initial value.
    static const Monitor& emptyRecord();

    DynArray<Monitor> list;
    int32_t count = 0;
};

// The process's monitor list, made by the start-up globals.
extern Multimonitor* gMonitors;

} // namespace WinShell
