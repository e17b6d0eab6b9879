#pragma once
// One run of a built program for the end-to-end tests, started in its own
// folder. A run that a failed check leaves behind is terminated.
//
// The waits follow the program's own progress, not the wall's clock: a busy
// machine slows the program and its waits alike. A wait gives up when the
// program's main thread has had a budget of processor time without getting
// there (it works, but not towards it), or has had none for a minute (it is
// blocked: no machine is that busy).
#include <windows.h>

#include <cstdint>
#include <functional>
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

    // The processor time the program's main thread has had, in ms (Wine
    // counts no other process's times, but its threads').
    uint64_t work() const
    {
        FILETIME created, ended, kernel, user;
        if (!started || !GetThreadTimes(process.hThread, &created, &ended, &kernel, &user))
            return 0;
        const auto ms = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000; };
        return ms(kernel) + ms(user);
    }

    // Polls every pollMs until done() holds (true) or the program has ended,
    // has had budget ms of work since the wait began, or has had none for a
    // minute (false).
    bool waitWhileWorking(const std::function<bool()>& done, uint64_t budget = 60000, DWORD pollMs = 50)
    {
        const uint64_t first = work();
        uint64_t last = first;
        for (ULONGLONG lastProgress = GetTickCount64(); started;) {
            if (done())
                return true;
            if (WaitForSingleObject(process.hProcess, pollMs) == WAIT_OBJECT_0)
                return done();
            const uint64_t now = work();
            if (now != last) {
                last = now;
                lastProgress = GetTickCount64();
            }
            if (now - first > budget || GetTickCount64() - lastProgress > stallLimit)
                return false;
        }
        return false;
    }

    // The program's visible window of that class; null when it ended or its
    // start-up came to no window.
    HWND waitForWindow(const wchar_t* className)
    {
        HWND found = nullptr;
        waitWhileWorking([&] {
            HWND window = FindWindowW(className, nullptr);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            found = window && owner == process.dwProcessId && IsWindowVisible(window) ? window : nullptr;
            return found != nullptr;
        });
        return found;
    }

    // Sends a message to the program's window and waits while the program
    // works until it has answered it (the program's thread takes sent
    // messages when it empties its queue); false when it never did.
    bool answers(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        // Kept when no answer came: a late one still writes into it.
        auto* answered = new bool(false);
        const auto noted = [](HWND, UINT, ULONG_PTR flag, LRESULT) { *reinterpret_cast<bool*>(flag) = true; };
        if (!SendMessageCallbackW(window, message, wParam, lParam, noted, ULONG_PTR(answered))) {
            delete answered;
            return false;
        }
        const bool ok = waitWhileWorking([&] {
            // The answer comes as a call back through this thread's queue.
            MSG pending;
            while (PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&pending);
            return *answered;
        });
        if (ok)
            delete answered;
        return ok;
    }

    // The exit code once the program has ended, or -1000 when it works on
    // (or hangs) instead, with budget ms of work.
    long waitForEnd(uint64_t budget = 60000)
    {
        waitWhileWorking([] { return false; }, budget);
        return waitForExit(0);
    }

    // The exit code, or -1000 when the program did not end within the
    // time on the wall's clock (0 asks whether it has ended).
    long waitForExit(DWORD milliseconds)
    {
        DWORD code = 0;
        if (!started || WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0)
            return -1000;
        GetExitCodeProcess(process.hProcess, &code);
        return long(code);
    }

    // A program whose main thread had no processor time for this long is
    // blocked, however busy the machine.
    static constexpr ULONGLONG stallLimit = 60000;

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
