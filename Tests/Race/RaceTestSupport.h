#pragma once
// What the race tests share: a race with vehicles made from field values, a
// way list along x, quads with a live entity at a place, and a settable clock.
#include "Race/Game.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Entity/Entity.h"
#include "Entity/StaticEntity.h"

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/FileArray.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace RaceTest {

// The race clock of the tests: gRaceClock reads now while a TestClock lives.
struct TestClock
{
    static inline uint32_t now = 1;
    static DWORD WINAPI read() { return now; }
    explicit TestClock(uint32_t start) : previous(gRaceClock) { now = start, gRaceClock = read; }
    ~TestClock() { gRaceClock = previous; }
    RaceClock previous;
};

// A way list of count points at x = 0, spacing, 2 x spacing, ... (moved
// by origin), or through the points given; with segments, each point but
// the last starts a segment to the next.
class WayList
{
public:
    WayList(int count, float spacing, bool segments, const vec3d& origin = vec3d())
        : WayList(line(count, spacing, origin), segments)
    {
    }
    WayList(const std::vector<vec3d>& points, bool segments)
    {
        for (const vec3d& at : points) {
            auto* point = new Way::Point;
            point->position = at;
            list->append(point);
        }
        if (segments)
            for (Way::PointNode* node = list->head(); node && node->next; node = node->next)
                node->item->segment = new Way::Segment(node, node->next, nullptr);
    }
    ~WayList() { Way::deletePointList(list); }
    WayList(const WayList&) = delete;
    WayList& operator=(const WayList&) = delete;

    Way::PointNode* node(int index) const
    {
        Way::PointNode* n = list->head();
        for (int i = 0; i < index && n; ++i)
            n = n->next;
        return n;
    }

    Way::PointList* list = new Way::PointList;

private:
    static std::vector<vec3d> line(int count, float spacing, const vec3d& origin)
    {
        std::vector<vec3d> points;
        for (int i = 0; i < count; ++i)
            points.push_back(origin + vec3d(float(i) * spacing, 0.0f, 0.0f));
        return points;
    }
};

// A quad's live entity: a world matrix and nothing else.
struct Quad : StaticEntity::Instance
{
    using StaticEntity::Instance::Instance;
    uint32_t place(StaticEntity&, matrix3d&) override { return 0; }
};

// Appends a vehicle of slot to game's list; the vehicle owns its object.
inline Game::Vehicle& addVehicle(Game& game, uint32_t slot, Object* object = nullptr)
{
    auto* vehicle = new Game::Vehicle(&game, object, slot);
    game.vehicles.append(vehicle);
    return *vehicle;
}

// A vehicle whose quad stands at position looking along forward.
inline Game::Vehicle& addVehicleAt(Game& game, EntityManager& entities, uint32_t slot, const vec3d& position,
                                   const vec3d& forward = vec3d(0.0f, 0.0f, 1.0f))
{
    auto* object = new Object;
    auto* quad = new Quad(entities);
    quad->world.m[8] = forward.x;
    quad->world.m[9] = forward.y;
    quad->world.m[10] = forward.z;
    quad->world.m[12] = position.x;
    quad->world.m[13] = position.y;
    quad->world.m[14] = position.z;
    object->instance = quad;
    return addVehicle(game, slot, object);
}

inline std::vector<uint8_t> bytesOf(FileArray& stream)
{
    const uint8_t* data = stream.memory();
    return data ? std::vector<uint8_t>(data, data + stream.size()) : std::vector<uint8_t>();
}

inline FileArray& streamOf(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    stream.close();
    if (!bytes.empty())
        stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return stream;
}

inline RaceTime timeOf(int32_t milliseconds)
{
    RaceTime time;
    Game::splitRaceTime(milliseconds, time);
    return time;
}

}
