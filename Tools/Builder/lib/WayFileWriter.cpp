#include "WayFileWriter.h"

#include "Core/FileArray.h"

namespace {

bool writePoints(const WayFileWriter::Way& way, FileInterface& out)
{
    bool ok = out.writeValue(uint32_t(way.size()));
    for (const WayFileWriter::Point& p : way) {
        ok = out.writeValue(p.id) && ok;
        ok = out.write(p.position, sizeof(p.position)) == sizeof(p.position) && ok;
        ok = out.write(p.side, sizeof(p.side)) == sizeof(p.side) && ok;
        ok = out.writeValue(p.width) && out.writeValue(p.heightOffset) && out.writeValue(p.stepsPerLength) &&
             out.writeValue(p.thinTolerance) && out.writeValue(p.followGround) && ok;
        ok = out.write(p.colour, sizeof(p.colour)) == sizeof(p.colour) && ok;
        ok = out.writeValue(uint32_t(p.branches.size())) && out.writeValue(uint32_t(p.links.size())) && ok;
        ok = out.writeString(p.name) && ok;
        for (const WayFileWriter::Way& branch : p.branches)
            ok = writePoints(branch, out) && ok;
        for (int32_t id : p.links)
            ok = out.writeValue(id) && ok;
    }
    return ok;
}

}

bool WayFileWriter::write(const std::vector<Way>& ways, FileInterface& target)
{
    bool ok = target.writeValue(uint32_t(ways.size()));
    for (const Way& way : ways)
        ok = writePoints(way, target) && ok;
    return ok;
}

bool WayFileWriter::save(const std::vector<Way>& ways, const String& path)
{
    FileArray bytes(256);
    return write(ways, bytes) && FileInterface::saveToFile(bytes, path);
}
