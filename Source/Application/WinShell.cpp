#include "Application/WinShell.h"

#include <shlobj.h>

namespace WinShell {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* owner = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (owner)
        return owner->handleMessage(window, message, wParam, lParam);
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (create && create->lpCreateParams)
            static_cast<Window*>(create->lpCreateParams)->setWindow(window);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

String getAppDataFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, buffer) < 0)
        return String();
    return String(buffer);
}

LRESULT Window::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Window::setWindow(HWND hwnd)
{
    window = hwnd;
}

ATOM Window::registerClass(const String& name)
{
    if (&name != &className)
        className = name;
    windowClass.lpszClassName = className.text();
    return RegisterClassW(&windowClass);
}

void Window::destroy()
{
    if (!window)
        return;
    // The window may already be gone (closed by the user); the class still
    // has to be unregistered.
    if (IsWindow(window))
        DestroyWindow(window);
    window = nullptr;
    UnregisterClassW(className.text(), windowClass.hInstance);
    windowClass = WNDCLASSW{};
}

Window::~Window()
{
    if (destroyOnDelete)
        destroy();
}

} // namespace WinShell
