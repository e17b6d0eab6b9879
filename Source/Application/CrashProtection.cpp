#include "Application/CrashProtection.h"

#include "Application/OSVersion.h"

#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/Language.h"

#include <cstdarg>
#include <mutex>
#include <new>

namespace {

void doNothing() {}
int offerAlways() { return 1; }

struct Settings {
    String programName;
    String version;
    CrashProtection::Server server;
    CrashProtection::Hook beforeReport = nullptr;
    CrashProtection::Hook afterReport = nullptr;
    CrashProtection::OfferHook offerUpload = offerAlways;
    CrashProtection::MessageBoxFunction messageBox = MessageBoxW;
    String localFolder;
};

Settings& settings()
{
    static Settings s;
    return s;
}

// Records are added and removed when threads start and end; the list is the
// one piece of crash state that needs a lock.
std::mutex listLock;
SCList<CrashProtection>& records()
{
    static SCList<CrashProtection> list;
    return list;
}

// Class and method of the running operation: the method line keeps its form,
// though nothing fills these names.
wchar_t className[64];
wchar_t methodName[128];
uint32_t methodFormat = 1;

// A language text used as a format must not carry more conversions than the
// texts we pass, nor any but %s: a language pack with other specifiers would
// otherwise read arguments that are not there. Such a text is replaced by the
// built-in English one.
bool formatIsSafe(const wchar_t* fmt, int textArguments)
{
    if (!fmt)
        return false;
    int used = 0;
    for (const wchar_t* p = fmt; *p; ++p) {
        if (*p != L'%')
            continue;
        ++p;
        if (*p == L'%')
            continue;
        if (*p != L's' || ++used > textArguments)
            return false;
    }
    return true;
}

String formatText(const wchar_t* key, const wchar_t* english, int textArguments, ...)
{
    String fmt;
    if (gLanguage)
        fmt = gLanguage->getText(nullptr, String::borrowed(key));
    const wchar_t* chosen = fmt.length() > 0 && formatIsSafe(fmt.text(), textArguments) ? fmt.text() : english;
    wchar_t buffer[8192];
    va_list args;
    va_start(args, textArguments);
    int n = _vsnwprintf(buffer, 8191, chosen, args);
    va_end(args);
    buffer[n < 0 ? 8191 : n] = 0;
    return String(buffer);
}

class Guard : public CrashGuard::Interface {
public:
    void* enterGuard() override { return CrashProtection::create(); }
    void writeProtocol(void* node, EXCEPTION_POINTERS* pointers) override
    {
        if (auto* n = static_cast<SCList<CrashProtection>::Node*>(node))
            CrashProtection::writeProtocol(n->item, pointers->ExceptionRecord->ExceptionCode, pointers);
    }
    void report(void* node) override
    {
        if (auto* n = static_cast<SCList<CrashProtection>::Node*>(node))
            CrashProtection::report(n->item);
    }
    void leaveGuard(void* node) override
    {
        CrashProtection::removeAndDelete(static_cast<SCList<CrashProtection>::Node*>(node));
    }
};

Guard guard;

}

CrashProtection::CrashProtection() : Network::FTPClient(settings().server.host, settings().server.port) {}

CrashProtection::~CrashProtection() = default;

void CrashProtection::configure(const String& programName, const String& version, Hook afterReport)
{
    Settings& s = settings();
    s.programName = programName;
    s.version = version;
    s.server.host = String(KORVANTA_CRASH_HOST);
    s.server.port = KORVANTA_CRASH_PORT;
    s.server.user = String(KORVANTA_CRASH_USER);
    s.server.password = String(KORVANTA_CRASH_PASSWORD);
    setHooks(doNothing, afterReport, offerAlways);
    CrashGuard::setInterface(&guard);
}

void CrashProtection::setServer(const Server& server)
{
    settings().server = server;
}

void CrashProtection::setHooks(Hook before, Hook after, OfferHook offer)
{
    settings().beforeReport = before;
    settings().afterReport = after;
    settings().offerUpload = offer ? offer : offerAlways;
}

void CrashProtection::setMessageBox(MessageBoxFunction function)
{
    settings().messageBox = function ? function : MessageBoxW;
}

void CrashProtection::setLocalFolder(const String& folder)
{
    settings().localFolder = folder;
}

void CrashProtection::endApplication(DWORD mainThreadId, Hook shutdownHere)
{
    if (GetCurrentThreadId() == mainThreadId) {
        if (shutdownHere)
            shutdownHere();
    } else {
        PostThreadMessageW(mainThreadId, WM_QUIT, 0, 0);
    }
}

SCList<CrashProtection>::Node* CrashProtection::create()
{
    auto* record = new (std::nothrow) CrashProtection();
    if (!record)
        return nullptr;
    std::lock_guard<std::mutex> lock(listLock);
    auto* node = records().append(record);
    if (!node)
        delete record;
    return node;
}

void CrashProtection::removeAndDelete(SCList<CrashProtection>::Node* node)
{
    if (!node)
        return;
    CrashProtection* record;
    {
        std::lock_guard<std::mutex> lock(listLock);
        if (node->owner != &records())
            return;
        record = records().unlink(node);
    }
    delete record;
}

int32_t CrashProtection::recordCount()
{
    std::lock_guard<std::mutex> lock(listLock);
    return records().count();
}

String CrashProtection::formatTime()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    String text;
    text.format(L"Time: %02i.%02i.%02i at %02i:%02i:%02i\r\n", t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute,
                t.wSecond);
    return text;
}

String CrashProtection::formatPosition()
{
    const wchar_t* source = CrashTrace::source();
    if (!source)
        return String(L"Unknown");
    String fileName = String::borrowed(source).getFileName();
    String text;
    text.format(L"%s(%u)", fileName.text(), CrashTrace::line());
    return text;
}

String CrashProtection::formatMethod()
{
    String text;
    text.format(methodFormat ? L"%s::%s() {}->?" : L"%s::%s() {->?", className, methodName);
    return text;
}

String CrashProtection::exceptionLine(DWORD code)
{
    struct Line {
        DWORD code;
        const wchar_t* text;
    };
    static const Line lines[] = {
        {0xC0000005, L"Error:            Access Violation\r\n"},
        {0x80000001, L"Error:            Guard Page\r\n"},
        {0x80000002, L"Error:            Datatype Misalignment\r\n"},
        {0x80000003, L"Error:            Breakpoint\r\n"},
        {0x80000004, L"Error:            Single Step\r\n"},
        {0xC0000006, L"Error:            In Page Error\r\n"},
        {0xC0000008, L"Error:            Invalid Handle\r\n"},
        {0xC000001D, L"Error:            Illegal Instruction\r\n"},
        {0xC0000025, L"Error:            Noncontinuable Exception\r\n"},
        {0xC0000026, L"Error:            Invalid Disposition\r\n"},
        {0xC000008C, L"Error:            Array Bounds Exceeded\r\n"},
        {0xC000008D, L"Error(float):     Denormal Operand\r\n"},
        {0xC000008E, L"Error(float):     Divide By Zero\r\n"},
        {0xC000008F, L"Error(float):     Inexact Result\r\n"},
        {0xC0000090, L"Error(float):     Invalid Operation\r\n"},
        {0xC0000091, L"Error(float):     Overflow\r\n"},
        {0xC0000092, L"Error(float):     Stack Check\r\n"},
        {0xC0000093, L"Error(float):     Underflow\r\n"},
        {0xC0000094, L"Error(int):       Divide By Zero\r\n"},
        {0xC0000095, L"Error(int):       Overflow\r\n"},
        {0xC0000096, L"Error:            Privileged Instruction\r\n"},
        {0xC00000FD, L"Error:            Stack Overflow\r\n"},
        {0xC000034E, L"Error:            User Defined\r\n"},
    };
    for (const Line& line : lines)
        if (line.code == code)
            return String(line.text);
    return String(L"Error:            Unknown\r\n");
}

int CrashProtection::writeProtocol(CrashProtection* record, DWORD code, EXCEPTION_POINTERS* pointers)
{
    if (!record)
        return 1;
    record->position = formatPosition();
    String& p = record->protocol;
    p = formatTime();
    p = p + exceptionLine(code);
    p = p + L"Method:           " + formatMethod() + L"\r\n";
    p = p + L"Position:         " + record->position + L"\r\n";
    static const wchar_t* const valueLines[4] = {L"Last ValueA:      %lld\r\n", L"Last ValueB:      %lld\r\n",
                                                L"Last ValueC:      %lld\r\n", L"Last ValueD:      %lld\r\n"};
    String line;
    for (int i = 0; i < 4; ++i) {
        line.format(valueLines[i], static_cast<long long>(CrashTrace::lastValue(i)));
        p = p + line;
    }
    wchar_t lastString[CrashTrace::lastStringCapacity];
    CrashTrace::copyLastString(lastString, CrashTrace::lastStringCapacity);
    line.format(L"Last String:      %s\r\n", lastString);
    p = p + line;
    // The faulting instruction's address, in the width of a pointer.
    void* address = pointers && pointers->ExceptionRecord ? pointers->ExceptionRecord->ExceptionAddress : nullptr;
    line.format(L"Address:          0x%016llX\r\n", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(address)));
    p = p + line;
    OSVersion version = gOSVersion ? *gOSVersion : OSVersion::read();
    p = p + L"Operating System: " + version.getName() + L"\r\n";
    p = p + L"Vista Product:    " + version.getEdition() + L"\r\n";
    p = p + L"Service Pack:     " + String(version.info.szCSDVersion) + L"\r\n";
    return 1;
}

String CrashProtection::remoteFileName(const String& position)
{
    String tag;
    tag.makeRandom(16);
    String name;
    name.format(L"%s in %s [%s].txt", settings().version.text(), position.text(), tag.text());
    return name;
}

void CrashProtection::writeProtocolFile(FileInterface& target) const
{
    const uint8_t bom[2] = {0xFF, 0xFE};
    target.write(bom, 2);
    // wchar_t is UTF-16LE on Windows: the characters go out as they are.
    if (protocol.length() > 0)
        target.write(protocol.buffer(), uint32_t(protocol.length()) * 2);
}

bool CrashProtection::upload(FileInterface& file, const String& remoteName)
{
    const Server& server = settings().server;
    bool ok = login(server.user, server.password);
    ok = setBinary() && ok;
    enterPassive();
    file.seek(0, 0);
    ok = store(file, remoteName) && ok;
    quit();
    return ok;
}

bool CrashProtection::saveLocally(FileInterface& file, const String& remoteName)
{
    const String& folder = settings().localFolder;
    if (folder.length() == 0)
        return false;
    CreateDirectoryW(folder.text(), nullptr);
    // A position holds no separators, so the name stays inside the folder.
    return FileInterface::saveToFile(file, folder + remoteName);
}

void CrashProtection::report(CrashProtection* record)
{
    Settings& s = settings();
    if (s.beforeReport)
        s.beforeReport();
    ShowCursor(TRUE);

    const wchar_t* name = s.programName.text();
    String caption = formatText(L"SoftwareCrashTitle", L"%s trouble-shooting", 1, name);
    String text = formatText(L"SoftwareCrash",
                             L"%s has encountered a problem and needs to close. %s will now be closed.\n\n"
                             L"We are sorry for the inconvenience.",
                             2, name, name);
    s.messageBox(nullptr, text.text(), caption.text(), MB_ICONERROR);

    if (record) {
        FileArray file(512);
        record->writeProtocolFile(file);
        String remoteName = remoteFileName(record->position);
        bool uploaded = false;
        // Without a configured server there is nothing to offer: the protocol is kept.
        if (s.server.host.length() > 0 && s.offerUpload()) {
            String askCaption = formatText(L"SoftwareCrashProtocolTitle", L"Send problem report?", 0);
            String ask = formatText(L"SoftwareCrashProtocol",
                                    L"Help us to fix this Problem!\n\nWould you like to send the created "
                                    L"problem report to the %s team?",
                                    1, name);
            if (s.messageBox(nullptr, ask.text(), askCaption.text(), MB_YESNO | MB_ICONQUESTION) == IDYES)
                uploaded = record->upload(file, remoteName);
        }
        if (!uploaded)
            record->saveLocally(file, remoteName);
        file.close();
    }

    if (s.afterReport)
        s.afterReport();
}
