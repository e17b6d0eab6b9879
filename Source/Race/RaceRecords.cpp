#include "Race/RaceRecords.h"

#include "Race/Game.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"

#include <windows.h>

#include <utility>

namespace {

enum FileTag : uint32_t { LapCount = 1, Laps = 2, RaceCount = 3, Races = 4 };
enum EntryTag : uint32_t { Name = 1, DateField = 2, Time = 3 };

constexpr Date firstDay()
{
    Date date;
    date.day = 1;
    date.month = 1;
    date.year = 2000;
    return date;
}

}

void RaceRecords::clear()
{
    for (int i = 0; i < slotCount; ++i) {
        laps[i].reset();
        races[i].reset();
    }
    lapCount = 0;
    raceCount = 0;
}

bool RaceRecords::readEntry(FileInterface& stream, Entry& entry)
{
    entry = Entry{};
    entry.date = firstDay();
    bool timeRead = false;
    uint32_t tag = 0;
    for (;;) {
        if (!stream.readValue(tag))
            return timeRead;
        switch (tag) {
        case 0:
            return true;
        case Name:
            // A refused name leaves the stream after its bytes: the entry
            // keeps an empty name and reads on.
            if (!stream.readString(entry.name) && stream.remaining() == 0)
                return timeRead;
            break;
        case DateField: {
            uint8_t dayMonth[2];
            uint16_t year = 0;
            if (stream.read(dayMonth, 2) != 2 || !stream.readValue(year))
                return timeRead;
            entry.date.set(dayMonth[0], dayMonth[1], year);
            break;
        }
        case Time: {
            uint8_t bytes[4];
            if (stream.read(bytes, 4) != 4)
                return timeRead;
            entry.time = RaceTime{bytes[0], bytes[1], bytes[2], bytes[3]};
            timeRead = true;
            break;
        }
        default:
            break;
        }
    }
}

void RaceRecords::writeEntry(FileInterface& stream, const Entry& entry)
{
    stream.writeTag(Name);
    stream.writeString(entry.name);
    stream.writeTag(DateField);
    stream.writeValue(entry.date.day);
    stream.writeValue(entry.date.month);
    stream.writeValue(entry.date.year);
    stream.writeTag(Time);
    const uint8_t time[4] = {entry.time.sign, entry.time.minutes, entry.time.seconds, entry.time.hundredths};
    stream.write(time, sizeof(time));
    stream.writeTag(0);
}

std::unique_ptr<RaceRecords::Entry> RaceRecords::makeEntry(const String& name, const RaceTime& time)
{
    auto entry = std::make_unique<Entry>();
    entry->name = name;
    SYSTEMTIME today{};
    GetLocalTime(&today);
    entry->date.set(uint8_t(today.wDay), uint8_t(today.wMonth), today.wYear);
    entry->time = time;
    return entry;
}

int32_t RaceRecords::compareEntries(const Entry& a, const Entry& b)
{
    return Game::raceTimeKey(b.time) < Game::raceTimeKey(a.time) ? 1 : -1;
}

// A stable insertion sort: an entry moves before another only when its time
// is smaller, so a new time stays after equal ones.
void RaceRecords::sort(List& list, uint32_t count)
{
    for (uint32_t i = 1; i < count; ++i) {
        std::unique_ptr<Entry> moving = std::move(list[i]);
        uint32_t j = i;
        for (; j > 0 && compareEntries(*list[j - 1], *moving) > 0; --j)
            list[j] = std::move(list[j - 1]);
        list[j] = std::move(moving);
    }
}

int32_t RaceRecords::insert(List& list, uint32_t& count, const String& name, const RaceTime& time)
{
    CRASH_TRACE();
    std::unique_ptr<Entry> entry = makeEntry(name, time);
    for (std::unique_ptr<Entry>& old : list)
        if (old)
            old->isNew = 0;
    entry->isNew = 1;
    const Entry* added = entry.get();
    if (count > listSize)
        count = listSize;
    // The slot after the list holds the entry dropped by the last insert.
    list[count] = std::move(entry);
    ++count;
    sort(list, count);
    if (count > listSize)
        count = listSize;
    save();
    for (uint32_t i = 0; i < count; ++i)
        if (list[i].get() == added)
            return int32_t(i);
    return -1;
}

int32_t RaceRecords::insertLap(const String& name, const RaceTime& time)
{
    return insert(laps, lapCount, name, time);
}

int32_t RaceRecords::insertRace(const String& name, const RaceTime& time)
{
    return insert(races, raceCount, name, time);
}

// Reads the announced number of entries. The first eleven are kept; the
// rest are read past so that the tags after them stay in step. Each entry
// takes at least one word, so a count beyond the data ends with the data.
bool RaceRecords::readList(FileInterface& stream, uint32_t announced, List& list, uint32_t& count)
{
    for (std::unique_ptr<Entry>& slot : list)
        slot.reset();
    count = 0;
    for (uint32_t i = 0; i < announced; ++i) {
        auto entry = std::make_unique<Entry>();
        if (!readEntry(stream, *entry))
            return false;
        if (count < uint32_t(slotCount))
            list[count++] = std::move(entry);
    }
    return true;
}

bool RaceRecords::load(const String& path)
{
    CRASH_TRACE();
    const String name = path;
    fileName = name;
    clear();
    FileInterface* file = openFile(fileName, 0, 1, 1);
    if (!file)
        return false;
    FileArray bytes;
    const bool opened = file->isOpen && file->size() <= maxFileSize && bytes.loadFrom(*file);
    file->close();
    if (!opened)
        return false;

    uint32_t announcedLaps = 0, announcedRaces = 0;
    uint32_t tag = 0;
    bool more = true;
    while (more && bytes.readValue(tag) && tag != 0) {
        switch (tag) {
        case LapCount: more = bytes.readValue(announcedLaps); break;
        case Laps: more = readList(bytes, announcedLaps, laps, lapCount); break;
        case RaceCount: more = bytes.readValue(announcedRaces); break;
        case Races: more = readList(bytes, announcedRaces, races, raceCount); break;
        default: break;
        }
    }
    // A list from elsewhere may come unsorted or too long: the ten best count.
    sort(laps, lapCount);
    sort(races, raceCount);
    lapCount = lapCount < listSize ? lapCount : listSize;
    raceCount = raceCount < listSize ? raceCount : listSize;
    return true;
}

void RaceRecords::writeList(FileInterface& stream, uint32_t countTag, uint32_t listTag, const List& list, uint32_t count)
{
    uint32_t written = 0;
    for (uint32_t i = 0; i < count && i < uint32_t(slotCount); ++i)
        written += list[i] ? 1 : 0;
    stream.writeTag(countTag);
    stream.writeValue(written);
    stream.writeTag(listTag);
    for (uint32_t i = 0; i < count && i < uint32_t(slotCount); ++i)
        if (list[i])
            writeEntry(stream, *list[i]);
}

bool RaceRecords::save()
{
    CRASH_TRACE();
    if (fileName.length() <= 0)
        return false;
    FileArray bytes(1024);
    writeList(bytes, LapCount, Laps, laps, lapCount);
    writeList(bytes, RaceCount, Races, races, raceCount);
    bytes.writeTag(0);
    return FileInterface::replaceFile(bytes, fileName);
}
