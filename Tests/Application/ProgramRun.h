#pragma once
// One run of a built program for the end-to-end tests, started in its own
// folder. A run that a failed check leaves behind is terminated.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class ProgramRun
{
public:
    explicit ProgramRun(const std::wstring& path, const std::wstring& arguments = L"", int show = SW_SHOWNORMAL)
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = WORD(show);
        std::wstring commandLine = L"\"" + path + L"\" " + arguments;
        const std::wstring folder = path.substr(0, path.find_last_of(L"/\\"));
        started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 folder.c_str(), &startup, &process) != 0;
        startError = started ? 0 : GetLastError();
    }
    ~ProgramRun()
    {
        if (started && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process.hProcess, 99);
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }

    // The program's visible window of that class; null when none appeared in time.
    HWND waitForWindow(const wchar_t* className)
    {
        for (int tries = 0; started && tries < 300; ++tries) {
            HWND window = FindWindowW(className, nullptr);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (window && owner == process.dwProcessId && IsWindowVisible(window))
                return window;
            if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
                return nullptr;
        }
        return nullptr;
    }

    // The exit code, or -1000 when the program did not end within the time.
    long waitForExit(DWORD milliseconds)
    {
        DWORD code = 0;
        if (!started || WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0)
            return -1000;
        GetExitCodeProcess(process.hProcess, &code);
        return long(code);
    }

    bool started = false;
    DWORD startError = 0;
    PROCESS_INFORMATION process{};
};

// The game's registry value "Language" (empty when missing or not REG_BINARY).
inline std::vector<uint8_t> languageValue()
{
    std::vector<uint8_t> bytes(512);
    DWORD size = DWORD(bytes.size());
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Korvanta", L"Language", RRF_RT_REG_BINARY, nullptr, bytes.data(),
                     &size) != ERROR_SUCCESS)
        size = 0;
    bytes.resize(size);
    return bytes;
}
