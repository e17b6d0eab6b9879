#pragma once
// The crash protection of every guarded thread. When a fault escapes the main
// run or a thread body, the guard's filter writes a protocol from the crash
// trace and the exception; the handler tells the player, offers to send the
// protocol to the crash-report server over FTP, keeps a copy under the
// application-data folder when there is no server or the upload fails, and
// ends with the after-report hook (the application's shutdown).
#include "Application/FTPClient.h"

#include "Core/SCList.h"

class CrashProtection : public Network::FTPClient {
public:
    // The crash-report server comes from the build's configuration; an empty
    // host means none, and protocols are only saved locally.
    struct Server {
        String host;
        uint16_t port = 21;
        String user;
        String password;
    };

    using Hook = void (*)();
    using OfferHook = int (*)();
    // The message-box seam: the report's boxes go through it, so that tests can
    // answer them. Same contract as MessageBoxW.
    using MessageBoxFunction = int (*)(HWND, const wchar_t* text, const wchar_t* caption, UINT type);

    CrashProtection();
    ~CrashProtection() override;

    // Sets the program name and version, the server of the build and the
    // hooks (before: nothing; after: afterReport; offer: always 1), and makes
    // this crash protection the guard's handler.
    static void configure(const String& programName, const String& version, Hook afterReport);
    static void setServer(const Server& server);
    // A null before or after hook does nothing; a null offer means always 1.
    static void setHooks(Hook before, Hook after, OfferHook offer);
    static void setMessageBox(MessageBoxFunction function);
    // The folder where protocols are kept when they are not uploaded (ends in '\').
    static void setLocalFolder(const String& folder);

    // The after-report step: on the main thread runs shutdownHere at once; on
    // any other thread asks the main thread to quit instead, so that shutdown
    // (which waits for the worker threads) never runs on the crashed thread.
    static void endApplication(DWORD mainThreadId, Hook shutdownHere);

    // A new record at the tail of the record list; returns its node.
    static SCList<CrashProtection>::Node* create();
    static void removeAndDelete(SCList<CrashProtection>::Node* node);
    static int32_t recordCount();

    // The guard's filter: builds position and protocol texts. Returns 1.
    static int writeProtocol(CrashProtection* record, DWORD code, EXCEPTION_POINTERS* pointers);
    // The guard's handler.
    static void report(CrashProtection* record);

    static String formatMethod();
    static String formatPosition();
    static String formatTime();
    static String exceptionLine(DWORD code);
    // The remote name "<version> in <position> [<16 letters and digits>].txt".
    static String remoteFileName(const String& position);
    // The protocol as stored: the byte-order mark, then UTF-16LE without NUL.
    void writeProtocolFile(FileInterface& target) const;

    const String& getProtocol() const { return protocol; }

private:
    bool upload(FileInterface& file, const String& remoteName);
    bool saveLocally(FileInterface& file, const String& remoteName);

    String protocol;
    String position;
};
