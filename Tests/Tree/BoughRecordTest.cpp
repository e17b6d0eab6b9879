#include "TreeTestSupport.h"

#include "TreeSamples.h"
#include "TreeStreamWriter.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <thread>

namespace
{

using Param = Tree::Bough::Param;

Bytes recordOf(Tree::Bough& bough)
{
    FileArray stream(4096);
    EXPECT_TRUE(TreeStreamWriter::writeBough(stream, bough));
    return contentOf(stream);
}

Tree::Bough grownWithRoots(unsigned seed)
{
    Param p;
    p.root.count = 4;
    srand(seed);
    Tree::Bough b;
    b.genBones(p);
    b.genRoots(p);
    return b;
}

// A head of a bough record.
Assembler& head(Assembler& a, uint32_t bones, uint32_t roots, uint32_t rootBones, uint32_t children, uint32_t level,
                float end = 1.0f)
{
    return a.u(bones).u(roots).u(rootBones).u(children).u(level).f(end);
}

Assembler& bone(Assembler& a, float distance)
{
    return a.v3(0, distance, 0).v3(0, 1, 0).f(distance).f(0.5f).u(0);
}

// A chain of boughs nested depth deep, each with one bone.
Bytes chain(uint32_t depth)
{
    Assembler a;
    for (uint32_t d = 0; d < depth; ++d)
        bone(head(a, 1, 0, 0, d + 1 < depth ? 1 : 0, std::min(d, 3u)), float(d));
    return a.bytes;
}

bool readsWhole(const Bytes& bytes, Tree::Bough& into)
{
    ByteStream stream(bytes);
    return into.read(stream);
}

// A stream that tells all its bytes but whose reads fail past limit, as a
// disk that fails mid-read.
struct FailingStream : ByteStream
{
    uint32_t limit;
    FailingStream(const Bytes& bytes, uint32_t limit) : ByteStream(bytes), limit(limit) {}
    uint32_t read(void* buffer, uint32_t n) override
    {
        return tell() + n > limit ? 0 : ByteStream::read(buffer, n);
    }
};

void expectEmpty(Tree::Bough& b)
{
    EXPECT_EQ(b.boneCount, 0u);
    EXPECT_EQ(b.rootCount, 0u);
    EXPECT_EQ(b.childCount, 0u);
    EXPECT_EQ(b.bones.count(), 0);
    EXPECT_EQ(b.roots.count(), 0);
    EXPECT_EQ(b.children.count(), 0);
}

}

TEST(BoughRecord, GrownSkeletonsReadBackUnchanged)
{
    for (unsigned seed : {1u, 2u, 3u}) {
        Tree::Bough grown = grownWithRoots(seed);
        ASSERT_GT(grown.childCount, 0u);
        ASSERT_GT(grown.rootBoneCount, 0u);
        const Bytes record = recordOf(grown);
        Tree::Bough read = grownWithRoots(seed + 10); // reading replaces what is there
        ASSERT_TRUE(readsWhole(record, read));
        std::string why;
        EXPECT_TRUE(sameHierarchy(grown, read, why)) << why;
        EXPECT_EQ(recordOf(read), record);
    }

    // The record's bytes, field by field.
    Tree::Bough b;
    ASSERT_TRUE(readsWhole(Assembler()
                               .u(2).u(1).u(1).u(0).u(7).f(4.5f)
                               .v3(1, 2, 3).v3(0, 1, 0).f(0.0f).f(1.5f).u(1)
                               .v3(1, 5, 3).v3(0.6f, 0.8f, 0).f(3.0f).f(1.25f).u(0)
                               .v3(-2, 0, 0).v3(-1, 0, 0).f(0.0f).f(0.4f).u(0)
                               .bytes,
                           b));
    EXPECT_EQ(b.boneCount, 2u);
    EXPECT_EQ(b.level, 3u) << "deeper levels are twigs";
    EXPECT_EQ(b.end, 4.5f);
    const Tree::Bone& second = *b.bones.at(1);
    EXPECT_EQ(second.position, vec3d(1, 5, 3));
    EXPECT_EQ(second.direction, vec3d(0.6f, 0.8f, 0));
    EXPECT_EQ(second.distance, 3.0f);
    EXPECT_EQ(second.radius, 1.25f);
    EXPECT_EQ(b.bones.at(0)->hasChildren, 1u);
    EXPECT_EQ(b.roots.at(0)->at(0)->position, vec3d(-2, 0, 0));
    EXPECT_EQ(b.roots.at(0)->at(0)->radius, 0.4f);
}

TEST(BoughRecord, CountsBeyondTheDataOrDeepNestingFailAndLeaveTheBoughEmpty)
{
    struct Case
    {
        const char* what;
        Bytes bytes;
        bool reads;
        bool atHead = false; // refused at the first head, before any bone is read
    };
    Assembler twoBones;
    bone(bone(head(twoBones, 2, 0, 0, 0, 1), 0), 1);
    Assembler inflatedBones;
    bone(head(inflatedBones, 0xFFFFFFFFu, 0, 0, 0, 1), 0);
    Assembler bonesOneShort;
    bone(head(bonesOneShort, 2, 0, 0, 0, 1), 0);
    Assembler inflatedRoots;
    bone(bone(head(inflatedRoots, 2, 0x10000u, 0x10000u, 0, 0), 0), 1);
    Assembler rootsLongerThanTrunk;
    bone(bone(bone(bone(head(rootsLongerThanTrunk, 1, 1, 3, 0, 0), 0), 0), 0), 0);
    Assembler manyEmptyRoots;
    bone(head(manyEmptyRoots, 1, 0xFFFFFFFFu, 0, 0, 0), 0);
    Assembler fewEmptyRoots;
    bone(head(fewEmptyRoots, 1, 5, 0, 0, 0), 0);
    Assembler inflatedChildren;
    bone(head(inflatedChildren, 1, 0, 0, 0x7FFFFFFFu, 0), 0);
    Assembler bareChildren;
    head(head(head(bareChildren, 0, 0, 0, 2, 0), 0, 0, 0, 0, 1), 0, 0, 0, 0, 1);
    Assembler missingChild;
    bone(head(missingChild, 1, 0, 0, 2, 0), 0);
    bone(head(missingChild, 1, 0, 0, 0, 1), 1);
    const Case cases[] = {
        {"two bones", twoBones.bytes, true},
        {"bone count inflated", inflatedBones.bytes, false, true},
        {"one bone short", bonesOneShort.bytes, false, true},
        {"roots beyond the data", inflatedRoots.bytes, false, true},
        {"roots longer than the trunk", rootsLongerThanTrunk.bytes, false, true},
        {"too many roots without bones", manyEmptyRoots.bytes, false, true},
        {"roots without bones", fewEmptyRoots.bytes, true},
        {"child count inflated", inflatedChildren.bytes, false, true},
        {"children of bare heads", bareChildren.bytes, true},
        {"a child missing", missingChild.bytes, false},
        {"head cut short", Bytes(23, 0), false},
        {"nested 64 deep", chain(64), true},
        {"nested 65 deep", chain(65), false},
        {"nothing", Bytes(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree::Bough b = grownWithRoots(4);
        ByteStream stream(c.bytes);
        EXPECT_EQ(b.read(stream), c.reads);
        if (c.atHead)
            EXPECT_EQ(stream.tell(), 24u);
        if (!c.reads) {
            expectEmpty(b);
        } else {
            EXPECT_EQ(recordOf(b), c.bytes);
        }
    }
}

TEST(BoughRecord, DamagedRecordsNeverReadPastTheirCounts)
{
    Tree::Bough grown = grownWithRoots(8);
    const Bytes record = recordOf(grown);
    // Cut at every byte: only the whole record reads.
    for (size_t cut = 0; cut < record.size(); cut += (cut < 200 ? 1 : 7)) {
        Tree::Bough b;
        ASSERT_FALSE(readsWhole(Bytes(record.begin(), record.begin() + long(cut)), b)) << cut;
        expectEmpty(b);
    }

    // Reads failing at every byte though the counts fit.
    for (uint32_t limit = 0; limit < record.size(); limit += (limit < 200 ? 1 : 5)) {
        Tree::Bough b = grownWithRoots(9);
        FailingStream stream(record, limit);
        ASSERT_FALSE(b.read(stream)) << limit;
        expectEmpty(b);
    }

    std::mt19937 random(12);
    int read = 0;
    for (int round = 0; round < 1500; ++round) {
        Bytes bytes = record;
        for (int hits = 1 + int(random() % 3); hits > 0; --hits) {
            const size_t at = (random() % 3 ? random() % 24 : random() % bytes.size()) & ~size_t(3);
            const uint32_t values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x10000u, 65u, 3u, 0x7FC00000u /* NaN */,
                                       0x7F7FFFFFu /* huge */, uint32_t(random())};
            const uint32_t v = values[random() % 8];
            for (int i = 0; i < 4 && at + i < bytes.size(); ++i)
                bytes[at + i] = uint8_t(v >> (8 * i));
        }
        Tree::Bough b;
        ByteStream stream(bytes);
        if (!b.read(stream)) {
            expectEmpty(b);
            continue;
        }
        ++read;
        EXPECT_LE(stream.tell(), bytes.size());
        forEachBough(b, [&](Tree::Bough& x, Tree::Bough*, uint32_t depth) {
            EXPECT_LE(depth, Tree::Bough::maxDepth);
            EXPECT_LE(x.level, 3u);
            EXPECT_EQ(uint32_t(x.bones.count()), x.boneCount);
            EXPECT_EQ(uint32_t(x.roots.count()), x.rootCount);
            EXPECT_EQ(uint32_t(x.children.count()), x.childCount);
            EXPECT_LE(x.rootBoneCount, x.rootCount ? x.boneCount : 0u);
        });
    }
    EXPECT_GT(read, 100) << "damage that keeps the counts in range still reads";
}

// The most memory the process holds while a call runs, sampled every
// millisecond from another thread (the system's own peak is not kept
// between two questions under Wine).
template <class Call>
size_t peakDuring(Call call)
{
    auto used = [] {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
        return size_t(counters.PagefileUsage);
    };
    std::atomic<bool> done{false};
    std::atomic<size_t> peak{used()};
    std::thread watcher([&] {
        while (!done.load()) {
            const size_t now = used();
            if (now > peak.load())
                peak.store(now);
            Sleep(1);
        }
    });
    call();
    done.store(true);
    watcher.join();
    return peak.load();
}

// Streams of a few megabytes in which a record at each of the 64 levels
// claims all the children the bytes left could hold, over zeros that read
// as bare children: refused without making what the claims promise
// (TreeBench prints how long the refusal takes).
TEST(BoughRecord, ClaimsOfChildrenBeyondTheBytesAreRefusedAtOnce)
{
    auto nested = [](size_t size) {
        Bytes bytes(size, 0);
        Assembler a;
        for (uint32_t d = 0; d < Tree::Bough::maxDepth; ++d)
            head(a, 0, 0, 0, uint32_t((size - 24 * (d + 1)) / 24), std::min(d, 3u));
        std::copy(a.bytes.begin(), a.bytes.end(), bytes.begin());
        return bytes;
    };
    const struct
    {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"4 MB, each level claims all that is left", nested(4u << 20)},
        {"12 MB, each level claims all that is left", nested(12u << 20)},
    };
    for (const auto& c : cases) {
        Tree::Bough b;
        ByteStream stream(c.bytes);
        PROCESS_MEMORY_COUNTERS before{};
        before.cb = sizeof(before);
        GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
        bool read = true;
        const size_t peak = peakDuring([&] { read = b.read(stream); });
        EXPECT_FALSE(read) << c.what;
        EXPECT_LT(peak - size_t(before.PagefileUsage), size_t(4u << 20)) << c.what;
        expectEmpty(b);
    }

    // A child whose claim fits the bytes left, but not beside the head its
    // later sibling still needs, is refused before its children are read.
    Assembler a;
    head(a, 0, 0, 0, 2, 0);
    head(a, 0, 0, 0, 100, 1);
    Bytes bytes = a.bytes;
    bytes.resize(bytes.size() + 100 * 24, 0);
    Tree::Bough b;
    ByteStream stream(bytes);
    EXPECT_FALSE(b.read(stream));
    EXPECT_EQ(stream.tell(), 48u);
    expectEmpty(b);
    // With the sibling's head there, both read.
    bytes.resize(bytes.size() + 24, 0);
    ASSERT_TRUE(readsWhole(bytes, b));
    EXPECT_EQ(b.childCount, 2u);
    EXPECT_EQ(b.children.at(0)->childCount, 100u);
    EXPECT_EQ(b.children.at(0)->children.count(), 100);
}

TEST(BoughRecord, OverlapMarksHitsAndStopsAtTheFirstChange)
{
    const auto box = [](vec3d lo, vec3d hi) {
        Tree::Bough::Box b;
        b.minimum = lo;
        b.maximum = hi;
        b.centre = (lo + hi) * 0.5f;
        return b;
    };
    Tree::Bough top;
    top.box = box(vec3d(0, 0, 0), vec3d(10, 10, 10));
    ASSERT_TRUE(top.children.resize(3));
    top.childCount = 3;
    top.children.at(0)->box = box(vec3d(0, 0, 0), vec3d(1, 1, 1));
    top.children.at(1)->box = box(vec3d(1, 0, 0), vec3d(2, 1, 1));
    top.children.at(2)->box = box(vec3d(5, 5, 5), vec3d(6, 6, 6));
    const Tree::Bough::Box query = box(vec3d(1, 1, 1), vec3d(3, 3, 3)); // touches children 0 and 1

    struct Step
    {
        uint32_t changed, top, c0, c1, c2;
    };
    const Step steps[] = {
        {1, 1, 0, 0, 0}, // the top changes: its children wait
        {1, 1, 1, 0, 0}, // child 0 changes: child 1 waits
        {1, 1, 1, 1, 0},
        {0, 1, 1, 1, 0}, // nothing left to change, child 2 visited and still clear
    };
    for (const Step& s : steps) {
        EXPECT_EQ(top.markOverlap(query), s.changed);
        EXPECT_EQ(top.hit, s.top);
        EXPECT_EQ(top.children.at(0)->hit, s.c0);
        EXPECT_EQ(top.children.at(1)->hit, s.c1);
        EXPECT_EQ(top.children.at(2)->hit, s.c2);
    }

    // Just apart on each axis in turn: no hit.
    for (int axis = 0; axis < 3; ++axis) {
        vec3d lo(0, 0, 0), hi(10, 10, 10);
        lo[axis] = 10.001f;
        hi[axis] = 12.0f;
        Tree::Bough lone;
        lone.box = box(vec3d(0, 0, 0), vec3d(10, 10, 10));
        EXPECT_EQ(lone.markOverlap(box(lo, hi)), 0u);
        EXPECT_EQ(lone.hit, 0u);
        lo[axis] = 10.0f;
        EXPECT_EQ(lone.markOverlap(box(lo, hi)), 1u) << "touching counts";
        lo[axis] = -5.0f;
        hi[axis] = -0.001f;
        EXPECT_EQ(lone.markOverlap(box(lo, hi)), 1u);
        EXPECT_EQ(lone.hit, 0u);
    }
}
