#pragma once

#include <windows.h>

#include <cstdint>

// The shell's windows, looked up once before the program starts: the desktop,
// the shell's top window ("Progman"), its view ("SHELLDLL_DefView") and the
// icon list inside it. When the view is missing, the shell window is
// activated through the task bar (with a brief helper window) and searched
// again. Nothing reads the handles later; the search and its effects are what
// the start-up needs. Every step that finds nothing ends the search quietly.
class ShellWindows
{
public:
    ShellWindows() { init(); }
    ShellWindows(const ShellWindows&) = delete;
    ShellWindows& operator=(const ShellWindows&) = delete;

    HWND rootWindow = nullptr;
    HWND shellWindow = nullptr;
    HWND viewWindow = nullptr;
    HWND listWindow = nullptr;

private:
    void init();
    void activateShellThroughTaskbar();
    static HWND findView(HWND shell);
};
