#pragma once

#include "Race/RaceTime.h"

#include "Core/Date.h"
#include "Core/String.h"

#include <cstdint>
#include <memory>

class FileInterface;

// A map's best lap and race times (Game::Records), ten of each with the
// driver's name and the day, kept in the map's ".rec" file in the records
// folder and saved as soon as a new time enters a list. Each list is sorted
// by time; a new time goes after equal ones.
//
// The ".rec" file is a tagged stream: tag 1 the lap count (u32), tag 2 that
// many entries, tag 3 the race count, tag 4 those entries, tag 0. An entry
// is tagged too: 1 the name (stored String), 2 the date (day, month, u16
// year), 3 the time (4 bytes), 0. Tags not known carry no field.
// The file is replaced only once written whole, so a crash during a save
// leaves the old list or the new one. Main thread only.
class RaceRecords
{
public:
    struct Entry
    {
        String name{L""};
        Date date;
        RaceTime time;
        uint32_t isNew = 0; // 1 for the entry inserted last into its list
    };

    static constexpr int slotCount = 11;   // a list and the entry it dropped last
    static constexpr uint32_t listSize = 10;
    static constexpr int splitCount = 32;
    // Far beyond any records file of this program; a larger file is not read.
    static constexpr uint32_t maxFileSize = 1u << 20;

    RaceRecords() = default;
    ~RaceRecords() = default;
    RaceRecords(const RaceRecords&) = delete;
    RaceRecords& operator=(const RaceRecords&) = delete;

    // Deletes every entry of both lists.
    void clear();
    // fileName becomes the list's file; the lists are emptied and read from
    // it. A missing or unreadable file gives empty lists; a damaged one keeps
    // what could be read: at most eleven entries per list, sorted, the ten
    // best counted. False when the file could not be opened.
    bool load(const String& path);
    // Writes both counted lists to fileName. False (the file unchanged) when
    // it could not be written.
    bool save();
    // Enters a time into its list and saves: the new entry's index, or -1
    // when it is slower than the ten in the list (which then stay as they
    // were, apart from their isNew flags).
    int32_t insertLap(const String& name, const RaceTime& time);
    int32_t insertRace(const String& name, const RaceTime& time);

    // One entry stream into entry (first set to an empty name, 1.1.2000 and
    // 00:00.00). False when the data ended before the entry's tag 0 and
    // before its time was read: nothing worth keeping.
    static bool readEntry(FileInterface& stream, Entry& entry);
    static void writeEntry(FileInterface& stream, const Entry& entry);
    // An entry of today's date (the local clock).
    static std::unique_ptr<Entry> makeEntry(const String& name, const RaceTime& time);
    // 1 when b's time is smaller than a's, else -1: never 0.
    static int32_t compareEntries(const Entry& a, const Entry& b);

    String fileName{L""};
    std::unique_ptr<Entry> laps[slotCount];
    std::unique_ptr<Entry> races[slotCount];
    uint32_t lapCount = 0;
    uint32_t raceCount = 0;
    // Split times by a gate's order number.
    RaceTime splits[splitCount];

private:
    using List = std::unique_ptr<Entry>[slotCount];
    int32_t insert(List& list, uint32_t& count, const String& name, const RaceTime& time);
    static bool readList(FileInterface& stream, uint32_t announced, List& list, uint32_t& count);
    static void writeList(FileInterface& stream, uint32_t countTag, uint32_t listTag, const List& list, uint32_t count);
    static void sort(List& list, uint32_t count);
};
