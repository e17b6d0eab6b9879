#pragma once
// The loopback FTP server that ctest starts for these tests (ftp_fixture.py).
#include "Core/String.h"

#include <windows.h>

#include <cstdio>
#include <string>

struct FtpFixture {
    bool available = false;
    unsigned ftpPort = 0, silentPort = 0;
    String user, password;
    std::wstring folder; // the server's folder, ending in '\'

    // Host paths map to drive Z: under Wine.
    static std::wstring hostPath(const char* unixPath)
    {
        std::wstring path = L"Z:";
        for (; *unixPath; ++unixPath)
            path += *unixPath == '/' ? L'\\' : wchar_t(*unixPath);
        return path;
    }

    static FtpFixture load()
    {
        FtpFixture f;
        char info[1024], user[128], password[128], folder[768];
        DWORD n = GetEnvironmentVariableA("KORVANTA_FTP_INFO", info, sizeof(info));
        FILE* file = n && n < sizeof(info) ? _wfopen(hostPath(info).c_str(), L"rb") : nullptr;
        if (!file)
            return f;
        if (fscanf(file, "%u %u %127s %127s %767s", &f.ftpPort, &f.silentPort, user, password, folder) == 5) {
            f.user = String(std::wstring(user, user + strlen(user)).c_str());
            f.password = String(std::wstring(password, password + strlen(password)).c_str());
            f.folder = hostPath(folder) + L"\\";
            f.available = true;
        }
        fclose(file);
        return f;
    }
};
