#include "Application/CrashProtection.h"
#include "AppTestFiles.h"
#include "FtpFixture.h"
#include "ProgramRun.h"

#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"
#include "Core/Language.h"

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

std::vector<std::wstring> filesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"*.txt").c_str(), &data);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data))
        names.push_back(data.cFileName);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return names;
}

// The names and texts (a byte-order mark, then UTF-16LE) of the protocols in
// folder, waiting for a server to store them (a minute at most: only a
// server that stores nothing takes that long); the files are removed.
std::vector<std::pair<std::wstring, std::wstring>> takeProtocols(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    for (const DWORD start = GetTickCount(); files.empty() && GetTickCount() - start < 60000; Sleep(20))
        files = filesIn(folder);
    std::vector<std::pair<std::wstring, std::wstring>> protocols;
    for (const std::wstring& file : files) {
        const std::vector<uint8_t> bytes = AppTestFiles::read(folder + file);
        DeleteFileW((folder + file).c_str());
        std::wstring text = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE ? L"" : L"<no byte-order mark>";
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += wchar_t(bytes[i] | (bytes[i + 1] << 8));
        protocols.emplace_back(file, text);
    }
    return protocols;
}

// The one protocol in folder.
std::pair<std::wstring, std::wstring> takeProtocol(const std::wstring& folder)
{
    auto protocols = takeProtocols(folder);
    if (protocols.size() != 1)
        return {std::to_wstring(protocols.size()) + L" files", L""};
    return protocols[0];
}

std::wstring line(const std::wstring& protocol, const std::wstring& start)
{
    size_t at = protocol.find(L"\r\n" + start);
    if (at == std::wstring::npos)
        return L"<missing " + start + L">";
    at += 2;
    return protocol.substr(at, protocol.find(L"\r\n", at) - at);
}

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

struct CrashFixture : ::testing::Test {
    const std::wstring folder = AppTestFiles::freshFolder(L"crash");

    void SetUp() override
    {
        CrashProtection::configure(L"Korvanta", L"1.0", countShutdown);
        CrashProtection::setServer({});
        CrashProtection::setMessageBox(recordBox);
        CrashProtection::setLocalFolder(folder.c_str());
        for (const std::wstring& name : filesIn(folder))
            DeleteFileW((folder + name).c_str());
        boxes.clear();
        shutdowns = 0;
        CrashTrace::clear();
    }
    void TearDown() override { CrashGuard::setInterface(nullptr); }
};

} // namespace

TEST_F(CrashFixture, AccessViolationOnTheMainRunWritesEveryLine)
{
    EXPECT_FALSE(CrashGuard::run(writeToNull, nullptr));
    EXPECT_EQ(shutdowns, 1);
    // No server: the player is told, not asked to send.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, 26), L"Korvanta trouble-shooting|");
    const auto [name, protocol] = takeProtocol(folder);
    EXPECT_EQ(name.substr(0, 31), L"1.0 in CrashProtectionTest.cpp(");
    EXPECT_EQ(protocol.substr(0, 6), L"Time: ");
    EXPECT_EQ(line(protocol, L"Error:"), L"Error:            Access Violation");
    EXPECT_EQ(line(protocol, L"Method:"), L"Method:           ::() {}->?");
    EXPECT_EQ(line(protocol, L"Position:").substr(0, 42), L"Position:         CrashProtectionTest.cpp(");
    EXPECT_EQ(line(protocol, L"Last ValueA:"), L"Last ValueA:      -7");
    EXPECT_EQ(line(protocol, L"Last ValueB:"), L"Last ValueB:      1234567890123");
    EXPECT_EQ(line(protocol, L"Last ValueD:"), L"Last ValueD:      3");
    EXPECT_EQ(line(protocol, L"Last String:"), L"Last String:      terrain.dds");
    // The faulting instruction, not the exception record, in full pointer width.
    const std::wstring address = line(protocol, L"Address:");
    ASSERT_EQ(address.size(), 20u + 16u);
    const unsigned long long at = wcstoull(address.c_str() + 20, nullptr, 16);
    const auto body = reinterpret_cast<unsigned long long>(&writeToNull);
    EXPECT_TRUE(at >= body && at < body + 256);
    for (const wchar_t* start : {L"Operating System: ", L"Vista Product:    ", L"Service Pack:     "})
        EXPECT_EQ(line(protocol, start).substr(0, 18), start);
    EXPECT_EQ(CrashProtection::recordCount(), 0);
}

// Declined, or accepted with nobody listening: the protocol is kept locally;
// accepted with the loopback server listening: it is uploaded instead.
TEST_F(CrashFixture, RaiseExceptionOnAThreadIsKeptOrUploaded)
{
    const FtpFixture server = FtpFixture::load();
    for (int reply : {IDNO, IDYES, IDOK}) {
        const bool upload = reply == IDOK;
        if (upload && !server.available)
            GTEST_SKIP() << "no loopback FTP server";
        SCOPED_TRACE(reply);
        answer = upload ? IDYES : reply;
        CrashProtection::setServer({L"127.0.0.1", uint16_t(upload ? server.ftpPort : 1), server.user, server.password});
        bool returned = true;
        std::thread([&] { returned = CrashGuard::run(raiseUserDefined, nullptr); }).join();
        EXPECT_FALSE(returned);
        EXPECT_EQ(boxes.back().substr(0, 21), L"Send problem report?|");
        EXPECT_EQ(line(takeProtocol(upload ? server.folder : folder).second, L"Error:"),
                  L"Error:            User Defined");
    }
    EXPECT_TRUE(filesIn(folder).empty()) << "an uploaded protocol is not kept twice";
    EXPECT_EQ(shutdowns, 3);
}

// The probe faults on a worker thread (access violation), in its main run
// (divide by zero) or overflows its stack there twice; it keeps a protocol per
// fault and must end by itself with code 0.
TEST_F(CrashFixture, GuardedProgramKeepsItsProtocolAndEndsByItself)
{
    CrashGuard::setInterface(nullptr);
    struct Mode {
        const wchar_t* name;
        const wchar_t* error;
        size_t protocols;
    } modes[] = {{L"thread", L"Error:            Access Violation", 1},
                 {L"main", L"Error(int):       Divide By Zero", 1},
                 {L"overflow", L"Error:            Stack Overflow", 2}};
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        ProgramRun run(L"" CRASH_PROBE_PATH, L"\"" + folder.substr(0, folder.size() - 1) + L"\" " + mode.name);
        EXPECT_EQ(run.waitForEnd(), 0);
        Sleep(100);
        const auto protocols = takeProtocols(folder);
        EXPECT_EQ(protocols.size(), mode.protocols);
        for (const auto& [name, protocol] : protocols) {
            EXPECT_NE(name.find(L" in CrashProbe.cpp("), std::wstring::npos);
            EXPECT_EQ(line(protocol, L"Error"), mode.error);
        }
    }
}

// A language text used as a format must carry no more conversions than the
// report passes, and only %s: otherwise the built-in English text stands in.
TEST_F(CrashFixture, LanguageTextsWithOtherConversionsAreNotUsedAsFormats)
{
    Language language;
    const Language::Pack english[1] = {{141, 109, L"English"}};
    language.addBuiltInPacks(english, 1);
    Language* previous = gLanguage;
    gLanguage = &language;
    const struct {
        const wchar_t* title;
        const wchar_t* caption;
    } cases[] = {{L"%s trouble", L"Korvanta trouble"},
                 {L"100%% %s", L"100% Korvanta"},
                 {L"%s %s", L"Korvanta trouble-shooting"},
                 {L"%d crash", L"Korvanta trouble-shooting"},
                 {L"%n %s", L"Korvanta trouble-shooting"},
                 {L"crash %", L"Korvanta trouble-shooting"},
                 {L"", L"Korvanta trouble-shooting"}};
    for (const auto& c : cases) {
        auto& pairs = language.languageAt(language.currentIndex())->pairs;
        pairs.deleteAll();
        pairs.append(new Language::Pair{String(L"SoftwareCrashTitle"), String(c.title)});
        boxes.clear();
        EXPECT_FALSE(CrashGuard::run(writeToNull, nullptr));
        ASSERT_EQ(boxes.size(), 1u) << c.title;
        EXPECT_EQ(boxes[0].substr(0, boxes[0].find(L'|')), c.caption) << c.title;
        takeProtocol(folder);
    }
    gLanguage = previous;
}
