#include "Application/FTPClient.h"
#include "AppTestFiles.h"
#include "FtpFixture.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

using Network::FTPClient;

namespace {

struct ShortTimeout {
    uint32_t saved = Network::Socket::timeoutMilliseconds.load();
    explicit ShortTimeout(uint32_t ms) { Network::Socket::timeoutMilliseconds = ms; }
    ~ShortTimeout() { Network::Socket::timeoutMilliseconds = saved; }
};

}

TEST(FTPClient, PassiveReplies)
{
    uint8_t address[4] = {9, 9, 9, 9};
    uint16_t port = 7;
    EXPECT_TRUE(FTPClient::parsePassiveReply(String(L"227 Entering Passive Mode (127,0,0,1,19,137).\r\n"), address, port));
    EXPECT_EQ(port, 5001);
    EXPECT_EQ(address[0], 127);
    EXPECT_EQ(address[3], 1);

    // No parentheses, or another code: the endpoint stays.
    EXPECT_FALSE(FTPClient::parsePassiveReply(String(L"227 Entering Passive Mode 10,0,0,2,1,1\r\n"), address, port));
    EXPECT_FALSE(FTPClient::parsePassiveReply(String(L"500 no (10,0,0,2,1,1)\r\n"), address, port));
    EXPECT_FALSE(FTPClient::parsePassiveReply(String(L"22"), address, port));
    EXPECT_EQ(port, 5001);
    EXPECT_EQ(address[0], 127);

    EXPECT_TRUE(FTPClient::matches(String(L"230 ok"), "230"));
    EXPECT_FALSE(FTPClient::matches(String(L"23"), "230"));
}

TEST(FTPClient, StoresAFileByteForByteOnARealServer)
{
    FtpFixture server = FtpFixture::load();
    if (!server.available)
        GTEST_SKIP() << "no loopback FTP server";

    FileArray file(512);
    // More than one 1472-byte chunk, and every byte value.
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += char(i * 7 + i / 256);
    file.write(content.data(), uint32_t(content.size()));
    file.seek(0, 0);

    FTPClient client(String(L"127.0.0.1"), uint16_t(server.ftpPort));
    ASSERT_TRUE(client.login(String(server.user.c_str()), String(server.password.c_str())));
    EXPECT_FALSE(client.login(String(server.user.c_str()), String(server.password.c_str())))
        << "a second login is refused without a word to the server";
    EXPECT_TRUE(client.setBinary());
    client.enterPassive();
    EXPECT_NE(client.getDataPort(), 0);
    EXPECT_TRUE(client.store(file, String(L"stored by test.bin")));
    client.quit();
    EXPECT_FALSE(client.isLoggedIn());

    // The server writes the file when the data connection closes.
    std::string stored;
    for (int i = 0; i < 50 && stored.size() < content.size(); ++i) {
        Sleep(50);
        std::vector<uint8_t> bytes = AppTestFiles::read(server.folder + L"stored by test.bin");
        stored.assign(bytes.begin(), bytes.end());
    }
    EXPECT_EQ(stored, content);
}

TEST(FTPClient, FailsWithinItsBoundWhenTheServerIsDownRefusesOrIsSilent)
{
    FtpFixture server = FtpFixture::load();
    if (!server.available)
        GTEST_SKIP() << "no loopback FTP server";
    ShortTimeout bound(700);

    // Refused login closes the control connection.
    FTPClient refused(String(L"127.0.0.1"), uint16_t(server.ftpPort));
    EXPECT_FALSE(refused.login(String(server.user.c_str()), String(L"wrong password")));
    EXPECT_FALSE(refused.isConnected());

    // A listener that never answers: the greeting and the USER reply time out.
    DWORD start = GetTickCount();
    FTPClient silent(String(L"127.0.0.1"), uint16_t(server.silentPort));
    EXPECT_FALSE(silent.login(String(L"a"), String(L"b")));
    EXPECT_LT(GetTickCount() - start, 5000u);

    // Nobody listens: connect fails at once or within the bound.
    start = GetTickCount();
    FTPClient down(String(L"127.0.0.1"), 1);
    EXPECT_FALSE(down.login(String(L"a"), String(L"b")));
    EXPECT_LT(GetTickCount() - start, 5000u);

    // Steps after a failed login report failure instead of hanging.
    EXPECT_FALSE(down.setBinary());
    FileArray file(512);
    file.write("x", 1);
    EXPECT_FALSE(down.store(file, String(L"never.txt")));
    down.quit();
}
