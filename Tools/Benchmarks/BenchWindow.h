#pragma once
// What the device benchmarks share: a clock in seconds, a borderless window
// with a device on it (no client: no loading frames, no hooks) and where the
// sample level lies.
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include "Core/File.h"
#include "Core/String.h"

#include <windows.h>

namespace BenchWindow {

inline double now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// A visible width x height window with the device on it, or null (the
// device then does not exist).
inline HWND open(const wchar_t* name, int width, int height)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, name, name, WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    if (!window || !gDirectGraphics.init() || !D3D::Device::create(gDirectGraphics.record, window, false, nullptr)) {
        if (window)
            DestroyWindow(window);
        return nullptr;
    }
    return window;
}

// "Data\Map\Valley.tee" under the working folder, else under the build
// folder of the benchmark.
inline String sampleLevel()
{
    const String local(L"Data\\Map\\Valley.tee");
    if (GetFileAttributesW(local.text()) != INVALID_FILE_ATTRIBUTES)
        return local;
    return getModuleFolder() + L"..\\..\\Data\\Map\\Valley.tee";
}

inline void close(HWND window)
{
    gDirectGraphics.release();
    DestroyWindow(window);
}

}
