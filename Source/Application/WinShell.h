#pragma once

#include "Core/String.h"

#include <windows.h>

#include <cstdint>

namespace WinShell {

// The class's window procedure: routes every message of a window to the
// Window object stored in its GWLP_USERDATA slot. Until the creator has stored
// the object there, messages go to DefWindowProcW; WM_CREATE also hands the
// handle to the object passed as the creation parameter.
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The user's application-data folder (CSIDL_APPDATA) without a trailing
// backslash; an empty String when the shell cannot tell.
String getAppDataFolder();

// A window class and one top-level window owned by an object. Owners fill
// windowClass, register it, create the window with themselves as the creation
// parameter and store themselves in GWLP_USERDATA right after creation.
// Not deleted through this base: no virtual destructor.
class Window
{
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Every message of the window; the default is DefWindowProcW.
    virtual LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    virtual void setWindow(HWND window);

    // Keeps name as the class name and registers windowClass under it.
    // Returns the atom, 0 on failure.
    ATOM registerClass(const String& name);

    // Destroys the window and unregisters its class; nothing without a window.
    void destroy();

    String className;
    WNDCLASSW windowClass{};
    HWND window = nullptr;
    uint32_t destroyOnDelete = 0; // non-zero: the destructor calls destroy()

protected:
    ~Window();
};

} // namespace WinShell
