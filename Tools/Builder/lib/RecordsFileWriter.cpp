#include "RecordsFileWriter.h"

#include "Core/FileArray.h"

RecordsFileWriter::Time RecordsFileWriter::Time::fromMilliseconds(uint32_t milliseconds)
{
    Time time;
    time.minutes = uint8_t(milliseconds / 60000);
    time.seconds = uint8_t(milliseconds / 1000 % 60);
    time.hundredths = uint8_t(milliseconds % 1000 / 10);
    return time;
}

uint32_t RecordsFileWriter::Time::word() const
{
    return uint32_t(sign) | uint32_t(minutes) << 8 | uint32_t(seconds) << 16 | uint32_t(hundredths) << 24;
}

bool RecordsFileWriter::writeEntry(const Entry& entry, FileInterface& target)
{
    bool ok = target.writeTag(1) && target.writeString(entry.name);
    if (entry.dated)
        ok = ok && target.writeTag(2) && target.writeValue(entry.day) && target.writeValue(entry.month) &&
             target.writeValue(entry.year);
    const uint8_t time[4] = {entry.time.sign, entry.time.minutes, entry.time.seconds, entry.time.hundredths};
    return ok && target.writeTag(3) && target.write(time, 4) == 4 && target.writeTag(0);
}

bool RecordsFileWriter::write(const Records& records, FileInterface& target)
{
    bool ok = target.writeTag(1) && target.writeValue(uint32_t(records.laps.size())) && target.writeTag(2);
    for (const Entry& entry : records.laps)
        ok = ok && writeEntry(entry, target);
    ok = ok && target.writeTag(3) && target.writeValue(uint32_t(records.races.size())) && target.writeTag(4);
    for (const Entry& entry : records.races)
        ok = ok && writeEntry(entry, target);
    return ok && target.writeTag(0);
}

bool RecordsFileWriter::save(const Records& records, const String& path)
{
    FileArray bytes(1024);
    return write(records, bytes) && FileInterface::saveToFile(bytes, path);
}
