// The ".way" file: reading it into the network and building the segments,
// and writing it back.
#include "Way/WayNetwork.h"

#include "Way/WayModeler.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/FileInterface.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

using Way::Point;
using Way::PointList;
using Way::PointNode;

namespace {

constexpr uint32_t fixedBytes = 60;
// The least a point record takes: its fixed part and the name's count.
constexpr uint32_t smallestRecord = fixedBytes + 4;

bool finite(float v) { return std::isfinite(v); }

bool within(float v, float limit) { return finite(v) && std::fabs(v) <= limit; }

bool withinAll(const vec3d& v, float limit) { return within(v.x, limit) && within(v.y, limit) && within(v.z, limit); }

template <class T>
T take(const uint8_t*& bytes)
{
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    bytes += sizeof(T);
    return value;
}

vec3d takeVector(const uint8_t*& bytes)
{
    vec3d v;
    v.x = take<float>(bytes);
    v.y = take<float>(bytes);
    v.z = take<float>(bytes);
    return v;
}

// Reads the point records of the network file, each field by field from the
// bytes; every count is checked against what the data can still hold.
class Reader
{
public:
    explicit Reader(FileInterface& stream) : stream_(stream) {}

    bool u32(uint32_t& value) { return stream_.readValue(value); }
    uint32_t remaining() { return stream_.remaining(); }

    // count records of at least `size` bytes each must fit in the rest.
    bool fits(uint32_t count, uint32_t size) { return uint64_t(count) * size <= remaining(); }

    bool points(PointList& list, uint32_t count, int32_t depth, SCList<PointList>::Node* branch, PointNode* parent)
    {
        if (!fits(count, smallestRecord))
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            Point* point = new Point;
            PointNode* node = list.append(point);
            if (!node) {
                delete point;
                return false;
            }
            point->branchNode = branch;
            if (i == 0)
                point->parentNode = parent;
            if (!record(*point, node, depth))
                return false;
        }
        return true;
    }

private:
    bool record(Point& point, PointNode* node, int32_t depth)
    {
        uint8_t fixed[fixedBytes];
        if (stream_.read(fixed, fixedBytes) != fixedBytes)
            return false;
        const uint8_t* p = fixed;
        point.id = take<int32_t>(p);
        point.position = takeVector(p);
        point.side = point.fileSide = takeVector(p);
        point.width = take<float>(p);
        point.heightOffset = take<float>(p);
        point.stepsPerLength = take<float>(p);
        point.thinTolerance = take<float>(p);
        point.followGround = take<uint32_t>(p);
        point.colour.b = *p++;
        point.colour.g = *p++;
        point.colour.r = *p++;
        point.colour.a = *p++;
        const uint32_t branchCount = take<uint32_t>(p);
        const uint32_t linkCount = take<uint32_t>(p);
        if (!withinAll(point.position, WayNetwork::maxCoordinate) || !withinAll(point.side, WayNetwork::maxCoordinate) ||
            !within(point.width, WayNetwork::maxWidth) || !within(point.heightOffset, WayNetwork::maxCoordinate) ||
            !finite(point.stepsPerLength) || !finite(point.thinTolerance))
            return false;
        if (!stream_.readString(point.name))
            return false;
        if (!fits(branchCount, 4) || !fits(linkCount, 4) || (branchCount > 0 && depth >= WayNetwork::maxDepth))
            return false;
        for (uint32_t b = 0; b < branchCount; ++b) {
            PointList* list = new PointList;
            SCList<PointList>::Node* branch = point.branches.append(list);
            if (!branch) {
                delete list;
                return false;
            }
            uint32_t n = 0;
            if (!u32(n) || !points(*list, n, depth + 1, branch, node))
                return false;
        }
        if (!fits(linkCount, 4))
            return false;
        for (uint32_t l = 0; l < linkCount; ++l) {
            Point::Link* link = new Point::Link;
            if (!stream_.readValue(link->id) || !point.links.append(link)) {
                delete link;
                return false;
            }
        }
        return true;
    }

    FileInterface& stream_;
};

}

bool WayNetwork::load(const String& path)
{
    CRASH_TRACE();
    FileInterface* file = path.length() > 0 ? openFile(path, 0, 1, 1) : nullptr;
    if (!file)
        return false;
    FileArray bytes;
    const bool opened = file->isOpen && bytes.loadFrom(*file);
    file->close();
    if (!opened)
        return false;
    return read(bytes);
}

bool WayNetwork::read(FileInterface& stream)
{
    CRASH_TRACE();
    // The links to projections and the hollow lookups go with the old ways.
    clearWays();
    beginChange();
    // The ways read whole before any damage stay; a network beyond the
    // limits of its segments goes whole.
    const bool whole = readWays(stream);
    const bool built = buildSegments();
    if (!built) {
        segments.clear();
        hollowSegments.clear();
        indexHollows();
        ways.clearWith([](PointList* list) { Way::deletePointList(list); });
    } else {
        indexSegments();
    }
    endChange();
    return whole && built;
}

bool WayNetwork::readWays(FileInterface& stream)
{
    Reader reader(stream);
    if (reader.remaining() == 0)
        return true; // an empty file: no ways
    uint32_t wayCount = 0;
    if (!reader.u32(wayCount))
        return false;
    // Each way goes into the network once read whole; the first that is not
    // ends the reading (a count beyond the data ends with the data).
    bool whole = true;
    for (uint32_t w = 0; w < wayCount && whole; ++w) {
        PointList* list = new PointList;
        uint32_t count = 0;
        whole = reader.u32(count) && reader.points(*list, count, 1, nullptr, nullptr) && ways.append(list);
        if (!whole)
            Way::deletePointList(list);
    }

    // Links name points of the file by id; the first point in walk order
    // with an id answers for it (as findPointNode would). A link to no point
    // or to the linking point itself is dropped. A point hangs from one
    // place only: the first link to it, unless it starts a branch; a later
    // link stays in its list all the same.
    std::unordered_map<int32_t, PointNode*> byId;
    walk([&](PointNode* node) {
        byId.emplace(node->item->id, node);
        return true;
    });
    walk([&](PointNode* node) {
        Point& point = *node->item;
        for (auto* link = point.links.head(); link;) {
            auto* next = link->next;
            const auto found = byId.find(link->item->id);
            PointNode* target = found == byId.end() ? nullptr : found->second;
            if (!target || target == node) {
                delete point.links.unlink(link);
            } else {
                link->item->node = target;
                if (!target->item->parentNode) {
                    target->item->linkNode = link;
                    target->item->parentNode = node;
                }
            }
            link = next;
        }
        return true;
    });
    // A way count below the ways the file holds leaves the rest unread.
    return whole && reader.remaining() == 0;
}

bool WayNetwork::buildSegments()
{
    bool fits = true;
    uint64_t crossSections = 0;
    walk([&](PointNode* node) {
        if (!node->next)
            return true;
        Point& point = *node->item;
        point.segment = new Way::Segment(node, node->next, findModeler(point.name));
        // A density beyond any road is a damaged file, not a wish to honour.
        crossSections += uint64_t(point.segment->steps) + 3;
        fits = point.segment->steps <= Way::Segment::maxSteps && crossSections <= maxCrossSections;
        return fits;
    });
    if (!fits)
        return false;
    // Each stage runs over every segment before the next begins.
    auto eachSegment = [this](void (Way::Segment::*stage)()) {
        walk([stage](PointNode* node) {
            if (Way::Segment* segment = node->item->segment)
                (segment->*stage)();
            return true;
        });
    };
    eachSegment(&Way::Segment::sample);
    // The junction cuts test edges against edges: junctions that would take
    // longer than a load may are a damaged or hostile file.
    uint64_t cutWork = 0;
    walk([&cutWork](PointNode* node) {
        if (const Way::Segment* segment = node->item->segment)
            cutWork += segment->cutWork();
        return cutWork <= maxCutWork;
    });
    if (cutWork > maxCutWork)
        return false;
    eachSegment(&Way::Segment::computeCuts);
    eachSegment(&Way::Segment::fitToGround);
    eachSegment(&Way::Segment::buildMeshes);
    return true;
}

namespace {

// Whether a point's name is one the network's modelers have; a name the
// game does not know is kept as it was read.
bool knownName(const WayNetwork& network, const String& name)
{
    for (const Way::Modeler* modeler : network.modelers)
        if (modeler && modeler->name.sameText(name))
            return true;
    return name.sameText(String(L"Undefined"));
}

// The side the file gave while the sampling found it within rounding of
// its own: a way saved unchanged gives back its file.
const vec3d& sideToWrite(const Point& point)
{
    const vec3d off = point.side - point.fileSide;
    const float tolerance = 1.0e-3f;
    const bool agrees = std::fabs(off.x) <= tolerance && std::fabs(off.y) <= tolerance && std::fabs(off.z) <= tolerance;
    return agrees ? point.fileSide : point.side;
}

bool writePoints(const WayNetwork& network, FileInterface& out, PointList& list)
{
    bool ok = out.writeValue(uint32_t(list.count()));
    for (PointNode* node = list.head(); node; node = node->next) {
        Point& point = *node->item;
        if (knownName(network, point.name))
            point.name = point.segment && point.segment->modeler ? point.segment->modeler->name : String(L"Undefined");
        ok = out.writeValue(point.id) && ok;
        for (const vec3d& v : {point.position, sideToWrite(point)})
            ok = out.writeValue(v.x) && out.writeValue(v.y) && out.writeValue(v.z) && ok;
        ok = out.writeValue(point.width) && out.writeValue(point.heightOffset) &&
             out.writeValue(point.stepsPerLength) && out.writeValue(point.thinTolerance) &&
             out.writeValue(point.followGround) && ok;
        const uint8_t colour[4] = {point.colour.b, point.colour.g, point.colour.r, point.colour.a};
        ok = out.write(colour, 4) == 4 && ok;
        ok = out.writeValue(uint32_t(point.branches.count())) && out.writeValue(uint32_t(point.links.count())) && ok;
        ok = out.writeString(point.name) && ok;
        for (auto* branch = point.branches.head(); branch; branch = branch->next)
            ok = writePoints(network, out, *branch->item) && ok;
        for (auto* link = point.links.head(); link; link = link->next) {
            const Point::Link& l = *link->item;
            ok = out.writeValue(l.node ? l.node->item->id : l.id) && ok;
        }
    }
    return ok;
}

}

bool WayNetwork::write(FileInterface& out)
{
    CRASH_TRACE();
    // Every point is numbered before any is written: a link may name a point
    // of a later way.
    int32_t next = 0;
    walk([&next](PointNode* node) {
        node->item->id = next++;
        return true;
    });
    bool ok = out.writeValue(uint32_t(ways.count()));
    for (auto* way = ways.head(); way; way = way->next)
        ok = writePoints(*this, out, *way->item) && ok;
    return ok;
}

bool WayNetwork::save(const String& path)
{
    CRASH_TRACE();
    FileArray bytes(256);
    return write(bytes) && FileInterface::replaceFile(bytes, path);
}
