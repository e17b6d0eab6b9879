#pragma once
// A small blocking TCP client over Winsock 2, used only by the crash report's
// FTP upload. Every step is bounded by Socket::timeoutMilliseconds, so a
// server that is down, unreachable or silent cannot hang the crash handler.
#include "Core/String.h"

#include <winsock2.h>

#include <atomic>
#include <cstdint>

class FileInterface;

namespace Network {

class Socket {
public:
    Socket();
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    virtual float getProgress() const { return progress; }
    // Shuts down both directions, closes the handle and marks it invalid.
    virtual void close();

    bool isConnected() const { return connected != 0; }

    // Upper bound of every connect, send and receive; 10 s unless a test changes it.
    static std::atomic<uint32_t> timeoutMilliseconds;

protected:
    void createHandle();
    bool connectTo(const sockaddr_in& target);

    SOCKET handle = INVALID_SOCKET;
    sockaddr_in address{};
    float progress = 0.0f;
    float progressSpan = 0.0f;
    uint32_t abortFlag = 0;
    uint32_t connected = 0;

private:
    bool countsWinsock = false;
};

class SocketClient : public Socket {
public:
    // Resolves host and connects to its first address; on failure nothing changes.
    bool connect(const String& host, uint16_t port);
    bool connectAddress(uint8_t h1, uint8_t h2, uint8_t h3, uint8_t h4, uint16_t port);

    bool sendLine(const String& text);
    bool sendBuffer(const void* bytes, uint32_t length);
    bool sendFile(FileInterface& file);
    // One line, line end included; empty when aborted, closed, timed out or
    // when the line grows beyond any sane reply.
    String receiveLine();

    void setProgressSpan(float span) { progressSpan = span; }
    void closeConnection();

    // The call that sends one piece: Winsock's send, unless a test stands in.
    using SendCall = int(WSAAPI*)(SOCKET, const char*, int, int);
    static std::atomic<SendCall> sendCall;

private:
    bool sendChunk(const char* bytes, int length);
};

}
