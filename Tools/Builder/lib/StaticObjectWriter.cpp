#include "StaticObjectWriter.h"

#include "Core/FileArray.h"

namespace {

bool tag(FileInterface& out, uint8_t t)
{
    return out.writeValue(t);
}

}

bool StaticObjectWriter::writeRecord(const Object& o, FileInterface& out)
{
    bool ok = tag(out, 1) && out.writeString(o.package);
    ok = ok && tag(out, 2) && out.write(o.position, sizeof(o.position)) == sizeof(o.position);
    ok = ok && tag(out, 3) && out.writeValue(o.scale);
    ok = ok && tag(out, 4) && out.writeValue(o.heightOffset);
    ok = ok && tag(out, 5) && out.writeValue(o.rotation);
    ok = ok && tag(out, 6) && out.writeValue(o.state);
    ok = ok && tag(out, 7) && out.writeValue(o.flag);
    for (uint8_t later : o.laterTags)
        ok = ok && tag(out, later);
    return ok && tag(out, 0);
}

bool StaticObjectWriter::write(const std::vector<Object>& objects, FileInterface& out)
{
    static const char version[4] = {'v', '1', '.', '0'};
    bool ok = out.write(version, 4) == 4;
    for (const Object& object : objects)
        ok = ok && writeRecord(object, out);
    return ok;
}

bool StaticObjectWriter::save(const std::vector<Object>& objects, const String& path)
{
    FileArray bytes(1024);
    return write(objects, bytes) && FileInterface::saveToFile(bytes, path);
}
