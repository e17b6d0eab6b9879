#include "Application/WinShell.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class RecordingWindow final : public WinShell::Window
{
public:
    ~RecordingWindow() = default;

    LRESULT handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        handled.push_back(message);
        if (message == WM_USER + 1)
            return 42;
        return Window::handleMessage(hwnd, message, wParam, lParam);
    }

    void setWindow(HWND hwnd) override
    {
        setWindowCalls.push_back(hwnd);
        Window::setWindow(hwnd);
    }

    std::vector<UINT> handled;
    std::vector<HWND> setWindowCalls;
};

const wchar_t testClassName[] = L"Korvanta WinShell Test";

bool classRegistered()
{
    WNDCLASSW found{};
    return GetClassInfoW(GetModuleHandleW(nullptr), testClassName, &found) != 0;
}

} // namespace

TEST(WinShellWindow, RoutesMessagesToTheOwnerOnceItIsStored)
{
    RecordingWindow owner;
    owner.windowClass.lpfnWndProc = WinShell::windowProc;
    owner.windowClass.hInstance = GetModuleHandleW(nullptr);
    ASSERT_NE(owner.registerClass(String(testClassName)), 0);

    HWND hwnd = CreateWindowExW(0, testClassName, L"test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                owner.windowClass.hInstance, &owner);
    ASSERT_NE(hwnd, nullptr);
    // WM_CREATE handed the handle over; nothing reached the handler yet.
    ASSERT_EQ(owner.setWindowCalls.size(), 1u);
    EXPECT_EQ(owner.setWindowCalls[0], hwnd);
    EXPECT_EQ(owner.window, hwnd);
    EXPECT_TRUE(owner.handled.empty());
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 0);
    EXPECT_TRUE(owner.handled.empty());

    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&owner));
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 42);
    ASSERT_FALSE(owner.handled.empty());
    EXPECT_EQ(owner.handled.back(), UINT(WM_USER + 1));

    owner.destroy();
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(owner.window, nullptr);
    EXPECT_FALSE(classRegistered());
}

TEST(WinShellWindow, DestroyWithoutAWindowLeavesTheClassRegistered)
{
    RecordingWindow owner;
    owner.windowClass.lpfnWndProc = WinShell::windowProc;
    owner.windowClass.hInstance = GetModuleHandleW(nullptr);
    ASSERT_NE(owner.registerClass(String(testClassName)), 0);
    owner.destroy();
    EXPECT_TRUE(classRegistered());
    EXPECT_TRUE(UnregisterClassW(testClassName, owner.windowClass.hInstance));
}
