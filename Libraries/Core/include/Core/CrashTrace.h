#pragma once
// The crash trace: where the program is, kept in process-wide words that a
// crash protocol reads. Every instrumented operation marks its source file and
// line on entry and before each step that may fail; it may also leave four
// values and a text. The marks are relaxed atomic stores: cheap enough for the
// frame loop, and a protocol shows the latest mark of any thread.
#include <atomic>
#include <cstdint>

class CrashTrace {
public:
    static constexpr int lastStringCapacity = 512;

    static void mark(const wchar_t* source, uint32_t line) {
        currentSource.store(source, std::memory_order_relaxed);
        currentLine.store(line, std::memory_order_relaxed);
    }
    static void setLastValues(intptr_t a, intptr_t b = 0, intptr_t c = 0, intptr_t d = 0);
    static void setLastValue(int index, intptr_t value);
    // Keeps at most lastStringCapacity - 1 characters; null clears the text.
    static void setLastString(const wchar_t* text);

    static const wchar_t* source() { return currentSource.load(std::memory_order_relaxed); }
    static uint32_t line() { return currentLine.load(std::memory_order_relaxed); }
    static intptr_t lastValue(int index);
    // Copies the last string into buffer (capacity characters, always terminated).
    static void copyLastString(wchar_t* buffer, int capacity);
    // Forgets every mark (tests, and a fresh start).
    static void clear();

    // Every mark at one moment: taken where no formatting may run (a crash
    // filter) and put back before the protocol is written.
    struct Snapshot {
        const wchar_t* source;
        uint32_t line;
        intptr_t values[4];
        wchar_t text[lastStringCapacity];
    };
    static void save(Snapshot& snapshot);
    static void restore(const Snapshot& snapshot);

private:
    static std::atomic<const wchar_t*> currentSource;
    static std::atomic<uint32_t> currentLine;
};

#define KORVANTA_WIDEN2(text) L##text
#define KORVANTA_WIDEN(text) KORVANTA_WIDEN2(text)
// The source path is ".\Source\" followed by the file's name.
#define CRASH_TRACE() CrashTrace::mark(L".\\Source\\" KORVANTA_WIDEN(__FILE_NAME__), __LINE__)
