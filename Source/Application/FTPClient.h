#pragma once
// The FTP client of the crash upload: login, binary type, passive mode, one
// stored file, quit. Each step reports success; none tells the user.
#include "Application/Socket.h"

namespace Network {

class FTPClient : public SocketClient {
public:
    FTPClient(const String& host, uint16_t port);
    ~FTPClient() override;

    bool login(const String& user, const String& password);
    bool setBinary();
    void enterPassive();
    bool store(FileInterface& file, const String& remoteName);
    void quit();

    bool isLoggedIn() const { return loggedIn != 0; }

    // True when the reply's first three characters are code.
    static bool matches(const String& reply, const char* code);
    // Reads "227 ... (h1,h2,h3,h4,p1,p2)" into address and port; any other
    // reply leaves both as they were and returns false.
    static bool parsePassiveReply(const String& reply, uint8_t address[4], uint16_t& port);

protected:
    String host;
    uint16_t port;
    uint8_t dataAddress[4] = {0, 0, 0, 0};
    uint16_t dataPort = 0;
    SocketClient dataConnection;
    uint32_t loggedIn = 0;

private:
    bool command(const wchar_t* fmt, const String& argument);
};

}
