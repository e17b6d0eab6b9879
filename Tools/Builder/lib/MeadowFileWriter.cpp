#include "MeadowFileWriter.h"

#include "TextureBlockWriter.h"

#include "Core/FileArray.h"

namespace {

bool tag(FileInterface& out, uint8_t t) { return out.writeValue(t); }

template <class T>
bool field(FileInterface& out, uint8_t t, const T& value)
{
    return tag(out, t) && out.writeValue(value);
}

bool writeLayer(FileInterface& out, const MeadowFileWriter::Layer& l)
{
    return tag(out, 1) && out.writeString(l.name) && tag(out, 2) &&
           TextureBlockWriter::writeTextureBlock(out, l.texture.empty() ? 0 : l.textureLevels, l.texture.data(),
                                                 uint32_t(l.texture.size())) &&
           field(out, 3, l.minimumHeight) && field(out, 4, l.maximumHeight) && field(out, 5, l.width) &&
           field(out, 6, l.fadeStart) && field(out, 7, l.range) && field(out, 8, l.tilt) &&
           field(out, 9, l.colourVariation) && field(out, 10, l.brightness) && field(out, 11, l.lighting) &&
           field(out, 12, l.bladesPerPatch) && field(out, 13, l.shape) && field(out, 14, l.minimumNormal) &&
           field(out, 15, l.maximumNormal) && field(out, 16, l.minimumGround) && field(out, 17, l.maximumGround) &&
           field(out, 18, l.onWater) && field(out, 19, l.onWay) && field(out, 20, l.sinkDepth) && tag(out, 21) &&
           out.write(l.colour, 4) == 4 && tag(out, 0);
}

}

bool MeadowFileWriter::write(const std::vector<Layer>& layers, FileInterface& out)
{
    static constexpr char version[4] = {'v', '1', '.', '0'};
    if (out.write(version, 4) != 4 || !field(out, 1, uint32_t(layers.size())) || !tag(out, 2))
        return false;
    for (const Layer& layer : layers)
        if (!writeLayer(out, layer))
            return false;
    return tag(out, 0);
}

bool MeadowFileWriter::save(const std::vector<Layer>& layers, const String& path)
{
    FileArray bytes(4096);
    return write(layers, bytes) && FileInterface::replaceFile(bytes, path);
}
