#include "MeshWriter.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

namespace MeshWriter {

namespace {

// Little-endian bytes of one file, written to the target at once.
class Bytes
{
public:
    template <class T>
    void put(const T& value)
    {
        static_assert(std::is_trivially_copyable_v<T>);
        const auto* p = reinterpret_cast<const uint8_t*>(&value);
        data_.insert(data_.end(), p, p + sizeof(T));
    }
    void putFloats(const vec3d& v)
    {
        put(v.x);
        put(v.y);
        put(v.z);
    }
    // text in a field of size bytes, NUL-padded; false when it does not fit.
    bool putText(const std::string& text, size_t size)
    {
        if (text.size() >= size)
            return false;
        data_.insert(data_.end(), text.begin(), text.end());
        data_.insert(data_.end(), size - text.size(), 0);
        return true;
    }
    void putZeros(size_t n) { data_.insert(data_.end(), n, 0); }
    void putString(const std::string& text) { data_.insert(data_.end(), text.begin(), text.end()); }
    size_t size() const { return data_.size(); }

    bool writeTo(FileInterface& target) const
    {
        return target.write(data_.data(), uint32_t(data_.size())) == data_.size();
    }

private:
    std::vector<uint8_t> data_;
};

// Bones in a subtree, and whether every record fits its fields.
size_t countBones(const Skeleton::Bone& bone, bool& fits)
{
    if (bone.children.size() > 255 || bone.vertices.size() > 65535)
        fits = false;
    size_t n = 1;
    for (const Skeleton::Bone& child : bone.children)
        n += countBones(child, fits);
    return n;
}

void putBone(Bytes& out, const Skeleton::Bone& bone)
{
    out.put(uint8_t(bone.children.size()));
    out.put(uint16_t(bone.vertices.size()));
    out.putFloats(bone.angles);
    out.put(bone.length);
    out.putFloats(bone.rotationMin);
    out.putFloats(bone.rotationMax);
    for (const Skeleton::BoneVertex& vertex : bone.vertices) {
        out.put(vertex.index);
        out.put(vertex.joint);
        out.put(uint8_t(0));
    }
    for (const Skeleton::Bone& child : bone.children)
        putBone(out, child);
}

bool putSkeleton(Bytes& out, const Skeleton& skeleton)
{
    bool fits = skeleton.roots.size() <= 255 && skeleton.animations.size() <= 65535;
    size_t bones = 0;
    for (const Skeleton::Bone& root : skeleton.roots)
        bones += countBones(root, fits);
    if (!fits || (!skeleton.animations.empty() && bones > 64))
        return false;
    out.put(uint8_t(skeleton.roots.size()));
    if (!skeleton.roots.empty())
        out.putFloats(skeleton.rootPosition);
    for (const Skeleton::Bone& root : skeleton.roots)
        putBone(out, root);
    out.put(uint16_t(skeleton.animations.size()));
    for (const Skeleton::Animation& animation : skeleton.animations) {
        if (animation.name.size() > 8191)
            return false;
        out.put(uint32_t(animation.frames.size()));
        out.put(animation.flags);
        out.put(uint32_t(animation.name.size()));
        out.putString(animation.name);
        for (const Skeleton::Frame& frame : animation.frames) {
            if (frame.rotations.size() != bones)
                return false;
            for (float value : frame.header)
                out.put(value);
            for (const quaternion& q : frame.rotations)
                out.put(q);
        }
    }
    return true;
}

void putTexCoords(Bytes& out, const std::vector<TexCoord>& texCoords)
{
    for (const TexCoord& st : texCoords) {
        out.put(st.s);
        out.put(st.t);
    }
}

void putTriangles(Bytes& out, const std::vector<Triangle>& triangles)
{
    for (const Triangle& triangle : triangles) {
        for (int16_t v : triangle.vertices)
            out.put(v);
        for (int16_t t : triangle.texCoords)
            out.put(t);
    }
}

// Shortest text that reads back as the same float.
std::string number(float value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", double(value));
    return text;
}

}

bool writeModel(FileInterface& target, const Model& model)
{
    const uint32_t vertexCount = model.frames.empty() ? 0 : uint32_t(model.frames.front().size());
    Bytes out;
    out.putString("KVM"); // the tag is not examined
    out.put(uint8_t(model.version));
    out.putZeros(4);
    out.putFloats(model.scale);
    out.putFloats(model.offset);
    out.putZeros(16);
    const bool withTextures = model.version == '5';
    out.put(uint32_t(withTextures ? model.textures.size() : 0));
    out.put(model.textureWidth);
    out.put(model.textureHeight);
    out.put(vertexCount);
    out.put(uint32_t(model.triangles.size()));
    out.put(uint32_t(model.frames.size()));
    out.put(uint32_t(model.texCoords.size()));
    out.putZeros(8);
    for (const Model::Texture& texture : withTextures ? model.textures : std::vector<Model::Texture>{}) {
        out.put(texture.type);
        out.put(texture.width);
        out.put(texture.height);
        if (texture.type != 2 && texture.type != 10)
            continue;
        if (texture.pixels.size() != size_t(texture.width) * texture.height)
            return false;
        for (uint16_t pixel : texture.pixels)
            out.put(pixel);
    }
    putTexCoords(out, model.texCoords);
    putTriangles(out, model.triangles);
    for (const auto& frame : model.frames) {
        if (frame.size() != vertexCount)
            return false;
        out.put(model.frameKind);
        out.putZeros((model.frameKind == 0 ? 8 : 16) + 16);
        for (const auto& xyz : frame) {
            for (uint16_t c : xyz) {
                if (model.frameKind != 0)
                    out.put(c);
                else if (c > 255)
                    return false;
                else
                    out.put(uint8_t(c));
            }
            out.putZeros(model.frameKind == 0 ? 1 : 2);
        }
    }
    return out.writeTo(target);
}

bool writeFramedModel(FileInterface& target, const FramedModel& model)
{
    constexpr uint32_t headerSize = 68, skinSize = 64, frameHeader = 40;
    const uint32_t frameSize = frameHeader + 4 * model.vertexCount;
    const uint32_t skinsAt = headerSize;
    const uint32_t texCoordsAt = skinsAt + skinSize * uint32_t(model.skins.size());
    const uint32_t trianglesAt = texCoordsAt + 4 * uint32_t(model.texCoords.size());
    const uint32_t framesAt = trianglesAt + 12 * uint32_t(model.triangles.size());
    const uint32_t end = framesAt + frameSize * uint32_t(model.frames.size());
    Bytes out;
    out.putString("KVF2"); // identifier and version are not examined
    for (uint32_t field : {1u, model.skinWidth, model.skinHeight, frameSize, uint32_t(model.skins.size()),
                           model.vertexCount, uint32_t(model.texCoords.size()), uint32_t(model.triangles.size()), 0u,
                           uint32_t(model.frames.size()), skinsAt, texCoordsAt, trianglesAt, framesAt, end, end})
        out.put(field);
    for (const std::string& skin : model.skins)
        if (!out.putText(skin, skinSize))
            return false;
    putTexCoords(out, model.texCoords);
    putTriangles(out, model.triangles);
    for (const FramedModel::Frame& frame : model.frames) {
        if (frame.vertices.size() != model.vertexCount)
            return false;
        out.putFloats(frame.scale);
        out.putFloats(frame.translation);
        if (!out.putText(frame.name, 16))
            return false;
        for (const auto& xyz : frame.vertices) {
            for (uint8_t c : xyz)
                out.put(c);
            out.put(uint8_t(0));
        }
    }
    return out.writeTo(target);
}

bool writeTextModel(FileInterface& target, const TextModel& model)
{
    std::string text = "# Korvanta mesh\n";
    if (!model.name.empty())
        text += "g " + model.name + "\n";
    for (const vec3d& p : model.positions)
        text += "v " + number(p.x) + " " + number(p.y) + " " + number(p.z) + "\n";
    for (const vec2d& uv : model.uvs)
        text += "vt " + number(uv.x) + " " + number(uv.y) + "\n";
    for (const vec3d& n : model.normals)
        text += "vn " + number(n.x) + " " + number(n.y) + " " + number(n.z) + "\n";
    for (const auto& face : model.faces) {
        text += "f";
        for (const TextModel::Corner& corner : face) {
            if (corner.position < 0 || size_t(corner.position) >= model.positions.size())
                return false;
            text += " " + std::to_string(corner.position + 1);
            if (corner.uv >= 0 || corner.normal >= 0)
                text += "/" + (corner.uv >= 0 ? std::to_string(corner.uv + 1) : std::string());
            if (corner.normal >= 0)
                text += "/" + std::to_string(corner.normal + 1);
        }
        text += "\n";
    }
    return target.write(text.data(), uint32_t(text.size())) == text.size();
}

bool writeRecord(FileInterface& target, const Record& record)
{
    // The component tests of the reader, made on both formats.
    const auto has = [&](auto test) { return test(record.format) && test(record.meshFormat); };
    const bool position = has([](uint32_t f) { return (f & 0x400E) == 2; });
    const bool normal = has([](uint32_t f) { return (f & 0x10) != 0; });
    const bool colour = has([](uint32_t f) { return (f & 0x40) != 0; });
    const bool uv = has([](uint32_t f) { return (f & 0xF00) != 0; });
    const size_t count = record.positions.size();
    if ((normal && record.normals.size() != count) || (colour && record.colours.size() != count) ||
        (uv && record.uvs.size() != count) || count > 65535)
        return false;
    Bytes out;
    if (record.marker)
        out.put(uint8_t(10));
    out.put(record.format);
    out.put(record.box);
    out.put(uint32_t(record.indices.size()));
    out.put(uint32_t(count));
    for (uint16_t index : record.indices)
        out.put(index);
    for (size_t i = 0; i < count; ++i) {
        if (position)
            out.putFloats(record.positions[i]);
        if (normal)
            out.putFloats(record.normals[i]);
        if (colour)
            out.put(record.colours[i]);
        if (uv) {
            out.put(record.uvs[i].x);
            out.put(record.uvs[i].y);
        }
    }
    if (record.marker && !putSkeleton(out, record.skeleton))
        return false;
    return out.writeTo(target);
}

bool writeSkeleton(FileInterface& target, const Skeleton& skeleton)
{
    Bytes out;
    return putSkeleton(out, skeleton) && out.writeTo(target);
}

}
