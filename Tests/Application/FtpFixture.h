#pragma once
// The loopback FTP server that ctest starts for these tests (ftp_fixture.py).
#include <windows.h>

#include <cstdio>
#include <string>

struct FtpFixture {
    bool available = false;
    unsigned ftpPort = 0;
    unsigned silentPort = 0;
    std::wstring user, password;
    std::wstring folder; // the server's folder, as a Windows path ending in '\'

    // Host paths map to drive Z: under Wine.
    static std::wstring hostPath(const std::string& unixPath)
    {
        std::wstring path = L"Z:";
        for (char c : unixPath)
            path += c == '/' ? L'\\' : wchar_t(c);
        return path;
    }

    static FtpFixture load()
    {
        FtpFixture f;
        char info[1024];
        DWORD n = GetEnvironmentVariableA("KORVANTA_FTP_INFO", info, sizeof(info));
        if (n == 0 || n >= sizeof(info))
            return f;
        FILE* file = _wfopen(hostPath(info).c_str(), L"rb");
        if (!file)
            return f;
        char user[128], password[128], folder[768];
        if (fscanf(file, "%u %u %127s %127s %767s", &f.ftpPort, &f.silentPort, user, password, folder) == 5) {
            f.user.assign(user, user + strlen(user));
            f.password.assign(password, password + strlen(password));
            f.folder = hostPath(folder) + L"\\";
            f.available = true;
        }
        fclose(file);
        return f;
    }
};
