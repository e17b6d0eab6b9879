#include "ProgressWriter.h"

namespace ProgressWriter {

bool writeRecord(const Record& record, FileInterface& target)
{
    return target.writeTag(1) && target.write(record.key, 2) == 2 && target.writeTag(2) &&
           target.writeValue(record.difficulty) && target.writeTag(3) && target.writeValue(record.unlocked) &&
           target.writeTag(4) && target.writeValue(record.raceNumber) && target.writeTag(5) &&
           target.write(record.points, 8) == 8 && target.writeTag(0);
}

bool writeTable(const std::vector<Record>& table, FileInterface& target)
{
    if (table.size() > size_t(recordCount))
        return false;
    bool ok = true;
    for (int i = 0; i < recordCount; ++i)
        ok = ok && writeRecord(size_t(i) < table.size() ? table[size_t(i)] : Record{}, target);
    return ok;
}

}
