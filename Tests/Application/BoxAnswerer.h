#pragma once

#include <windows.h>

#include <atomic>
#include <thread>

// Answers the failure boxes of this process while it lives, so that a failed
// start ends the test instead of waiting for a click.
class BoxAnswerer
{
public:
    BoxAnswerer()
        : thread_([this] {
              while (!done_) {
                  HWND box = nullptr;
                  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
                      DWORD owner = 0;
                      GetWindowThreadProcessId(box, &owner);
                      if (owner == GetCurrentProcessId())
                          PostMessageW(box, WM_COMMAND, IDOK, 0);
                  }
                  Sleep(100);
              }
          })
    {
    }
    ~BoxAnswerer()
    {
        done_ = true;
        thread_.join();
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};
