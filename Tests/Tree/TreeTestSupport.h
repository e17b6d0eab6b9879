#pragma once
// Byte streams assembled by hand, walks over bough hierarchies and
// comparisons for the tree tests.
#include "Tree/TreeParameters.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Little-endian bytes written field by field: Bytes b = Assembler().tag(1).f(2.0f).bytes;
struct Assembler
{
    Bytes bytes;

    template <class T>
    Assembler& raw(const T& value)
    {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof(T));
        return *this;
    }
    Assembler& tag(uint8_t t) { return raw(t); }
    Assembler& f(float v) { return raw(v); }
    Assembler& u(uint32_t v) { return raw(v); }
    Assembler& v2(float x, float y) { return f(x).f(y); }
    Assembler& v3(float x, float y, float z) { return f(x).f(y).f(z); }
    // A colour by its channels; stored blue, green, red, alpha.
    Assembler& rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return raw(b).raw(g).raw(r).raw(a); }
    Assembler& append(const Bytes& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Assembler& end() { return tag(0); }
};

// A memory stream holding bytes, positioned at its start.
struct ByteStream : FileArray
{
    explicit ByteStream(const Bytes& bytes) : FileArray(4096)
    {
        if (!bytes.empty())
            write(bytes.data(), uint32_t(bytes.size()));
        seek(0, 0);
    }
};

inline Bytes contentOf(FileArray& stream)
{
    return Bytes(stream.memory(), stream.memory() + stream.size());
}

// What a block's write produces.
inline Bytes written(const Tree::Parameter& block)
{
    FileArray stream(4096);
    EXPECT_TRUE(block.write(stream));
    return contentOf(stream);
}

// Visits a hierarchy depth first; depth 1 is the top bough.
inline void forEachBough(Tree::Bough& bough, const std::function<void(Tree::Bough&, Tree::Bough*, uint32_t)>& visit,
                         Tree::Bough* parent = nullptr, uint32_t depth = 1)
{
    visit(bough, parent, depth);
    for (uint32_t i = 0; i < bough.childCount; ++i)
        forEachBough(*bough.children.at(int32_t(i)), visit, &bough, depth + 1);
}

inline bool sameBits(const void* a, const void* b, size_t n)
{
    return std::memcmp(a, b, n) == 0;
}

inline bool sameBone(const Tree::Bone& a, const Tree::Bone& b)
{
    return sameBits(&a, &b, sizeof(Tree::Bone));
}

// Whether two hierarchies hold the same bits, counts and arrays; the first
// difference is described in why.
inline bool sameHierarchy(Tree::Bough& a, Tree::Bough& b, std::string& why, const std::string& at = "top")
{
    if (a.boneCount != b.boneCount || a.rootCount != b.rootCount || a.rootBoneCount != b.rootBoneCount ||
        a.childCount != b.childCount || a.level != b.level || !sameBits(&a.end, &b.end, 4) ||
        a.bones.count() != b.bones.count() || a.roots.count() != b.roots.count() ||
        a.children.count() != b.children.count()) {
        why = at + ": counts, level or end differ";
        return false;
    }
    for (uint32_t i = 0; i < a.boneCount; ++i)
        if (!sameBone(*a.bones.at(int32_t(i)), *b.bones.at(int32_t(i)))) {
            why = at + ": bone " + std::to_string(i);
            return false;
        }
    for (uint32_t r = 0; r < a.rootCount; ++r)
        for (uint32_t i = 0; i < a.rootBoneCount; ++i)
            if (!sameBone(*a.roots.at(int32_t(r))->at(int32_t(i)), *b.roots.at(int32_t(r))->at(int32_t(i)))) {
                why = at + ": root " + std::to_string(r) + " bone " + std::to_string(i);
                return false;
            }
    for (uint32_t c = 0; c < a.childCount; ++c)
        if (!sameHierarchy(*a.children.at(int32_t(c)), *b.children.at(int32_t(c)), why,
                           at + "/" + std::to_string(c)))
            return false;
    return true;
}

struct HierarchyFigures
{
    uint32_t boughs = 0;
    uint32_t bones = 0;
    uint32_t depth = 0;
    uint32_t mostBones = 0;
    uint32_t byLevel[4] = {};
};

inline HierarchyFigures figuresOf(Tree::Bough& top)
{
    HierarchyFigures f;
    forEachBough(top, [&](Tree::Bough& b, Tree::Bough*, uint32_t depth) {
        ++f.boughs;
        f.bones += b.boneCount;
        f.depth = std::max(f.depth, depth);
        f.mostBones = std::max(f.mostBones, b.boneCount);
        ++f.byLevel[b.level < 4 ? b.level : 3];
    });
    return f;
}
