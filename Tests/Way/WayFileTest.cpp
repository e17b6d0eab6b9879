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

// The cross-sections replace a point's side with the one the way's shape
// gives, across a way along z (1, 0, 0); the save writes back the file's
// while the two agree to a thousandth in each direction, else the shape's.
// The builder's sides, worked out as the game does, come back as written.
TEST_F(WayFile, SidesAreWrittenAsReadWhileTheyAgreeWithTheWaysShape)
{
    const struct
    {
        float side[3];
        bool asRead;
    } cases[] = {
        {{1.0f, 0.0f, 0.0f}, true},   {{1.0f, 0.0f, -0.0009f}, true}, {{0.9985f, 0.0f, 0.0f}, false},
        {{1.0f, 0.0015f, 0.0f}, false}, {{0.0f, 0.0f, 0.0f}, false},    {{0.0f, 0.0f, -1.0f}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.side[0] << ' ' << c.side[1] << ' ' << c.side[2]);
        Route way{point(0, 0), point(0, 40), point(0, 80)};
        for (Point& p : way)
            std::memcpy(p.side, c.side, sizeof(p.side));
        ASSERT_TRUE(read(bytesOf({way})));
        const ::Way::Point& first = *gWayNetwork.ways.head()->item->head()->item;
        EXPECT_NEAR(first.side.x, 1.0f, 1.0e-4f);
        EXPECT_NEAR(first.side.z, 0.0f, 1.0e-4f);
        // The first point's side follows the counts and its id and position.
        const std::vector<uint8_t> saved = written();
        vec3d side;
        std::memcpy(&side, saved.data() + 4 + 4 + 4 + 12, sizeof(side));
        EXPECT_EQ(side, c.asRead ? vec3d(c.side[0], c.side[1], c.side[2]) : first.side);
    }
    std::vector<Route> sample = flatSample();
    const std::vector<uint8_t> built = bytesOf(sample);
    ASSERT_TRUE(read(built));
    EXPECT_EQ(written(), built);
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

// The points of a way with those of its branches.
int32_t pointsOf(const Route& way)
{
    int32_t n = 0;
    for (const Point& p : way) {
        ++n;
        for (const Route& branch : p.branches)
            n += pointsOf(branch);
    }
    return n;
}

// Where each way of a file ends: 4 bytes of way count, then the ways.
std::vector<size_t> wayEnds(const std::vector<Route>& ways)
{
    std::vector<size_t> ends;
    size_t at = 4;
    for (const Route& way : ways)
        ends.push_back(at += bytesOf({way}).size() - 4);
    return ends;
}

TEST_F(WayFile, DamagedFilesKeepTheWaysReadWholeBeforeTheDamage)
{
    const std::vector<Route> ways = flatSample();
    const std::vector<uint8_t> sample = bytesOf(ways);
    const std::vector<size_t> ends = wayEnds(ways);
    ASSERT_EQ(ends.size(), 2u);
    ASSERT_EQ(ends.back(), sample.size());
    auto patched = [&](size_t offset, uint32_t value) {
        std::vector<uint8_t> bytes = sample;
        std::memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };
    auto cut = [&](size_t size) { return std::vector<uint8_t>(sample.begin(), sample.begin() + size); };
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
        int wholeWays;
    } cases[] = {
        {"way count beyond the data", patched(0, 1000), 2},
        {"huge way count", patched(0, 0xFFFFFFF0u), 2},
        // The file's bytes end where its ways do: a way count short of them
        // or a byte past them leaves part of the file unread.
        {"way count short of the ways", patched(0, 1), 1},
        {"a byte past the last way", [&] { auto b = sample; b.push_back(0); return b; }(), 2},
        {"cut in the way count", cut(2), 0},
        {"point count beyond the data", patched(4, 5000), 0},
        {"cut in the first way", cut(ends[0] - 1), 0},
        {"cut right after the first way", cut(ends[0] + 2), 1},
        {"cut in the last link", cut(sample.size() - 2), 1},
        {"branch count beyond the data", patchedPoint(60, 1000), 0},
        {"link count beyond the data", patchedPoint(64, 1000), 0},
        {"nested 65 deep", bytesOf({nested(65)}), 0},
        {"position not a number", withPoint([&](Point& p) { p.position[1] = nan; }), 0},
        {"infinite width", withPoint([&](Point& p) { p.width = infinite; }), 0},
        {"steps not a number", withPoint([&](Point& p) { p.stepsPerLength = nan; }), 0},
        {"tolerance infinite", withPoint([&](Point& p) { p.thinTolerance = -infinite; }), 0},
        {"far outside any level", withPoint([](Point& p) { p.position[0] = 3.0e7f; }), 0},
        {"over 2048 steps", withPoint([](Point& p) { p.stepsPerLength = 20.5f; }), 0},
        {"a million steps", withPoint([](Point& p) { p.stepsPerLength = 1.0e4f; }), 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(read(sample));
        EXPECT_FALSE(read(c.bytes)) << c.what;
        EXPECT_EQ(gWayNetwork.ways.count(), c.wholeWays) << c.what;
        // The kept ways are the file's first ones, with their segments.
        int32_t points = 0, segments = 0;
        for (int w = 0; w < c.wholeWays; ++w)
            points += pointsOf(ways[size_t(w)]);
        gWayNetwork.walk([&](::Way::PointNode* node) {
            --points;
            segments += node->item->segment ? 1 : 0;
            return true;
        });
        EXPECT_EQ(points, 0) << c.what;
        EXPECT_EQ(size_t(segments), gWayNetwork.segments.size()) << c.what;
    }
    // The limits themselves are fine: 64 levels, 2048 steps.
    EXPECT_TRUE(read(bytesOf({nested(64)})));
    EXPECT_TRUE(read(withPoint([](Point& p) { p.stepsPerLength = 20.4f; })));
    ASSERT_EQ(gWayNetwork.segments.size(), 1u);
    EXPECT_GE(gWayNetwork.segments[0]->steps, 2035u);
}

// A file that says it holds three ways but holds one: its two points load,
// and the save writes them back as the whole file of that one way.
TEST_F(WayFile, ACutFileSavesTheWayItHeldWhole)
{
    const Route way{point(0, 0), point(0, 40)};
    ASSERT_TRUE(read(bytesOf({way})));
    const std::vector<uint8_t> whole = written();
    std::vector<uint8_t> saysThree = bytesOf({way});
    saysThree[0] = 3;
    EXPECT_FALSE(read(saysThree));
    ASSERT_EQ(gWayNetwork.ways.count(), 1);
    EXPECT_EQ(gWayNetwork.ways.head()->item->count(), 2);
    EXPECT_EQ(gWayNetwork.segments.size(), 1u);
    EXPECT_EQ(written(), whole);
}

// Total cross-sections beyond what any level needs: 127 curbstone segments
// of about 2,048 steps each (a file of some 9 KB) are refused before any
// mesh is built (WayBench prints how long that takes).
TEST_F(WayFile, ANetworkOfTooManyCrossSectionsIsRefused)
{
    Route way;
    for (int i = 0; i <= 127; ++i) {
        Point p = point(0, 100.0f * float(i), L"Curbstone1", 10.0f);
        p.stepsPerLength = 20.4f;
        way.push_back(p);
    }
    const std::vector<uint8_t> bytes = bytesOf({way});
    EXPECT_LT(bytes.size(), 10000u);
    EXPECT_FALSE(read(bytes));
    EXPECT_EQ(gWayNetwork.ways.count(), 0);
    EXPECT_TRUE(gWayNetwork.segments.empty());
    // Four such segments fit.
    way.resize(5);
    EXPECT_TRUE(read(bytesOf({way})));
    EXPECT_EQ(gWayNetwork.segments.size(), 4u);
}

// Roads along z at each x of points 100 apart, segments of 2,047 steps,
// numbered in walk order; linked each from the first point n times to the
// point numbered target. Links repeated 0 to 1,000 times (a file keeps every
// link) read and save back byte for byte: the junction tests the way it
// joins once. Roads whose every end links every other road's end ask for
// more edge tests than a load may take: refused. (WayBench prints how long
// these reads take.)
TEST_F(WayFile, RepeatedLinksReadAtOnceAndOverlongJunctionsAreRefused)
{
    const auto roads = [](std::vector<int> lengths, size_t links, int32_t target) {
        std::vector<Route> file;
        int32_t id = 0;
        for (size_t r = 0; r < lengths.size(); ++r) {
            file.emplace_back();
            for (int i = 0; i < lengths[r]; ++i) {
                file.back().push_back(point(100.0f * float(r), 100.0f * float(i)));
                file.back().back().stepsPerLength = 20.475f;
                file.back().back().id = id++;
            }
            file.back().back().name = String(L"Undefined");
            file.back().front().links.assign(links, target < 0 ? int32_t(2 * ((r + 1) % lengths.size()) + 1) : target);
        }
        return bytesOf(file);
    };
    for (const size_t links : {0u, 10u, 1000u}) {
        const std::vector<uint8_t> file = roads({2, 3}, links, 3);
        ASSERT_TRUE(read(file)) << links;
        EXPECT_EQ(written().size(), file.size()) << links;
        const std::vector<uint8_t> saved = written();
        ASSERT_TRUE(read(saved));
        EXPECT_EQ(written(), saved) << links;
    }
    EXPECT_FALSE(read(roads({2, 2, 2}, 3, -1)));
    EXPECT_EQ(gWayNetwork.ways.count(), 0);
}

TEST_F(WayFile, LinksToNoPointOrToItselfAreDropped)
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
    // A point hangs from the first that links to it; a later link stays.
    ASSERT_EQ(list.tail()->item->links.count(), 2);
    EXPECT_EQ(list.tail()->item->links.head()->item->node, second.head());
    EXPECT_EQ(second.head()->item->linkNode, list.head()->item->links.head());
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

// A link to the first point of a branch, which hangs from its branch's
// point already: the link stays, and the network saves byte for byte.
TEST_F(WayFile, ALinkToABranchsFirstPointIsKept)
{
    Route way{point(0, 0), point(0, 40), point(0, 80)};
    Route branch{point(20, 40), point(60, 40)};
    way[1].branches.push_back(branch);
    // Walk order: the way's three points (0, 1, 2), then the branch (3, 4).
    for (int32_t i = 0; i < 3; ++i)
        way[size_t(i)].id = i;
    way[1].branches[0][0].id = 3;
    way[1].branches[0][1].id = 4;
    way[2].links = {3};
    // The names the save gives: the last point of a list starts no segment.
    way[2].name = String(L"Undefined");
    way[1].branches[0][1].name = String(L"Undefined");
    const std::vector<uint8_t> file = bytesOf({way});
    ASSERT_TRUE(read(file));
    const ::Way::PointList& list = *gWayNetwork.ways.head()->item;
    const ::Way::PointNode* first = list.head()->next->item->branches.head()->item->head();
    ASSERT_EQ(list.tail()->item->links.count(), 1);
    EXPECT_EQ(list.tail()->item->links.head()->item->node, first);
    EXPECT_EQ(first->item->parentNode, list.head()->next) << "it hangs from its branch's point";
    const std::vector<uint8_t> saved = written();
    EXPECT_EQ(saved.size(), file.size());
    ASSERT_TRUE(read(saved));
    EXPECT_EQ(written(), saved);
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
        // A damaged file keeps at most the sample's ways, read whole; what is
        // kept is as sound as what a whole file gives.
        accepted += read(bytes) ? 1 : 0;
        EXPECT_LE(gWayNetwork.ways.count(), 2);
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

