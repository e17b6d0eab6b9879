// The ".way" file: the builder's sample through the game's reader and writer,
// the links and names a save must keep, and damaged files.
#include "WayTestFiles.h"

#include <cstring>
#include <random>
#include <sstream>
#include <string>

namespace {

using namespace WayTestFiles;

// What a network holds, point by point in walk order: the stored fields, the
// branch lists' sizes, and each link as the walk number of its target.
std::string describe(bool withNames)
{
    std::vector<const ::Way::Point*> order;
    gWayNetwork.walk([&](::Way::PointNode* node) {
        order.push_back(node->item);
        return true;
    });
    auto numberOf = [&](const ::Way::Point* p) {
        for (size_t i = 0; i < order.size(); ++i)
            if (order[i] == p)
                return int(i);
        return -1;
    };
    std::ostringstream out;
    out << gWayNetwork.ways.count() << " ways\n";
    for (const ::Way::Point* p : order) {
        out << p->position.x << ',' << p->position.y << ',' << p->position.z << " w" << p->width << " h"
            << p->heightOffset << " s" << p->stepsPerLength << " t" << p->thinTolerance << " f" << p->followGround
            << " c" << p->colour.argb();
        if (withNames && p->segment)
            out << ' ' << std::string(p->name.text(), p->name.text() + p->name.length());
        out << " branches";
        for (auto* b = p->branches.head(); b; b = b->next)
            out << ' ' << b->item->count();
        out << " links";
        for (auto* l = p->links.head(); l; l = l->next)
            out << ' ' << numberOf(l->item->node ? l->item->node->item : nullptr);
        out << " hangs " << (p->parentNode ? numberOf(p->parentNode->item) : -1) << '\n';
    }
    return out.str();
}

class WayFile : public Network
{
};

TEST_F(WayFile, TheSampleReadsSavesAndReadsBackTheSameTrees)
{
    ASSERT_TRUE(read(bytesOf(flatSample())));
    ASSERT_EQ(gWayNetwork.ways.count(), 2);
    const std::string first = describe(true);
    // The course is closed: its last point lies on its first.
    const ::Way::PointList& course = *gWayNetwork.ways.head()->item;
    EXPECT_EQ(course.head()->item->position, course.tail()->item->position);
    // One branch (the shortcut) and one link, to the shortcut's last point.
    int branches = 0, links = 0;
    gWayNetwork.walk([&](::Way::PointNode* node) {
        branches += node->item->branches.count();
        links += node->item->links.count();
        return true;
    });
    EXPECT_EQ(branches, 1);
    EXPECT_EQ(links, 1);

    const std::vector<uint8_t> saved = written();
    // The save numbered the points 0, 1, 2, ... in walk order.
    int32_t expected = 0;
    gWayNetwork.walk([&](::Way::PointNode* node) {
        EXPECT_EQ(node->item->id, expected++);
        return true;
    });
    ASSERT_TRUE(read(saved));
    EXPECT_EQ(describe(true), first);
    // Written again, the file is the same to the byte.
    EXPECT_EQ(written(), saved);

    // Through the disk as the scene saves and loads it.
    const std::wstring path = AppTestFiles::freshFolder(L"ways") + L"Valley.way";
    ASSERT_TRUE(saveWayFile(String(path.c_str())));
    EXPECT_EQ(AppTestFiles::read(path), saved);
    gWayNetwork.clearWays();
    ASSERT_TRUE(loadWayFile(String(path.c_str())));
    EXPECT_EQ(describe(true), first);
}

TEST_F(WayFile, LinksIntoLaterWaysSurviveTheSave)
{
    // Route 0's second point links to way 1's first; way 1's last links back
    // to way 0's first (ids as the builder chose them, not in walk order).
    Route a{point(0, 0), point(0, 40), point(0, 80)};
    Route b{point(60, 40), point(100, 40)};
    a[0].id = 7;
    a[1].id = 3;
    a[2].id = 5;
    b[0].id = 11;
    b[1].id = 2;
    a[1].links.push_back(11);
    b[1].links.push_back(7);
    ASSERT_TRUE(read(bytesOf({a, b})));
    const std::string first = describe(false);
    EXPECT_NE(first.find("links 3"), std::string::npos) << first;
    ASSERT_TRUE(read(written()));
    EXPECT_EQ(describe(false), first);
}

TEST_F(WayFile, NamesTheGameDoesNotKnowAreKept)
{
    Route way{point(0, 0, L"Gravel9"), point(0, 40, L"Curbstone1"), point(0, 80, L"Curbstone1")};
    ASSERT_TRUE(read(bytesOf({way})));
    // The unknown name is shaped by the first modeler, and kept.
    const ::Way::PointList& list = *gWayNetwork.ways.head()->item;
    EXPECT_EQ(std::wstring(list.head()->item->segment->modeler->name.text()), L"SimpleWayBorderPaver1");
    ASSERT_TRUE(read(written()));
    const ::Way::PointList& again = *gWayNetwork.ways.head()->item;
    EXPECT_EQ(std::wstring(again.head()->item->name.text()), L"Gravel9");
    EXPECT_EQ(std::wstring(again.head()->next->item->name.text()), L"Curbstone1");
    // A last point starts no segment: its name becomes "Undefined".
    EXPECT_EQ(std::wstring(again.tail()->item->name.text()), L"Undefined");
}

TEST_F(WayFile, EmptyAndMissingFiles)
{
    ASSERT_TRUE(read(bytesOf(flatSample())));
    // A file that does not open leaves the ways as they were.
    EXPECT_FALSE(loadWayFile(String(L"Z:\\no such folder\\none.way")));
    EXPECT_EQ(gWayNetwork.ways.count(), 2);
    // No bytes, or a way count of 0: no ways, and no failure.
    EXPECT_TRUE(read({}));
    EXPECT_EQ(gWayNetwork.ways.count(), 0);
    ASSERT_TRUE(read(bytesOf(flatSample())));
    EXPECT_TRUE(read({0, 0, 0, 0}));
    EXPECT_EQ(gWayNetwork.ways.count(), 0);
    EXPECT_TRUE(gWayNetwork.segments.empty());
    // Empty ways and ways of one point have no segments.
    EXPECT_TRUE(read(bytesOf({Route{}, Route{point(0, 0)}})));
    EXPECT_EQ(gWayNetwork.ways.count(), 2);
    EXPECT_TRUE(gWayNetwork.segments.empty());
}

// A chain of branches `levels` deep: each list's first point starts the next.
Route nested(int levels)
{
    Route way{point(0, 0), point(0, 10)};
    for (int level = 1; level < levels; ++level) {
        Route outer{point(float(level), 0), point(float(level), 10)};
        outer[0].branches.push_back(way);
        way = outer;
    }
    return way;
}

TEST_F(WayFile, DamagedFilesLeaveNoWays)
{
    const std::vector<uint8_t> sample = bytesOf(flatSample());
    auto patched = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> bytes = sample;
        std::memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };
    // The fields of the first point of a way of two start at byte 8; its
    // branch count is at 60 and its link count at 64.
    auto patchedPoint = [](size_t offset, uint32_t value) {
        std::vector<uint8_t> bytes = bytesOf({Route{point(0, 0), point(0, 100)}});
        std::memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };
    auto withPoint = [](auto change) {
        Route way{point(0, 0), point(0, 100)};
        change(way[0]);
        return bytesOf({way});
    };
    const float nan = std::nanf(""), infinite = INFINITY;
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"way count beyond the data", patched(0, 1000)},
        {"huge way count", patched(0, 0xFFFFFFF0u)},
        {"point count beyond the data", patched(4, 5000)},
        {"cut short", std::vector<uint8_t>(sample.begin(), sample.begin() + sample.size() / 2)},
        {"cut in the last link", std::vector<uint8_t>(sample.begin(), sample.end() - 2)},
        {"branch count beyond the data", patchedPoint(60, 1000)},
        {"link count beyond the data", patchedPoint(64, 1000)},
        {"nested 65 deep", bytesOf({nested(65)})},
        {"position not a number", withPoint([&](Point& p) { p.position[1] = nan; })},
        {"infinite width", withPoint([&](Point& p) { p.width = infinite; })},
        {"steps not a number", withPoint([&](Point& p) { p.stepsPerLength = nan; })},
        {"tolerance infinite", withPoint([&](Point& p) { p.thinTolerance = -infinite; })},
        {"far outside any level", withPoint([](Point& p) { p.position[0] = 3.0e7f; })},
        {"over 2048 steps", withPoint([](Point& p) { p.stepsPerLength = 20.5f; })},
        {"a million steps", withPoint([](Point& p) { p.stepsPerLength = 1.0e4f; })},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(read(sample));
        EXPECT_FALSE(read(c.bytes)) << c.what;
        EXPECT_EQ(gWayNetwork.ways.count(), 0) << c.what;
        EXPECT_TRUE(gWayNetwork.segments.empty()) << c.what;
    }
    // The limits themselves are fine: 64 levels, 2048 steps.
    EXPECT_TRUE(read(bytesOf({nested(64)})));
    EXPECT_TRUE(read(withPoint([](Point& p) { p.stepsPerLength = 20.4f; })));
    ASSERT_EQ(gWayNetwork.segments.size(), 1u);
    EXPECT_GE(gWayNetwork.segments[0]->steps, 2035u);
}

TEST_F(WayFile, LinksThatNameNoFreePointAreDropped)
{
    Route way{point(0, 0), point(0, 40), point(0, 80)};
    Route other{point(50, 0), point(50, 40)};
    way[0].id = 0;
    way[1].id = 1;
    way[2].id = 2;
    other[0].id = 3;
    other[1].id = 4;
    way[0].links = {99, 0, 3};   // no point 99; itself; a free point
    way[2].links = {3, 4};       // 3 hangs from point 0 already
    ASSERT_TRUE(read(bytesOf({way, other})));
    const ::Way::PointList& list = *gWayNetwork.ways.head()->item;
    const ::Way::PointList& second = *gWayNetwork.ways.tail()->item;
    ASSERT_EQ(list.head()->item->links.count(), 1);
    EXPECT_EQ(list.head()->item->links.head()->item->node, second.head());
    EXPECT_EQ(second.head()->item->parentNode, list.head());
    ASSERT_EQ(list.tail()->item->links.count(), 1);
    EXPECT_EQ(second.tail()->item->parentNode, list.tail());

    // An id names the first point in walk order that has it.
    other[0].id = 1;
    way[0].links.clear();
    way[2].links.clear();
    ASSERT_TRUE(read(bytesOf({way, other})));
    EXPECT_EQ(gWayNetwork.findPointNode(1), gWayNetwork.ways.head()->item->head()->next);
    EXPECT_EQ(gWayNetwork.findPointNode(4), gWayNetwork.ways.tail()->item->tail());
    EXPECT_EQ(gWayNetwork.findPointNode(99), nullptr);
}

TEST_F(WayFile, FuzzedSampleNeverBreaksTheReader)
{
    const std::vector<uint8_t> sample = bytesOf(flatSample());
    std::mt19937 random(20240611);
    int accepted = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = sample;
        const int changes = 1 + int(random() % 6);
        for (int c = 0; c < changes; ++c) {
            const size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0:
                bytes[at] ^= uint8_t(1u << (random() % 8));
                break;
            case 1:
                if (at + 4 <= bytes.size()) {
                    const uint32_t value = random() % 3 == 0 ? uint32_t(random()) : random() % 70;
                    std::memcpy(bytes.data() + at, &value, 4);
                }
                break;
            case 2:
                bytes.resize(at);
                break;
            default:
                bytes[at] = uint8_t(random());
                break;
            }
            if (bytes.empty())
                break;
        }
        if (!read(bytes)) {
            EXPECT_EQ(gWayNetwork.ways.count(), 0);
            continue;
        }
        ++accepted;
        for (const ::Way::Segment* s : gWayNetwork.segments) {
            ASSERT_LE(s->steps, ::Way::Segment::maxSteps);
            for (const ::Way::Pos& p : s->positions)
                for (const vec3d& v : {p.centre, p.left, p.right, p.forward, p.side, p.normal})
                    ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << "round " << round;
            for (const vec3d& v : {s->bounds.minimum, s->bounds.maximum})
                ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << "round " << round;
        }
    }
    // Changes to values keep many files readable.
    EXPECT_GT(accepted, 20);
}

}
