// The editing pages' costs, one core, editor only (off the race frame): a
// slider's handling of one message (one it ignores, and a moved thumb), a
// whole page message through the Fire page's six sliders, and opening and
// closing a page from its dialog template.
#include "BenchFigures.h"

#include "Objects/Fire.h"

#include "Application/DialogTools.h"

#include "DialogPages.h"

#include <commctrl.h>

#include <windows.h>

#include <vector>

namespace {

double now()
{
    static LARGE_INTEGER frequency{};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

} // namespace

int main()
{
    ObjPkgManager::Functions::Fire fire(nullptr);
    fire.create(DialogPages::fire, nullptr, true);
    HWND page = fire.window;
    if (!page) {
        std::printf("the Fire page did not open\n");
        return 1;
    }
    constexpr int messages = 2000;
    DialogTools::Slider& slider = fire.sliders[0];
    HWND trackbar = GetDlgItem(page, slider.trackbarId);
    NMHDR notify{trackbar, UINT_PTR(slider.trackbarId), UINT(NM_RELEASEDCAPTURE)};
    NMHDR other{GetDlgItem(page, 1241), 1241, UINT(NM_RELEASEDCAPTURE)};

    BenchFigures::print("slider, a message of another control (budget 1 us)", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            for (int i = 0; i < messages; ++i)
                                slider.process(WM_NOTIFY, 0, LPARAM(&other));
                            return (now() - start) / messages;
                        }),
                        1e6, "us");
    BenchFigures::print("slider, its thumb at the same place (budget 1 us)", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            for (int i = 0; i < messages; ++i)
                                slider.process(WM_NOTIFY, 0, LPARAM(&notify));
                            return (now() - start) / messages;
                        }),
                        1e6, "us");
    BenchFigures::print("slider, its thumb moved (value and label)", BenchFigures::repeat(9, [&] {
                            double spent = 0.0;
                            for (int i = 0; i < messages / 10; ++i) {
                                SendMessageW(trackbar, TBM_SETPOS, TRUE, i % 100);
                                const double start = now();
                                slider.process(WM_NOTIFY, 0, LPARAM(&notify));
                                spent += now() - start;
                            }
                            return spent / (messages / 10);
                        }),
                        1e6, "us");
    BenchFigures::print("Fire page, one message through its sliders", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            for (int i = 0; i < messages; ++i)
                                SendMessageW(page, WM_NOTIFY, 1241, LPARAM(&other));
                            return (now() - start) / messages;
                        }),
                        1e6, "us");
    BenchFigures::print("the trackbar's position alone (TBM_GETPOS)", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            for (int i = 0; i < messages; ++i)
                                SendMessageW(trackbar, TBM_GETPOS, 0, 0);
                            return (now() - start) / messages;
                        }),
                        1e6, "us");
    BenchFigures::print("the trackbar found (GetDlgItem)", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            for (int i = 0; i < messages; ++i)
                                GetDlgItem(page, slider.trackbarId);
                            return (now() - start) / messages;
                        }),
                        1e6, "us");
    fire.close(IDOK);
    // Opening and closing apart: without a window manager (Xvfb) Wine waits
    // up to 2 s for one to take a captioned window back when it goes.
    std::vector<double> opening, closing;
    for (int r = 0; r < 9; ++r) {
        const double start = now();
        fire.create(DialogPages::fire, nullptr, true);
        const double opened = now();
        fire.close(IDOK);
        opening.push_back(opened - start);
        closing.push_back(now() - opened);
    }
    BenchFigures::print("opening the Fire page (budget 20 ms with closing)", BenchFigures::of(opening), 1e3, "ms");
    BenchFigures::print("closing the Fire page", BenchFigures::of(closing), 1e3, "ms");
    return 0;
}
