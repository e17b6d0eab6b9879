#include "Application/ShellWindows.h"

#include <objbase.h>
#include <shobjidl.h>

#include <cstring>

namespace {

bool hasClass(HWND window, const wchar_t* name)
{
    wchar_t buffer[256] = {};
    if (!window || !GetClassNameW(window, buffer, 256))
        return false;
    return wcscmp(buffer, name) == 0;
}

// Finds "Progman" as the grandparent of a "SysListView32" inside a "SHELLDLL_DefView".
BOOL CALLBACK findShellFromList(HWND child, LPARAM result)
{
    if (!hasClass(child, L"SysListView32"))
        return TRUE;
    HWND parent = GetParent(child);
    if (!hasClass(parent, L"SHELLDLL_DefView"))
        return TRUE;
    HWND grandparent = GetParent(parent);
    if (!hasClass(grandparent, L"Progman"))
        return TRUE;
    *reinterpret_cast<HWND*>(result) = grandparent;
    return FALSE;
}

// The first top-level window that holds a "SHELLDLL_DefView" gives that view.
BOOL CALLBACK findAnyView(HWND window, LPARAM result)
{
    HWND view = FindWindowExW(window, nullptr, L"SHELLDLL_DefView", nullptr);
    if (!view)
        return TRUE;
    *reinterpret_cast<HWND*>(result) = view;
    return FALSE;
}

const wchar_t helperClassName[] = L"Pellwick Helper Window Class";

} // namespace

HWND ShellWindows::findView(HWND shell)
{
    HWND view = FindWindowExW(shell, nullptr, L"SHELLDLL_DefView", nullptr);
    return view ? view : GetWindow(shell, GW_CHILD);
}

void ShellWindows::init()
{
    rootWindow = GetDesktopWindow();
    if (!rootWindow)
        return;

    shellWindow = GetShellWindow();
    if (!shellWindow)
        EnumChildWindows(rootWindow, findShellFromList, reinterpret_cast<LPARAM>(&shellWindow));
    if (!shellWindow)
        shellWindow = FindWindowExW(rootWindow, nullptr, L"Progman", L"Program Manager");
    if (!shellWindow)
        shellWindow = FindWindowW(L"Progman", nullptr);
    if (!shellWindow)
        return;

    viewWindow = findView(shellWindow);
    if (!viewWindow) {
        activateShellThroughTaskbar();
        viewWindow = findView(shellWindow);
        if (!viewWindow)
            EnumWindows(findAnyView, reinterpret_cast<LPARAM>(&viewWindow));
        if (!viewWindow)
            return;
    }

    listWindow = FindWindowExW(viewWindow, nullptr, L"SysListView32", L"FolderView");
    if (!listWindow)
        listWindow = GetWindow(viewWindow, GW_CHILD);
}

void ShellWindows::activateShellThroughTaskbar()
{
    WNDCLASSW helperClass{};
    helperClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_CLASSDC;
    helperClass.lpfnWndProc = DefWindowProcW;
    helperClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    helperClass.lpszClassName = helperClassName;
    RegisterClassW(&helperClass);

    HWND helper = CreateWindowExW(0, helperClassName, L"Helper", WS_OVERLAPPEDWINDOW | WS_MAXIMIZE | WS_VISIBLE,
                                  0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (helper) {
        ShowWindow(helper, SW_SHOW);
        UpdateWindow(helper);
        SetFocus(helper);
        SetForegroundWindow(helper);
        SetActiveWindow(helper);
        InvalidateRect(helper, nullptr, TRUE);
    }

    const HRESULT com = CoInitialize(nullptr);
    ITaskbarList* taskbar = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList,
                                   reinterpret_cast<void**>(&taskbar))) && taskbar) {
        taskbar->HrInit();
        taskbar->ActivateTab(shellWindow);
        taskbar->Release();
    }
    if (SUCCEEDED(com))
        CoUninitialize();

    if (helper)
        DestroyWindow(helper);
    UnregisterClassW(helperClassName, nullptr);
}
