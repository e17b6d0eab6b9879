#pragma once
// One run of a built program for the end-to-end tests: started in its own
// folder, its window found by class, ended by WM_CLOSE or left to end by
// itself. A run that a failed check leaves behind is terminated.
#include <windows.h>

#include <cwchar>
#include <string>

class ProgramRun
{
public:
    explicit ProgramRun(const std::wstring& path, const std::wstring& arguments = L"",
                        int showCommand = SW_SHOWNORMAL)
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = WORD(showCommand);
        std::wstring commandLine = L"\"" + path + L"\"";
        if (!arguments.empty())
            commandLine += L" " + arguments;
        const std::wstring folder = path.substr(0, path.find_last_of(L"/\\"));
        started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.c_str(), &startup, &process) != 0;
    }

    ~ProgramRun()
    {
        if (!started)
            return;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // The program's visible window of that class; null when none appeared in
    // time or the program ended first.
    HWND waitForWindow(const wchar_t* className, DWORD milliseconds = 30000)
    {
        for (DWORD waited = 0; started && waited < milliseconds; waited += 100) {
            Search search{process.dwProcessId, className, nullptr};
            EnumWindows(findWindow, reinterpret_cast<LPARAM>(&search));
            if (search.window && IsWindowVisible(search.window))
                return search.window;
            if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
                return nullptr;
        }
        return nullptr;
    }

    // The exit code, or -1000 when the program did not end within the time.
    long waitForExit(DWORD milliseconds)
    {
        if (!started || WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0)
            return -1000;
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        return long(code);
    }

    // Asks the window to close and waits for the program's end.
    long closeAndWait(HWND window, DWORD milliseconds = 10000)
    {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return waitForExit(milliseconds);
    }

    bool started = false;
    PROCESS_INFORMATION process{};

private:
    struct Search
    {
        DWORD processId;
        const wchar_t* className;
        HWND window;
    };

    static BOOL CALLBACK findWindow(HWND window, LPARAM context)
    {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner == search->processId && wcscmp(name, search->className) == 0) {
            search->window = window;
            return FALSE;
        }
        return TRUE;
    }
};
