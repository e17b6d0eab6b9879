// The editing pages' costs, one core, editor only (off the race frame): a
// slider's handling of one message (one it ignores, and a moved thumb), a
// whole page message through the Fire page's six sliders, opening and
// closing pages from their dialog templates (the Cloths page among them),
// and the tree dialog's refresh of the leafy sample tree.
#include "BenchDevice.h"
#include "BenchFigures.h"
#include "EffectPackageSamples.h"
#include "FunctionsRecordWriter.h"
#include "TreeSamples.h"

#include "Objects/Cloths.h"
#include "Objects/Fire.h"
#include "Objects/LensFlare.h"
#include "Tree/Tree.h"
#include "Tree/TreeParamDialog.h"
#include "Vehicle/QuadPhysics.h"

#include "Core/FileArray.h"

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
    // Wine starts its services (devices, plug and play, the desktop) beside
    // the program's first moments, and they keep its server busy: a page
    // opened then takes several times as long. Each page is opened once
    // (classes, fonts), then the figures wait for that start to be over.
    {
        ObjPkgManager::Functions::Fire fire(nullptr);
        ObjPkgManager::Functions::QuadPhysics quad(nullptr);
        fire.create(DialogPages::fire, nullptr, true);
        fire.close(IDOK);
        quad.create(DialogPages::quad, nullptr, true);
        quad.close(IDOK);
        Sleep(2000);
    }
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
    // Opening and closing apart. Under Xvfb the benchmark's windows are
    // unmanaged (wine-run.sh): no window manager is waited for.
    const auto openAndClose = [](Template& page, uint16_t resource, const char* name) {
        std::vector<double> opening, closing, both;
        for (int r = 0; r < 15; ++r) {
            const double start = now();
            page.create(resource, nullptr, true);
            const double opened = now();
            page.close(IDOK);
            const double closed = now();
            opening.push_back(opened - start);
            closing.push_back(closed - opened);
            both.push_back(closed - start);
        }
        char label[128];
        std::snprintf(label, sizeof(label), "opening and closing the %s page (budget 20 ms)", name);
        BenchFigures::print(label, BenchFigures::of(both), 1e3, "ms");
        std::snprintf(label, sizeof(label), "  of it opening");
        BenchFigures::print(label, BenchFigures::of(opening), 1e3, "ms");
        std::snprintf(label, sizeof(label), "  of it closing");
        BenchFigures::print(label, BenchFigures::of(closing), 1e3, "ms");
    };
    openAndClose(fire, DialogPages::fire, "Fire");
    ObjPkgManager::Functions::QuadPhysics quad(nullptr);
    openAndClose(quad, DialogPages::quad, "quad");

    // The tree dialog's refresh needs the device for the bark.
    struct Client final : D3D::SwapChainInterface
    {
    } client;
    HWND window = nullptr;
    if (!BenchDevice::open(L"DialogBench", 320, 240, client, window))
        return 0;
    {
        ObjPkgManager::Functions::LensFlare flare(nullptr);
        openAndClose(flare, DialogPages::lensFlare, "lens flare");
    }
    {
        // The capture flag's cloth, its image previewed at each opening.
        FileArray block(4096);
        FunctionsRecordWriter::writeCloths(block, EffectPackageSamples::flagCloth());
        block.seek(0, 0);
        ObjPkgManager::Functions::Cloths cloths(nullptr);
        cloths.load(block);
        openAndClose(cloths, DialogPages::cloths, "Cloths");
    }
    const std::vector<uint8_t> sample = TreeSamples::leafyTree(true);
    FileArray stream(4096);
    stream.write(sample.data(), uint32_t(sample.size()));
    stream.seek(0, 0);
    Tree tree;
    if (!tree.openDialog(nullptr)) {
        std::printf("the tree dialog did not open\n");
        return 1;
    }
    tree.generate(stream);
    std::printf("leafy sample: %u foliage objects, bark %s\n", tree.foliageCount(), tree.hasBark() ? "yes" : "no");
    // Between two refreshes the message loop paints what the first left.
    BenchFigures::print("Tree::ParamDialog::refresh, leafy sample (budget 3 ms)", BenchFigures::repeat(9, [&] {
                            UpdateWindow(tree.dialog->window);
                            const double start = now();
                            tree.dialog->refresh();
                            return now() - start;
                        }),
                        1e3, "ms");
    Tree::ParamDialog& dialog = *tree.dialog;
    // Every label and thumb moved: the values changed since the last refresh.
    std::vector<float*> reals;
    for (DialogTools::Slider& s : dialog.reals)
        reals.push_back(s.value);
    for (Tree::ParamDialog::LevelPage& page : dialog.levels)
        for (DialogTools::Slider& s : page.reals)
            reals.push_back(s.value);
    int round = 0;
    BenchFigures::print("  the same, every float slider's value changed", BenchFigures::repeat(9, [&] {
                            ++round;
                            for (float* v : reals)
                                *v = (round & 1) ? *v * 0.5f : *v * 2.0f;
                            UpdateWindow(tree.dialog->window);
                            const double start = now();
                            tree.dialog->refresh();
                            return now() - start;
                        }),
                        1e3, "ms");
    BenchFigures::print("  and the repaint it leaves (UpdateWindow)", BenchFigures::repeat(9, [&] {
                            ++round;
                            for (float* v : reals)
                                *v = (round & 1) ? *v * 0.5f : *v * 2.0f;
                            UpdateWindow(tree.dialog->window);
                            tree.dialog->refresh();
                            const double start = now();
                            UpdateWindow(tree.dialog->window);
                            return now() - start;
                        }),
                        1e3, "ms");
    BenchFigures::print("  of it the four level pages", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            for (Tree::ParamDialog::LevelPage& page : dialog.levels)
                                dialog.refreshLevel(page);
                            return now() - start;
                        }),
                        1e3, "ms");
    BenchFigures::print("  of it the foliage list", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            dialog.refreshFoliageList();
                            return now() - start;
                        }),
                        1e3, "ms");
    BenchFigures::print("  of it the counts", BenchFigures::repeat(9, [&] {
                            const double start = now();
                            dialog.showCounts();
                            return now() - start;
                        }),
                        1e3, "ms");
    return 0;
}
