#include "Application/Socket.h"

#include "Core/FileInterface.h"

#include <ws2tcpip.h>

#include <vector>

namespace Network {

std::atomic<uint32_t> Socket::timeoutMilliseconds{10000};
std::atomic<SocketClient::SendCall> SocketClient::sendCall{::send};

namespace {

constexpr int chunkSize = 1472;
constexpr int sendAttempts = 8;
constexpr size_t longestLine = 4096;

void setTimeouts(SOCKET s)
{
    DWORD ms = Socket::timeoutMilliseconds.load();
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms), sizeof(ms));
}

}

Socket::Socket()
{
    WSADATA data;
    // A Winsock start-up per live socket object; the last clean-up unloads it.
    countsWinsock = WSAStartup(MAKEWORD(2, 0), &data) == 0;
    createHandle();
}

Socket::~Socket()
{
    close();
    if (countsWinsock)
        WSACleanup();
}

void Socket::createHandle()
{
    if (handle == INVALID_SOCKET && countsWinsock) {
        handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (handle != INVALID_SOCKET)
            setTimeouts(handle);
    }
}

void Socket::close()
{
    if (handle != INVALID_SOCKET) {
        shutdown(handle, SD_BOTH);
        closesocket(handle);
        handle = INVALID_SOCKET;
    }
}

bool Socket::connectTo(const sockaddr_in& target)
{
    createHandle();
    if (handle == INVALID_SOCKET)
        return false;

    // Non-blocking connect bounded by select, then back to blocking mode with
    // receive and send time-outs.
    u_long nonBlocking = 1;
    ioctlsocket(handle, FIONBIO, &nonBlocking);
    int result = ::connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof(target));
    bool ok = result == 0;
    if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(handle, &writable);
        FD_SET(handle, &failed);
        uint32_t ms = timeoutMilliseconds.load();
        timeval wait{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        if (select(0, nullptr, &writable, &failed, &wait) > 0 && FD_ISSET(handle, &writable)) {
            int error = 0;
            int length = sizeof(error);
            getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            ok = error == 0;
        }
    }
    u_long blocking = 0;
    ioctlsocket(handle, FIONBIO, &blocking);
    if (!ok) {
        // A socket whose connect failed cannot be reused.
        close();
        return false;
    }
    address = target;
    connected = 1;
    abortFlag = 0;
    return true;
}

bool SocketClient::connect(const String& host, uint16_t port)
{
    if (host.length() <= 0)
        return false;
    auto narrow = host.toNarrow();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(narrow.buffer, nullptr, &hints, &found) != 0 || !found)
        return false;
    sockaddr_in target = *reinterpret_cast<sockaddr_in*>(found->ai_addr);
    freeaddrinfo(found);
    target.sin_port = htons(port);
    return connectTo(target);
}

bool SocketClient::connectAddress(uint8_t h1, uint8_t h2, uint8_t h3, uint8_t h4, uint16_t port)
{
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl((uint32_t(h1) << 24) | (uint32_t(h2) << 16) | (uint32_t(h3) << 8) | h4);
    return connectTo(target);
}

void SocketClient::closeConnection()
{
    close();
    connected = 0;
    abortFlag = 0;
}

bool SocketClient::sendChunk(const char* bytes, int length)
{
    // The rest of a partly accepted chunk is sent again; a chunk fails after
    // eight calls that sent nothing.
    int failures = 0;
    while (length > 0) {
        if (abortFlag)
            return false;
        int sent = sendCall.load()(handle, bytes, length, 0);
        if (sent > 0) {
            bytes += sent;
            length -= sent;
        } else if (++failures >= sendAttempts) {
            return false;
        }
    }
    return true;
}

bool SocketClient::sendLine(const String& text)
{
    auto narrow = text.toNarrow();
    return sendBuffer(narrow.buffer, narrow.length);
}

bool SocketClient::sendBuffer(const void* bytes, uint32_t length)
{
    if (handle == INVALID_SOCKET)
        return false;
    const char* data = static_cast<const char*>(bytes);
    float start = progress;
    bool ok = true;
    for (uint32_t done = 0; done < length;) {
        int n = static_cast<int>(length - done < uint32_t(chunkSize) ? length - done : chunkSize);
        if (!sendChunk(data + done, n)) {
            ok = false;
            break;
        }
        done += n;
        progress = start + float(done) / float(length) * progressSpan;
    }
    if (ok)
        progress = start + progressSpan;
    if (progress > 1.0f)
        progress = 1.0f;
    return ok;
}

bool SocketClient::sendFile(FileInterface& file)
{
    if (handle == INVALID_SOCKET || !file.isOpen)
        return false;
    uint32_t total = file.size();
    float start = progress;
    char chunk[chunkSize];
    uint32_t done = 0;
    bool ok = true;
    for (;;) {
        uint32_t n = file.read(chunk, chunkSize);
        if (n == 0 || n == uint32_t(-1))
            break;
        if (!sendChunk(chunk, int(n))) {
            ok = false;
            break;
        }
        done += n;
        if (total)
            progress = start + float(done) / float(total) * progressSpan;
        if (n < uint32_t(chunkSize))
            break;
    }
    if (ok)
        progress = start + progressSpan;
    if (progress > 1.0f)
        progress = 1.0f;
    return ok;
}

String SocketClient::receiveLine()
{
    if (abortFlag || handle == INVALID_SOCKET)
        return String();
    std::vector<char> bytes;
    for (;;) {
        char c;
        int got = ::recv(handle, &c, 1, 0);
        if (got <= 0 || bytes.size() >= longestLine)
            return String();
        bytes.push_back(c);
        if (c == '\n')
            break;
    }
    String line;
    line.assignNarrow(int32_t(bytes.size()), bytes.data());
    return line;
}

}
