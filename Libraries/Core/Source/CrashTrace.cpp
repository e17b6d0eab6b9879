#include "Core/CrashTrace.h"

#include <cwchar>

std::atomic<const wchar_t*> CrashTrace::currentSource{nullptr};
std::atomic<uint32_t> CrashTrace::currentLine{0};

namespace {
std::atomic<intptr_t> lastValues[4];
// Written by one thread at a time in practice; a torn text in a protocol is
// harmless, a read past the end is not, so the last slot always stays NUL.
wchar_t lastText[CrashTrace::lastStringCapacity];
}

void CrashTrace::setLastValues(intptr_t a, intptr_t b, intptr_t c, intptr_t d)
{
    lastValues[0].store(a, std::memory_order_relaxed);
    lastValues[1].store(b, std::memory_order_relaxed);
    lastValues[2].store(c, std::memory_order_relaxed);
    lastValues[3].store(d, std::memory_order_relaxed);
}

void CrashTrace::setLastValue(int index, intptr_t value)
{
    if (index >= 0 && index < 4)
        lastValues[index].store(value, std::memory_order_relaxed);
}

intptr_t CrashTrace::lastValue(int index)
{
    return index >= 0 && index < 4 ? lastValues[index].load(std::memory_order_relaxed) : 0;
}

void CrashTrace::setLastString(const wchar_t* text)
{
    int n = 0;
    if (text)
        for (; n < lastStringCapacity - 1 && text[n]; ++n)
            lastText[n] = text[n];
    lastText[n] = 0;
}

void CrashTrace::copyLastString(wchar_t* buffer, int capacity)
{
    if (!buffer || capacity <= 0)
        return;
    int n = 0;
    for (; n < capacity - 1 && n < lastStringCapacity - 1 && lastText[n]; ++n)
        buffer[n] = lastText[n];
    buffer[n] = 0;
}

void CrashTrace::clear()
{
    mark(nullptr, 0);
    setLastValues(0);
    lastText[0] = 0;
}

void CrashTrace::save(Snapshot& snapshot)
{
    snapshot.source = source();
    snapshot.line = line();
    for (int i = 0; i < 4; ++i)
        snapshot.values[i] = lastValue(i);
    copyLastString(snapshot.text, lastStringCapacity);
}

void CrashTrace::restore(const Snapshot& snapshot)
{
    mark(snapshot.source, snapshot.line);
    setLastValues(snapshot.values[0], snapshot.values[1], snapshot.values[2], snapshot.values[3]);
    setLastString(snapshot.text);
}
