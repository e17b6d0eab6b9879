#pragma once
// What the device benchmarks share: a window with the device on it, a
// clock, and a wait for the device's queued work.
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include <windows.h>

#include <cstdio>

namespace BenchDevice {

// A borderless window of width x height with the device on it; null, with
// "no device" printed, when either cannot be made.
inline D3D::Device::SwapChain* open(const wchar_t* name, int width, int height, D3D::SwapChainInterface& client,
                                    HWND& window)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = name;
    RegisterClassW(&wc);
    window = CreateWindowExW(0, name, name, WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                             wc.hInstance, nullptr);
    if (!window || !gDirectGraphics.init() || !D3D::Device::create(gDirectGraphics.record, window, false, &client)) {
        std::printf("no device\n");
        return nullptr;
    }
    return gDirectGraphics.record.firstSwapChain();
}

inline double seconds()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Waits until the device has carried out everything issued so far.
inline void finish(IDirect3DQuery9* query)
{
    if (!query)
        return;
    query->Issue(D3DISSUE_END);
    while (query->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE)
        ;
}

}
