#include "Application/FTPClient.h"
#include "AppTestFiles.h"
#include "FtpFixture.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

using Network::FTPClient;

TEST(FTPClient, PassiveReplies)
{
    uint8_t address[4] = {9, 9, 9, 9};
    uint16_t port = 7;
    EXPECT_TRUE(FTPClient::parsePassiveReply(L"227 Entering Passive Mode (127,0,0,1,19,137).\r\n", address, port));
    EXPECT_EQ(port, 5001);
    EXPECT_EQ(address[0], 127);
    EXPECT_EQ(address[3], 1);
    // No parentheses, another code or a cut reply: the endpoint stays.
    for (const wchar_t* reply : {L"227 Entering Passive Mode 10,0,0,2,1,1\r\n", L"500 no (10,0,0,2,1,1)\r\n", L"22"})
        EXPECT_FALSE(FTPClient::parsePassiveReply(reply, address, port)) << reply;
    EXPECT_EQ(port, 5001);
    EXPECT_EQ(address[0], 127);
}

TEST(FTPClient, StoresAFileByteForByteAndGivesUpWithinItsBound)
{
    FtpFixture server = FtpFixture::load();
    if (!server.available)
        GTEST_SKIP() << "no loopback FTP server";
    // More than one 1472-byte chunk, and every byte value.
    std::vector<uint8_t> content;
    for (int i = 0; i < 5000; ++i)
        content.push_back(uint8_t(i * 7 + i / 256));
    FileArray file(512);
    file.write(content.data(), uint32_t(content.size()));
    file.seek(0, 0);

    FTPClient client(L"127.0.0.1", uint16_t(server.ftpPort));
    ASSERT_TRUE(client.login(server.user, server.password));
    EXPECT_FALSE(client.login(server.user, server.password)) << "a second login is refused";
    EXPECT_TRUE(client.setBinary());
    client.enterPassive();
    EXPECT_TRUE(client.store(file, L"stored by test.bin"));
    client.quit();
    EXPECT_FALSE(client.isLoggedIn());
    // The server writes the file when the data connection closes (a minute
    // at most: only a server that writes nothing takes that long).
    std::vector<uint8_t> stored;
    for (const DWORD start = GetTickCount(); stored.size() < content.size() && GetTickCount() - start < 60000;
         Sleep(50))
        stored = AppTestFiles::read(server.folder + L"stored by test.bin");
    EXPECT_EQ(stored, content);

    // Refused, silent or down: each gives up (a step waits its bound at most,
    // not for ever).
    const uint32_t saved = Network::Socket::timeoutMilliseconds.exchange(700);

    FTPClient refused(L"127.0.0.1", uint16_t(server.ftpPort));
    EXPECT_FALSE(refused.login(server.user, L"wrong password"));
    EXPECT_FALSE(refused.isConnected());
    // A listener that never answers, then nobody listening at all; the steps
    // after a failed login report failure instead of hanging.
    for (unsigned port : {server.silentPort, 1u}) {
        FTPClient failing(L"127.0.0.1", uint16_t(port));
        EXPECT_FALSE(failing.login(L"a", L"b")) << port;
        EXPECT_FALSE(failing.setBinary());
        EXPECT_FALSE(failing.store(file, L"never.txt"));
        failing.quit();
    }
    Network::Socket::timeoutMilliseconds = saved;
}

namespace {

// A memory file that notes the sending socket's progress before each read.
struct WatchedFile : FileArray
{
    explicit WatchedFile(const Network::Socket& socket) : FileArray(512), watched(socket) {}
    uint32_t read(void* buffer, uint32_t n) override
    {
        seen.push_back(watched.getProgress());
        return FileArray::read(buffer, n);
    }
    const Network::Socket& watched;
    std::vector<float> seen;
};

} // namespace

// A file goes out in chunks of 1472 bytes, each moving the progress by its
// share of the span; at the end the whole span has been added.
TEST(SocketClient, SendingAFileMovesTheProgressByItsShareOfTheSpan)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(local);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&local), &length), 0);

    Network::SocketClient client;
    ASSERT_TRUE(client.connectAddress(127, 0, 0, 1, ntohs(local.sin_port)));
    SOCKET peer = accept(listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    size_t received = 0;
    std::thread reader([&] {
        char buffer[4096];
        for (int n; (n = recv(peer, buffer, sizeof(buffer), 0)) > 0;)
            received += size_t(n);
    });
    WatchedFile file(client);
    const std::vector<uint8_t> content(5000, 0x5A);
    file.write(content.data(), uint32_t(content.size()));
    file.seek(0, 0);
    client.setProgressSpan(0.5f);
    EXPECT_TRUE(client.sendFile(file));
    client.closeConnection();
    reader.join();
    closesocket(peer);
    closesocket(listener);
    WSACleanup();

    EXPECT_EQ(received, content.size());
    const std::vector<float> expected = {0.0f, 0.5f * 1472 / 5000, 0.5f * 2944 / 5000, 0.5f * 4416 / 5000};
    ASSERT_EQ(file.seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(file.seen[i], expected[i], 1e-6f) << i;
    EXPECT_FLOAT_EQ(client.getProgress(), 0.5f);
}

namespace {

// Winsock's send replaced by a script: each call takes the next answer (bytes
// accepted, at most those offered; 0 or SOCKET_ERROR for nothing), and
// nothing once the script runs out.
struct SendScript
{
    static inline std::vector<int> answers;
    static inline size_t calls = 0;
    static inline std::vector<char> accepted;

    static int WSAAPI send(SOCKET, const char* bytes, int length, int)
    {
        const int answer = calls < answers.size() ? answers[calls] : SOCKET_ERROR;
        ++calls;
        const int taken = answer > length ? length : answer;
        if (taken > 0)
            accepted.insert(accepted.end(), bytes, bytes + taken);
        return taken;
    }
};

} // namespace

// A piece goes out whole, its rest sent again after a part; it fails after
// eight calls that sent nothing, counted over the whole piece, and a failed
// piece ends the buffer.
TEST(SocketClient, APieceIsSentAgainUntilEightCallsSentNothing)
{
    struct Case
    {
        const char* name;
        uint32_t length;
        std::vector<int> answers;
        bool sent;
        size_t calls;
    };
    constexpr int refused = SOCKET_ERROR;
    const Case cases[] = {
        {"whole at once", 100, {100}, true, 1},
        {"seven refusals, then whole", 100, {refused, refused, refused, refused, refused, refused, refused, 100}, true, 8},
        {"eight refusals", 100, {refused, refused, refused, refused, refused, refused, refused, refused}, false, 8},
        {"nothing taken counts as refused", 100, {0, 0, 0, 0, 0, 0, 0, 0, 100}, false, 8},
        {"the rest after a part", 100, {40, refused, 60}, true, 3},
        {"refusals counted across parts", 100, {refused, refused, refused, refused, 50, refused, refused, refused, refused, 50},
         false, 9},
        {"a second piece refused ends the buffer", 3000, {1472, refused, refused, refused, refused, refused, refused, refused, refused},
         false, 9},
    };
    std::vector<char> content(3000);
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = char(i * 13 + 5);
    const auto winsock = Network::SocketClient::sendCall.exchange(SendScript::send);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendScript::answers = c.answers;
        SendScript::calls = 0;
        SendScript::accepted.clear();
        Network::SocketClient client; // a handle of its own, never connected
        EXPECT_EQ(client.sendBuffer(content.data(), c.length), c.sent);
        EXPECT_EQ(SendScript::calls, c.calls);
        // What was taken is the buffer's beginning, in order.
        ASSERT_LE(SendScript::accepted.size(), c.length);
        EXPECT_TRUE(std::equal(SendScript::accepted.begin(), SendScript::accepted.end(), content.begin()));
        if (c.sent)
            EXPECT_EQ(SendScript::accepted.size(), c.length);
    }
    Network::SocketClient::sendCall = winsock;
}
