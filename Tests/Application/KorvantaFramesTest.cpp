// End to end with the render device: Korvanta.exe runs its frame loop on a real
// Direct3D 9 device in its window, survives a device reset asked for by the
// window (the end of a move) and quits cleanly. The run leaves a screenshot of
// the window beside the program ("korvanta-frames.bmp") as an artefact.
#include "AppTestFiles.h"
#include "ProgramRun.h"

#include "Application/GlobalSettings.h"
#include "Application/WinShell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef KORVANTA_EXE_PATH
#error "KORVANTA_EXE_PATH names the built Korvanta.exe"
#endif

namespace {

const std::wstring exePath = L"" KORVANTA_EXE_PATH;
const std::wstring exeFolder = exePath.substr(0, exePath.find_last_of(L"/\\"));

// True when the program's window procedure answers within the time: its
// main loop is running.
bool answers(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &result) != 0;
}

// The window's client area as the screen shows it, as a 24-bit BMP file.
bool saveScreenshot(HWND window, const std::wstring& path)
{
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != 0;
        GdiFlush();
        SelectObject(memory, old);
        const uint32_t rowBytes = (uint32_t(width) * 3 + 3) & ~3u;
        const uint32_t pixelBytes = rowBytes * uint32_t(height);
        const uint32_t offset = 14 + sizeof(BITMAPINFOHEADER);
        std::vector<uint8_t> file{'B', 'M'};
        AppTestFiles::putU32(file, offset + pixelBytes);
        AppTestFiles::putU32(file, 0);
        AppTestFiles::putU32(file, offset);
        const auto* header = reinterpret_cast<const uint8_t*>(&info.bmiHeader);
        file.insert(file.end(), header, header + sizeof(BITMAPINFOHEADER));
        const auto* pixels = static_cast<const uint8_t*>(bits);
        file.insert(file.end(), pixels, pixels + pixelBytes);
        ok = ok && AppTestFiles::write(path, file);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

TEST(KorvantaFrames, RunsFramesSurvivesADeviceResetAndQuits)
{
    const std::wstring folder = std::wstring(WinShell::getAppDataFolder().text()) + L"\\Korvanta\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    GlobalSettings seeded(String(folder.c_str()));
    seeded.width = 640;
    seeded.height = 480;
    seeded.options.fullScreen = 0;
    ASSERT_TRUE(seeded.writeFile());

    ProgramRun run(exePath);
    ASSERT_TRUE(run.started);
    HWND window = run.waitForWindow(L"Korvanta - Korvanta");
    EXPECT_NE(window, nullptr) << "no window";
    if (window) {
        Sleep(1500); // frames run meanwhile
        EXPECT_TRUE(answers(window)) << "the main loop does not answer while rendering";
        EXPECT_TRUE(saveScreenshot(window, exeFolder + L"\\korvanta-frames.bmp"));

        // The end of a move resets the device inside the running program.
        PostMessageW(window, WM_EXITSIZEMOVE, 0, 0);
        Sleep(1000);
        EXPECT_TRUE(answers(window)) << "the program does not answer after a device reset";
        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, 640);
        EXPECT_EQ(client.bottom, 480);

        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(run.waitForExit(15000), 0);
}

}
