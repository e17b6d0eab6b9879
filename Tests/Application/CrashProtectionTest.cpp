#include "Application/CrashProtection.h"
#include "AppTestFiles.h"
#include "FtpFixture.h"
#include "ProgramRun.h"

#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"
#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::wstring> boxes;
int answer = IDNO;
int shutdowns = 0;

int recordBox(HWND, const wchar_t* text, const wchar_t* caption, UINT type)
{
    boxes.push_back(std::wstring(caption) + L"|" + text);
    return (type & MB_YESNO) ? answer : IDOK;
}

void countShutdown() { ++shutdowns; }

std::wstring tempFolder()
{
    wchar_t path[MAX_PATH];
    GetTempPathW(MAX_PATH, path);
    std::wstring folder = std::wstring(path) + L"korvanta-crash-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::vector<std::wstring> filesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

void emptyFolder(const std::wstring& folder)
{
    for (const std::wstring& name : filesIn(folder))
        DeleteFileW((folder + name).c_str());
}

struct CrashFixture : ::testing::Test {
    std::wstring folder = tempFolder();

    void SetUp() override
    {
        CrashProtection::configure(String(L"Korvanta"), String(L"1.0"), countShutdown);
        CrashProtection::setServer({});
        CrashProtection::setMessageBox(recordBox);
        CrashProtection::setLocalFolder(String(folder.c_str()));
        emptyFolder(folder);
        boxes.clear();
        shutdowns = 0;
        answer = IDNO;
        CrashTrace::clear();
    }
    void TearDown() override
    {
        CrashGuard::setInterface(nullptr);
        emptyFolder(folder);
    }
};

std::atomic<void*> faultAddress{nullptr};

__attribute__((noinline)) void writeToNull(void*)
{
    CrashTrace::setLastValues(-7, 1234567890123LL, 0, 3);
    CrashTrace::setLastString(L"terrain.dds");
    CRASH_TRACE();
    volatile int* volatile nowhere = nullptr;
    *nowhere = 5;
}

void raiseUserDefined(void*)
{
    CRASH_TRACE();
    RaiseException(0xC000034E, 0, 0, nullptr);
}

std::string readBytes(const std::wstring& path)
{
    std::vector<uint8_t> bytes = AppTestFiles::read(path);
    return std::string(bytes.begin(), bytes.end());
}

std::wstring protocolOf(const std::string& bytes)
{
    // A byte-order mark, then UTF-16LE.
    if (bytes.size() < 2 || uint8_t(bytes[0]) != 0xFF || uint8_t(bytes[1]) != 0xFE)
        return L"<no byte-order mark>";
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += wchar_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    return text;
}

std::wstring lineStartingWith(const std::wstring& protocol, const std::wstring& start)
{
    size_t at = protocol.find(L"\r\n" + start);
    if (at == std::wstring::npos)
        return L"<missing " + start + L">";
    at += 2;
    return protocol.substr(at, protocol.find(L"\r\n", at) - at);
}

}

TEST(CrashProtectionTexts, PositionMethodExceptionAndName)
{
    CrashTrace::clear();
    EXPECT_EQ(std::wstring(CrashProtection::formatPosition().text()), L"Unknown");
    CrashTrace::mark(L".\\Source\\Terrain.cpp", 812);
    EXPECT_EQ(std::wstring(CrashProtection::formatPosition().text()), L"Terrain.cpp(812)");
    EXPECT_EQ(std::wstring(CrashProtection::formatMethod().text()), L"::() {}->?");

    EXPECT_EQ(std::wstring(CrashProtection::exceptionLine(0xC0000094).text()), L"Error(int):       Divide By Zero\r\n");
    EXPECT_EQ(std::wstring(CrashProtection::exceptionLine(0x12345678).text()), L"Error:            Unknown\r\n");

    CrashProtection::configure(String(L"Korvanta"), String(L"1.0"), nullptr);
    std::wstring name = CrashProtection::remoteFileName(String(L"Unknown")).text();
    ASSERT_EQ(name.size(), std::wstring(L"1.0 in Unknown [0123456789abcdef].txt").size());
    EXPECT_EQ(name.substr(0, 16), L"1.0 in Unknown [");
    EXPECT_EQ(name.substr(32), L"].txt");
    for (wchar_t c : name.substr(16, 16))
        EXPECT_TRUE(iswalnum(c)) << "tag holds only letters and digits";
    CrashGuard::setInterface(nullptr);
}

TEST_F(CrashFixture, AccessViolationWritesEveryLineAndKeepsTheProtocolWithoutServer)
{
    EXPECT_FALSE(CrashGuard::run(writeToNull, nullptr));
    EXPECT_EQ(shutdowns, 1);
    // No server: the player is told, not asked to send.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, 26), L"Korvanta trouble-shooting|");
    EXPECT_NE(boxes[0].find(L"Korvanta has encountered a problem"), std::wstring::npos);

    std::vector<std::wstring> files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(0, 7), L"1.0 in ");
    EXPECT_NE(files[0].find(L"CrashProtectionTest.cpp("), std::wstring::npos);
    std::wstring protocol = protocolOf(readBytes(folder + files[0]));

    EXPECT_EQ(protocol.substr(0, 6), L"Time: ");
    EXPECT_EQ(lineStartingWith(protocol, L"Error:"), L"Error:            Access Violation");
    EXPECT_EQ(lineStartingWith(protocol, L"Method:"), L"Method:           ::() {}->?");
    EXPECT_EQ(lineStartingWith(protocol, L"Position:").substr(0, 42), L"Position:         CrashProtectionTest.cpp(");
    EXPECT_EQ(lineStartingWith(protocol, L"Last ValueA:"), L"Last ValueA:      -7");
    EXPECT_EQ(lineStartingWith(protocol, L"Last ValueB:"), L"Last ValueB:      1234567890123");
    EXPECT_EQ(lineStartingWith(protocol, L"Last ValueD:"), L"Last ValueD:      3");
    EXPECT_EQ(lineStartingWith(protocol, L"Last String:"), L"Last String:      terrain.dds");
    // The faulting instruction lies inside writeToNull, in full pointer width.
    std::wstring address = lineStartingWith(protocol, L"Address:");
    ASSERT_EQ(address.size(), std::wstring(L"Address:          0x").size() + 16);
    unsigned long long at = wcstoull(address.c_str() + 20, nullptr, 16);
    unsigned long long body = reinterpret_cast<unsigned long long>(&writeToNull);
    EXPECT_GE(at, body);
    EXPECT_LT(at, body + 256);
    EXPECT_NE(lineStartingWith(protocol, L"Operating System:").find(L"Operating System: "), std::wstring::npos);
    EXPECT_NE(lineStartingWith(protocol, L"Vista Product:").find(L"Vista Product:    "), std::wstring::npos);
    EXPECT_NE(lineStartingWith(protocol, L"Service Pack:").find(L"Service Pack:     "), std::wstring::npos);
    EXPECT_EQ(CrashProtection::recordCount(), 0) << "the record is removed after the report";
}

TEST_F(CrashFixture, FaultOnAThreadIsReportedOnThatThread)
{
    bool returned = true;
    std::thread t([&] { returned = CrashGuard::run(raiseUserDefined, nullptr); });
    t.join();
    EXPECT_FALSE(returned);
    EXPECT_EQ(shutdowns, 1);
    std::vector<std::wstring> files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    std::wstring protocol = protocolOf(readBytes(folder + files[0]));
    EXPECT_EQ(lineStartingWith(protocol, L"Error:"), L"Error:            User Defined");
}

TEST_F(CrashFixture, UploadsTheProtocolByteForByteWhenThePlayerAgrees)
{
    FtpFixture server = FtpFixture::load();
    if (!server.available)
        GTEST_SKIP() << "no loopback FTP server";
    CrashProtection::setServer({String(L"127.0.0.1"), uint16_t(server.ftpPort), String(server.user.c_str()),
                                String(server.password.c_str())});
    answer = IDYES;
    EXPECT_FALSE(CrashGuard::run(writeToNull, nullptr));
    EXPECT_EQ(shutdowns, 1);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].substr(0, 21), L"Send problem report?|");
    EXPECT_TRUE(filesIn(folder).empty()) << "an uploaded protocol is not kept twice";

    std::vector<std::wstring> uploaded;
    for (int i = 0; i < 50 && uploaded.empty(); ++i) {
        Sleep(50);
        uploaded = filesIn(server.folder);
    }
    ASSERT_EQ(uploaded.size(), 1u);
    std::string bytes = readBytes(server.folder + uploaded[0]);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(uint8_t(bytes[0]), 0xFF);
    EXPECT_EQ(uint8_t(bytes[1]), 0xFE);
    EXPECT_EQ(lineStartingWith(protocolOf(bytes), L"Last String:"), L"Last String:      terrain.dds");
    DeleteFileW((server.folder + uploaded[0]).c_str());
}

TEST_F(CrashFixture, DeclinedOrFailedUploadKeepsTheProtocolLocally)
{
    CrashProtection::setServer({String(L"127.0.0.1"), 1, String(L"user"), String(L"password")});
    answer = IDNO;
    EXPECT_FALSE(CrashGuard::run(raiseUserDefined, nullptr));
    EXPECT_EQ(filesIn(folder).size(), 1u);
    EXPECT_EQ(shutdowns, 1);

    emptyFolder(folder);
    answer = IDYES; // nobody listens on port 1
    EXPECT_FALSE(CrashGuard::run(raiseUserDefined, nullptr));
    EXPECT_EQ(filesIn(folder).size(), 1u);
    EXPECT_EQ(shutdowns, 2);
}

namespace {

// Runs the crash probe; its exit code, or -1000 when it did not end by itself.
long runProbe(const std::wstring& folder, const wchar_t* mode)
{
    ProgramRun run(L"" CRASH_PROBE_PATH, L"\"" + folder.substr(0, folder.size() - 1) + L"\" " + mode);
    return run.waitForExit(30000);
}

}

TEST_F(CrashFixture, ProgramWhoseThreadFaultsKeepsItsProtocolAndEndsByItself)
{
    CrashGuard::setInterface(nullptr);
    EXPECT_EQ(runProbe(folder, L"thread"), 0);
    std::vector<std::wstring> files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find(L" in CrashProbe.cpp("), std::wstring::npos);
    std::wstring protocol = protocolOf(readBytes(folder + files[0]));
    EXPECT_EQ(lineStartingWith(protocol, L"Error:"), L"Error:            Access Violation");

    emptyFolder(folder);
    EXPECT_EQ(runProbe(folder, L"main"), 0);
    files = filesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(lineStartingWith(protocolOf(readBytes(folder + files[0])), L"Error"),
              L"Error(int):       Divide By Zero");
}
