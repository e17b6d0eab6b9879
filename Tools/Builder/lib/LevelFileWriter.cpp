#include "LevelFileWriter.h"

#include "Core/FileArray.h"

namespace {

// Appends values in their stored widths; remembers whether every write went through.
class Out
{
public:
    explicit Out(FileInterface& target) : target_(target) {}

    template <class T>
    Out& value(const T& v)
    {
        ok_ = ok_ && target_.writeValue(v);
        return *this;
    }
    Out& tag(uint32_t t) { return value(t); }
    Out& text(const String& s)
    {
        ok_ = ok_ && target_.writeString(s);
        return *this;
    }
    Out& bytes(const void* data, uint32_t size)
    {
        ok_ = ok_ && (size == 0 || target_.write(data, size) == size);
        return *this;
    }
    bool ok() const { return ok_; }

private:
    FileInterface& target_;
    bool ok_ = true;
};

void writeTerrain(Out& out, const LevelFileWriter::Terrain& t)
{
    out.tag(1).text(t.text1).tag(2).text(t.text2).tag(3).value(t.value3).tag(4).value(t.value4).tag(5);
    for (const LevelFileWriter::Layer& layer : t.layers)
        out.tag(1).value(layer.first).tag(2).text(layer.text).tag(3).value(layer.third).tag(4).value(layer.fourth).tag(0);
    out.tag(6).text(t.text6).tag(7).text(t.text7).tag(8).value(t.firstRepeat).tag(9).value(t.secondRepeat);
    out.tag(10).value(t.horizontalScale).tag(11).value(t.verticalScale).tag(12).value(t.lodDistance);
    out.tag(13).value(t.lowestLod).tag(14).value(t.highestLod);
    for (uint32_t i = 0; i < 4; ++i)
        out.tag(15 + i).value(t.colourOps[i]);
    out.tag(19).bytes(t.ambient, sizeof(t.ambient)).tag(20).bytes(t.diffuse, sizeof(t.diffuse));
    out.tag(21).value(t.barrierFlag).tag(0);
}

void writeCamera(Out& out, const LevelFileWriter::Camera& c)
{
    out.tag(1).value(c.mode).tag(2).value(c.targetHeight).tag(3).value(c.currentHeight);
    out.tag(4).bytes(c.position, sizeof(c.position)).tag(5).value(c.turn).value(c.pitch);
    out.tag(6).bytes(c.fogColour, sizeof(c.fogColour)).tag(7).value(c.fogAmount).tag(0);
}

}

bool LevelFileWriter::write(const Level& level, FileInterface& target)
{
    Out out(target);
    const char version[4] = {'v', '1', '.', '0'};
    out.bytes(version, sizeof(version));
    out.tag(1).text(level.name);
    out.tag(2).value(uint32_t(level.preview.size())).bytes(level.preview.data(), uint32_t(level.preview.size()));
    out.tag(3).text(level.description);
    out.tag(4).tag(1).value(level.courseType).tag(2).value(level.referenceTime).tag(0);
    out.tag(5);
    writeTerrain(out, level.terrain);
    out.tag(6).value(level.timeOfDay).tag(7).value(level.season).tag(8).value(level.animatedSky);
    out.tag(9);
    writeCamera(out, level.camera);
    out.tag(0);
    return out.ok();
}

bool LevelFileWriter::save(const Level& level, const String& path)
{
    FileArray bytes(4096);
    return write(level, bytes) && FileInterface::saveToFile(bytes, path);
}
