#include "Application/FTPClient.h"

#include "Core/FileInterface.h"

namespace Network {

FTPClient::FTPClient(const String& host, uint16_t port) : host(host), port(port) {}

FTPClient::~FTPClient() = default;

bool FTPClient::matches(const String& reply, const char* code)
{
    if (reply.length() < 3)
        return false;
    for (int i = 0; i < 3; ++i)
        if (reply.buffer()[i] != wchar_t(code[i]))
            return false;
    return true;
}

bool FTPClient::command(const wchar_t* fmt, const String& argument)
{
    String line;
    line.format(fmt, argument.text());
    return sendLine(line);
}

bool FTPClient::login(const String& user, const String& password)
{
    if (loggedIn)
        return false;
    if (!connect(host, port))
        return false;
    receiveLine(); // the greeting
    command(L"USER %s\r\n", user);
    String reply = receiveLine();
    if (matches(reply, "331")) {
        command(L"PASS %s\r\n", password);
        reply = receiveLine();
    }
    if (matches(reply, "230")) {
        loggedIn = 1;
        return true;
    }
    closeConnection();
    return false;
}

bool FTPClient::setBinary()
{
    sendLine(String::borrowed(L"TYPE I\r\n"));
    return matches(receiveLine(), "200");
}

void FTPClient::enterPassive()
{
    sendLine(String::borrowed(L"PASV\r\n"));
    parsePassiveReply(receiveLine(), dataAddress, dataPort);
}

bool FTPClient::parsePassiveReply(const String& reply, uint8_t address[4], uint16_t& port)
{
    if (!matches(reply, "227"))
        return false;
    int32_t open = reply.find(String::borrowed(L"("));
    int32_t close = reply.find(String::borrowed(L")"));
    if (open < 0 || close < 0 || close < open)
        return false;
    uint8_t numbers[6] = {0, 0, 0, 0, 0, 0};
    int count = 0;
    const wchar_t* p = reply.buffer() + open + 1;
    const wchar_t* end = reply.buffer() + close;
    while (count < 6 && p < end) {
        unsigned value = 0;
        while (p < end && *p == L' ')
            ++p;
        while (p < end && *p >= L'0' && *p <= L'9') {
            value = value * 10 + unsigned(*p - L'0');
            if (value > 0xFFFF)
                value = 0xFFFF;
            ++p;
        }
        numbers[count++] = uint8_t(value);
        while (p < end && *p != L',')
            ++p;
        if (p < end)
            ++p;
    }
    for (int i = 0; i < 4; ++i)
        address[i] = numbers[i];
    port = uint16_t(numbers[4] * 256 + numbers[5]);
    return true;
}

bool FTPClient::store(FileInterface& file, const String& remoteName)
{
    if (!file.isOpen)
        return false;
    command(L"STOR %s\r\n", remoteName);
    if (!dataConnection.connectAddress(dataAddress[0], dataAddress[1], dataAddress[2], dataAddress[3], dataPort))
        return false;
    // 150 opens the transfer; 125 says the same when the server saw the data
    // connection before the command.
    String reply = receiveLine();
    if (!matches(reply, "150") && !matches(reply, "125")) {
        dataConnection.closeConnection();
        return false;
    }
    dataConnection.setProgressSpan(1.0f);
    bool sent = dataConnection.sendFile(file);
    dataConnection.closeConnection();
    return sent;
}

void FTPClient::quit()
{
    sendLine(String::borrowed(L"QUIT\r\n"));
    closeConnection();
    loggedIn = 0;
}

}
