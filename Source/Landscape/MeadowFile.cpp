// The meadow file ".mdw": "v1.0", then single-byte tags: 1 the layer count,
// 2 that many layer records, 0 the end. A layer record is tags 1 to 21 (name,
// texture block, the settings, the colour) and 0. A tag a reader does not
// know carries no length: the next byte is read as the next tag.
//
// The texture block is a u32 level count (not used), a u32 byte count and an
// image file of that many bytes; a layer without a texture writes a block of
// 0 bytes, read back as no texture. Layer counts beyond what the data holds
// stop at its end, and layers past what a level's grass may cost (its
// layers, blades and textures; see Meadow::maxLayers) at the bound. A field
// outside its rules keeps its default; the range and fade start keep what
// the file says, and the drawing holds them within the camera's sight.
#include "Landscape/GrasLayer.h"
#include "Landscape/LevelBlock.h"

#include "Render/D3DDevice.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"

#include <d3dx9.h>

#include <cmath>

namespace {

// A meadow file is a few layers with a small texture each; anything far
// beyond is not one.
constexpr uint32_t maxMeadowFileSize = 64u << 20;

enum FileTag : uint8_t { LayerCount = 1, LayerRecords };
enum LayerTag : uint8_t {
    Name = 1,
    TextureBlock,
    MinimumHeight,
    MaximumHeight,
    Width,
    FadeStart,
    Range,
    Tilt,
    ColourVariation,
    Brightness,
    Lighting,
    BladesPerPatch,
    Shape,
    MinimumNormal,
    MaximumNormal,
    MinimumGround,
    MaximumGround,
    OnWater,
    OnWay,
    SinkDepth,
    ColourTag
};

void writeTag(FileInterface& stream, uint8_t tag) { stream.writeValue(tag); }

// A float field: stored only when finite.
bool readFinite(FileInterface& stream, float& value)
{
    float read = 0.0f;
    if (!stream.readValue(read))
        return false;
    if (std::isfinite(read))
        value = read;
    return true;
}

// A u32 field: stored only when at most high.
bool readAtMost(FileInterface& stream, uint32_t& value, uint32_t high)
{
    uint32_t read = 0;
    if (!stream.readValue(read))
        return false;
    if (read <= high)
        value = read;
    return true;
}

}

bool Meadow::GrasLayer::read(FileInterface& stream, uint64_t& textureBytes)
{
    CRASH_TRACE();
    Settings s = settings;
    uint32_t shape = s.shape;
    const bool whole = LevelBlock::read<uint8_t>(stream, [&](uint8_t tag) {
        switch (tag) {
        case Name: return stream.readString(name);
        case TextureBlock: {
            uint32_t levels = 0, bytes = 0;
            if (!stream.readValue(levels) || !stream.readValue(bytes))
                return false;
            // A block beyond the data is refused, and ends the file.
            if (bytes > stream.remaining())
                return false;
            textureLevels = levels;
            texture.release();
            textureFile.close();
            if (bytes == 0)
                return true;
            if (!textureFile.loadBytes(stream, bytes))
                return false;
            // An image is decoded only when its header tells its size, and
            // that size lies within the bounds; one the header does not size
            // could be of any size, and ends the read as one past them.
            uint32_t width = 0, height = 0, texelBytes = 0;
            const bool sized =
                TextureDevice::imageSize(textureFile.memory(), textureFile.size(), width, height, texelBytes);
            const bool tooLarge = !sized || width > maxTextureSide || height > maxTextureSide;
            textureBytes += tooLarge ? maxTextureBytes + 1 : uint64_t(width) * height * texelBytes;
            if (textureBytes > maxTextureBytes)
                return false;
            if (gDevice)
                Texture::loadFromMemory(textureFile, nullptr, texture, String(L"Meadow"), D3DX_DEFAULT,
                                        D3DX_DEFAULT, D3DX_DEFAULT, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT);
            return true;
        }
        case MinimumHeight: return readFinite(stream, s.minimumHeight);
        case MaximumHeight: return readFinite(stream, s.maximumHeight);
        case Width: return readFinite(stream, s.width);
        case FadeStart: return readFinite(stream, s.fadeStart);
        case Range: return readFinite(stream, s.range);
        case Tilt: return stream.readValue(s.tilt);
        case ColourVariation: return stream.readValue(s.colourVariation);
        case Brightness: return readFinite(stream, s.brightness);
        case Lighting: return readAtMost(stream, s.lighting, 1);
        case BladesPerPatch: return readAtMost(stream, s.bladesPerPatch, maxBladesPerPatch);
        case Shape: return stream.readValue(shape);
        case MinimumNormal: return readFinite(stream, s.minimumNormal);
        case MaximumNormal: return readFinite(stream, s.maximumNormal);
        case MinimumGround: return readFinite(stream, s.minimumGround);
        case MaximumGround: return readFinite(stream, s.maximumGround);
        case OnWater: return readAtMost(stream, s.onWater, 1);
        case OnWay: return readAtMost(stream, s.onWay, 1);
        case SinkDepth: return readFinite(stream, s.sinkDepth);
        case ColourTag: return stream.readValue(s.colour);
        default: return true;
        }
    });
    // A shape without a vertex layout is kept (a save writes it back), but
    // the layer never grows.
    s.shape = shape;
    settings = s;
    state = verticesForShape(shape) ? ready : disabled;
    applySettings();
    return whole;
}

void Meadow::GrasLayer::write(FileInterface& stream) const
{
    const Settings& s = settings;
    writeTag(stream, Name);
    stream.writeString(name);
    writeTag(stream, TextureBlock);
    bool written = false;
    if (textureFile.size() == 0 && texture.isBound()) {
        FileArray encoded(4096);
        if (Texture::writeToStream(encoded, texture, D3DXIFF_PNG)) {
            stream.write(encoded.memory(), encoded.size());
            written = true;
        }
    }
    if (!written) {
        const uint32_t bytes = textureFile.size();
        stream.writeValue(bytes ? textureLevels : 0u);
        stream.writeValue(bytes);
        if (bytes)
            stream.write(textureFile.memory(), bytes);
    }
    writeTag(stream, MinimumHeight);
    stream.writeValue(s.minimumHeight);
    writeTag(stream, MaximumHeight);
    stream.writeValue(s.maximumHeight);
    writeTag(stream, Width);
    stream.writeValue(s.width);
    writeTag(stream, FadeStart);
    stream.writeValue(s.fadeStart);
    writeTag(stream, Range);
    stream.writeValue(s.range);
    writeTag(stream, Tilt);
    stream.writeValue(s.tilt);
    writeTag(stream, ColourVariation);
    stream.writeValue(s.colourVariation);
    writeTag(stream, Brightness);
    stream.writeValue(s.brightness);
    writeTag(stream, Lighting);
    stream.writeValue(s.lighting);
    writeTag(stream, BladesPerPatch);
    stream.writeValue(s.bladesPerPatch);
    writeTag(stream, Shape);
    stream.writeValue(s.shape);
    writeTag(stream, MinimumNormal);
    stream.writeValue(s.minimumNormal);
    writeTag(stream, MaximumNormal);
    stream.writeValue(s.maximumNormal);
    writeTag(stream, MinimumGround);
    stream.writeValue(s.minimumGround);
    writeTag(stream, MaximumGround);
    stream.writeValue(s.maximumGround);
    writeTag(stream, OnWater);
    stream.writeValue(s.onWater);
    writeTag(stream, OnWay);
    stream.writeValue(s.onWay);
    writeTag(stream, SinkDepth);
    stream.writeValue(s.sinkDepth);
    writeTag(stream, ColourTag);
    stream.writeValue(s.colour);
    writeTag(stream, 0);
}

bool Meadow::read(FileInterface& stream)
{
    CRASH_TRACE();
    uint8_t header[4];
    stream.read(header, sizeof(header));
    deleteLayers();
    createBuffers();
    uint32_t count = 0;
    uint64_t blades = 0, textureBytes = 0;
    return LevelBlock::readWhole<uint8_t>(stream, [&](uint8_t tag) {
        switch (tag) {
        case LayerCount: return stream.readValue(count);
        case LayerRecords:
            for (uint32_t i = 0; i < count; ++i) {
                // A count beyond the data ends with the data: no layer is made
                // for records that are not there (the last byte left is the
                // file's own end tag).
                if (stream.remaining() <= 1)
                    return false;
                GrasLayer* layer = new (std::nothrow) GrasLayer(this, GrasLayer::Settings{});
                if (!layer)
                    return false;
                const bool whole = layer->read(stream, textureBytes);
                // Past what a level's grass may cost the file ends, keeping
                // the layers before.
                blades += layer->mostBlades();
                if (uint32_t(layers.count()) >= maxLayers || blades > maxBlades || textureBytes > maxTextureBytes ||
                    !layers.append(layer)) {
                    delete layer;
                    return false;
                }
                if (!whole)
                    return false;
            }
            return true;
        default: return true;
        }
    });
}

bool Meadow::load(const String& path)
{
    CRASH_TRACE();
    if (path.length() <= 0)
        return false;
    FileInterface* file = openFile(path, 0, 1, 1);
    if (!file)
        return false;
    FileArray bytes;
    const bool opened = file->isOpen && file->size() <= maxMeadowFileSize && bytes.loadFrom(*file);
    file->close();
    return opened && read(bytes);
}

void Meadow::write(FileInterface& stream) const
{
    stream.write(versionMark, sizeof(versionMark));
    writeTag(stream, LayerCount);
    stream.writeValue(uint32_t(layers.count()));
    writeTag(stream, LayerRecords);
    for (auto* node = layers.head(); node; node = node->next)
        node->item->write(stream);
    writeTag(stream, 0);
}

bool Meadow::save(const String& path) const
{
    CRASH_TRACE();
    FileArray bytes(256);
    write(bytes);
    return FileInterface::replaceFile(bytes, path);
}
