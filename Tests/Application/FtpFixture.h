#pragma once
// The loopback FTP server that ctest starts for these tests (ftp_fixture.py);
// its info file holds the ports, the credentials and the server's folder.
#include "Core/String.h"

#include <windows.h>

#include <cstdio>
#include <string>

struct FtpFixture {
    bool available = false;
    unsigned ftpPort = 0, silentPort = 0;
    String user, password;
    std::wstring folder; // ending in '\'

    static FtpFixture load()
    {
        FtpFixture f;
        char info[1024], text[3][768];
        DWORD n = GetEnvironmentVariableA("KORVANTA_FTP_INFO", info, sizeof(info));
        FILE* file = n && n < sizeof(info) ? _wfopen(windowsPath(info).c_str(), L"rb") : nullptr;
        if (file && fscanf(file, "%u %u %767s %767s %767s", &f.ftpPort, &f.silentPort, text[0], text[1], text[2]) == 5) {
            f.user = windowsPath(text[0], false).c_str();
            f.password = windowsPath(text[1], false).c_str();
            f.folder = windowsPath(text[2]) + L"\\";
            f.available = true;
        }
        if (file)
            fclose(file);
        return f;
    }

    // Host paths are drive Z: under Wine.
    static std::wstring windowsPath(const char* text, bool hostPath = true)
    {
        std::wstring result = hostPath ? L"Z:" : L"";
        for (; *text; ++text)
            result += *text == '/' && hostPath ? L'\\' : wchar_t(*text);
        return result;
    }
};
