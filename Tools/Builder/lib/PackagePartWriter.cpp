#include "PackagePartWriter.h"

#include "Core/FileArray.h"

#include <type_traits>

namespace PackagePartWriter {

namespace {

constexpr size_t maxText = 8191;

// One block's bytes, written to the target at once.
class Block
{
public:
    template <class T>
    Block& put(const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        bytes_.insert(bytes_.end(), p, p + sizeof(T));
        return *this;
    }
    template <class T>
    Block& field(uint32_t tag, const T& value)
    {
        return put(tag).put(value);
    }
    Block& vector(uint32_t tag, const vec3d& v) { return put(tag).put(v.x).put(v.y).put(v.z); }
    Block& text(uint32_t tag, const std::string& s)
    {
        ok_ = ok_ && s.size() <= maxText;
        put(tag).put(uint32_t(s.size()));
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    Block& bytes(const std::vector<uint8_t>& data)
    {
        put(uint32_t(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    Block& raw(FileArray& data)
    {
        bytes_.insert(bytes_.end(), data.memory(), data.memory() + data.size());
        return *this;
    }
    bool writeTo(FileInterface& target)
    {
        put(uint32_t(0));
        return ok_ && target.write(bytes_.data(), uint32_t(bytes_.size())) == bytes_.size();
    }

private:
    std::vector<uint8_t> bytes_;
    bool ok_ = true;
};

}

bool writeShaderSettings(FileInterface& target, const ShaderSettings& s)
{
    Block block;
    block.field(1, s.addressMode)
        .field(2, s.material)
        .field(3, s.alphaRef)
        .field(4, s.reflectionMode)
        .field(5, s.reflectionAmount)
        .field(6, s.value6)
        .field(7, s.cullBackFaces)
        .field(8, s.textureScale)
        .field(9, s.castShadow)
        .field(10, s.value10);
    return block.writeTo(target);
}

bool writeGeometry(FileInterface& target, const Geometry& g)
{
    Block block;
    block.vector(1, g.position).vector(2, g.size).vector(3, g.rotation).field(4, g.kind);
    return block.writeTo(target);
}

bool writeMesh(FileInterface& target, const Mesh& m)
{
    if (m.kind == 0 && m.tree.empty())
        return false;
    Block block;
    block.field(1, m.kind);
    if (m.kind == 0) {
        FileArray bytes(4096);
        if (bytes.write(m.tree.data(), uint32_t(m.tree.size())) != m.tree.size())
            return false;
        block.put(uint32_t(2)).raw(bytes);
    }
    if (m.kind == 1) {
        MeshWriter::Record body = m.body;
        body.marker = true;
        FileArray bytes(4096);
        if (!MeshWriter::writeRecord(bytes, body))
            return false;
        block.put(uint32_t(2)).raw(bytes);
    }
    block.text(3, m.displayName)
        .text(4, m.textureName)
        .field(5, m.textureMipLevels)
        .vector(6, m.position)
        .vector(7, m.rotation)
        .field(8, m.scale);
    FileArray settings(256);
    if (!writeShaderSettings(settings, m.shader))
        return false;
    block.put(uint32_t(9)).raw(settings);
    if (!m.geometries.empty()) {
        FileArray geometries(256);
        for (const Geometry& g : m.geometries)
            if (!writeGeometry(geometries, g))
                return false;
        block.field(10, uint32_t(m.geometries.size())).put(uint32_t(11)).raw(geometries);
    }
    if (!m.name.empty())
        block.text(12, m.name);
    return block.writeTo(target);
}

bool writePhysicsRecord(FileInterface& target, const PhysicsRecord& r)
{
    Block block;
    block.field(1, r.value1).field(2, r.value2).field(3, r.value3).field(4, r.value4).field(5, r.value5);
    block.field(6, r.mass).field(7, r.noSound1);
    if (r.noSound1 == 0)
        block.field(8, r.sound1Option).bytes(r.sound1);
    block.field(9, r.noSound2);
    if (r.noSound2 == 0)
        block.field(10, r.sound2Option).bytes(r.sound2);
    return block.writeTo(target);
}

bool writeLight(FileInterface& target, const Light& l)
{
    Block block;
    block.vector(1, l.position)
        .vector(2, l.rotation)
        .field(3, l.range)
        .field(4, l.colour)
        .field(5, l.lightValue)
        .field(6, l.coneAngle)
        .field(7, l.value7)
        .text(8, l.textureName)
        .field(9, l.value9)
        .field(10, l.projectionKind)
        .field(11, l.value11)
        .field(12, l.lightFlag)
        .field(13, l.value13);
    return block.writeTo(target);
}

}
