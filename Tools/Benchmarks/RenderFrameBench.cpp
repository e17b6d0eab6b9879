// Prints the time the renderer's own frame code takes per empty frame: the
// swap chain's beginFrame and render with an empty client, which includes the
// state calls they hand to the device but not the device's drawing and
// presenting (Clear and Present are timed apart). Each figure is the minimum
// and the median over the frames. Needs a display.
#include "BenchFigures.h"

#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

class EmptyClient final : public D3D::SwapChainInterface
{
};

double seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

}

int main()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RenderFrameBench";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"RenderFrameBench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  640, 480, nullptr, nullptr, wc.hInstance, nullptr);
    EmptyClient client;
    if (!window || !gDirectGraphics.init() || !D3D::Device::create(gDirectGraphics.record, window, false, &client)) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain* chain = gDirectGraphics.record.firstSwapChain();

    LARGE_INTEGER frequency, a, b, c;
    QueryPerformanceFrequency(&frequency);
    constexpr int frames = 2000;
    std::vector<double> frameCode, device;
    for (int i = 0; i < frames; ++i) {
        QueryPerformanceCounter(&a);
        chain->beginFrame();
        chain->render(true);
        QueryPerformanceCounter(&b);
        gDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        chain->present();
        QueryPerformanceCounter(&c);
        frameCode.push_back(seconds(a, b, frequency));
        device.push_back(seconds(b, c, frequency));
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    std::printf("frames                      %d\n", frames);
    BenchFigures::print("frame code per frame", BenchFigures::of(std::move(frameCode)), 1000.0, "ms");
    BenchFigures::print("clear and present per frame", BenchFigures::of(std::move(device)), 1000.0, "ms");
    gDirectGraphics.release();
    DestroyWindow(window);
    return 0;
}
