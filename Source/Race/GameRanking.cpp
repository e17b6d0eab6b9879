// The standings: race order by mode and phase, and the two queries on them.
#include "Race/Game.h"

#include "Race/GameVehicle.h"

#include "Entity/Entity.h"

#include "Core/CrashTrace.h"

#include <algorithm>

namespace {

int32_t bySlot(const Game::Vehicle& a, const Game::Vehicle& b)
{
    return a.slot < b.slot ? -1 : (a.slot > b.slot ? 1 : 0);
}

int32_t byPlace(const Game::Vehicle& a, const Game::Vehicle& b)
{
    return a.place < b.place ? -1 : (a.place > b.place ? 1 : 0);
}

constexpr uint32_t introPhase = 1;
constexpr uint32_t countdownPhase = 2;

// Where a vehicle stands in the race as a whole, in race order: those that
// have finished, those still racing, those knocked out, the one that gave up.
enum Standing { finisher, racing, knockedOut, gaveUp };

Standing standingOf(const Game::Vehicle& v)
{
    if (v.stillRacing())
        return racing;
    if (v.finishOrder == Game::Vehicle::gaveUp)
        return gaveUp;
    // The player knocked out has finished too: it stands among the out.
    return v.knockedOut ? knockedOut : finisher;
}

// Among the same standing: finishers in the order they finished, the
// knocked out by the places they went out on; 0 for those still racing.
int32_t byStanding(const Game::Vehicle& a, const Game::Vehicle& b)
{
    // Most comparisons are between two vehicles still racing.
    if (a.stillRacing() && b.stillRacing())
        return 0;
    const Standing sa = standingOf(a), sb = standingOf(b);
    if (sa != sb)
        return sa < sb ? -1 : 1;
    switch (sa) {
    case finisher: return a.finishOrder < b.finishOrder ? -1 : (a.finishOrder > b.finishOrder ? 1 : bySlot(a, b));
    case knockedOut: return byPlace(a, b);
    case gaveUp: return bySlot(a, b);
    default: return 0;
    }
}

constexpr bool offCourse(float progress) { return progress == -1.0f; }

vec3d translationOf(const matrix3d& m) { return vec3d(m.m[12], m.m[13], m.m[14]); }

// keepOffCoursePlaces among racers vehicles that passed as many gates.
void keepPlacesAmong(Game::Vehicle** table, const float* progress, int32_t racers)
{
    struct Racer
    {
        Game::Vehicle* vehicle;
        float progress;
    };
    Racer byPlace[Game::maxRanked], moving[Game::maxRanked];
    int32_t movingCount = 0;
    for (int32_t i = 0; i < racers; ++i) {
        byPlace[i] = {table[i], progress[i]};
        if (!offCourse(progress[i]))
            moving[movingCount++] = {table[i], progress[i]};
    }
    if (movingCount == racers)
        return;
    std::stable_sort(byPlace, byPlace + racers,
                     [](const Racer& a, const Racer& b) { return a.vehicle->place < b.vehicle->place; });
    std::stable_sort(moving, moving + movingCount, [](const Racer& a, const Racer& b) {
        if (a.progress != b.progress)
            return a.progress > b.progress;
        return a.vehicle->place < b.vehicle->place;
    });
    for (int32_t k = 0, next = 0; k < racers; ++k)
        table[k] = offCourse(byPlace[k].progress) ? byPlace[k].vehicle : moving[next++].vehicle;
}

}

// The ordering with the track progress of each vehicle given: the ranking
// asks each vehicle once instead of at every comparison.
int32_t Game::compareRanked(const Vehicle& a, float progressA, const Vehicle& b, float progressB) const
{
    if (phase == countdownPhase && raceOver)
        return byPlace(a, b);
    const bool beforeStart = phase == introPhase || phase == countdownPhase;
    switch (choice.gameMode) {
    case OffRoadRace:
    case TimeTrial:
        if (beforeStart)
            return bySlot(a, b);
        if (const int32_t standing = byStanding(a, b))
            return standing;
        if (a.lap != b.lap)
            return a.lap > b.lap ? -1 : 1;
        // Heading for different gates: the one that passed more gates is
        // further on (a place kept at the finish must be the true one).
        if (a.nextGate != b.nextGate) {
            if (a.gatesPassed != b.gatesPassed)
                return a.gatesPassed > b.gatesPassed ? -1 : 1;
            return bySlot(a, b);
        }
        if (a.nextGateDistSq != b.nextGateDistSq)
            return a.nextGateDistSq < b.nextGateDistSq ? -1 : 1;
        return bySlot(a, b);
    case KnockOut:
    case Circuit:
        if (beforeStart)
            return bySlot(a, b);
        if (const int32_t standing = byStanding(a, b))
            return standing;
        // The gates passed first: the way's progress wavers where a quad
        // strays, and a gate not passed has to be driven back to.
        if (a.gatesPassed != b.gatesPassed)
            return a.gatesPassed > b.gatesPassed ? -1 : 1;
        // Off the course a vehicle has no progress to compare; the ranking
        // keeps its place among those as far on (keepOffCoursePlaces).
        if (offCourse(progressA) || offCourse(progressB))
            return byPlace(a, b);
        if (progressA != progressB)
            return progressA > progressB ? -1 : 1;
        return byPlace(a, b);
    case CaptureTheFlag:
    case Jamboree:
        if (a.points != b.points)
            return a.points > b.points ? -1 : 1;
        return bySlot(a, b);
    default:
        return bySlot(a, b);
    }
}

int32_t Game::compareVehicles(const Vehicle& a, const Vehicle& b) const
{
    const bool byProgress = choice.gameMode == KnockOut || choice.gameMode == Circuit;
    return compareRanked(a, byProgress ? a.getTrackProgress() : 0.0f, b, byProgress ? b.getTrackProgress() : 0.0f);
}

void Game::rankVehicles()
{
    CRASH_TRACE();
    Vehicle* table[maxRanked];
    float progress[maxRanked];
    const bool byProgress = choice.gameMode == KnockOut || choice.gameMode == Circuit;
    int32_t count = 0;
    auto* node = vehicles.head();
    for (; node && count < maxRanked; node = node->next) {
        if (!node->item)
            continue;
        table[count] = node->item;
        progress[count] = byProgress ? node->item->getTrackProgress() : 0.0f;
        ++count;
    }
    // An insertion sort: it stays within the table whatever the ordering
    // answers, and the ordering is not transitive across all vehicle pairs.
    for (int32_t i = 1; i < count; ++i) {
        Vehicle* vehicle = table[i];
        const float p = progress[i];
        int32_t j = i;
        for (; j > 0 && compareRanked(*table[j - 1], progress[j - 1], *vehicle, p) > 0; --j) {
            table[j] = table[j - 1];
            progress[j] = progress[j - 1];
        }
        table[j] = vehicle;
        progress[j] = p;
    }
    if (byProgress && phase != introPhase && phase != countdownPhase &&
        std::any_of(progress, progress + count, offCourse))
        keepOffCoursePlaces(table, progress, count);
    for (int32_t i = 0; i < count; ++i)
        table[i]->place = i + 1;
    // The ranking table holds eight; any further vehicle follows them.
    for (int32_t place = count + 1; node; node = node->next)
        if (node->item)
            node->item->place = place++;
}

// Those still racing stand together in the ranked table, and among them
// those that passed as many gates. A vehicle off the course keeps the place
// it held among those; the others are ordered by their progress round it, so
// that it holds no one up.
void Game::keepOffCoursePlaces(Vehicle** table, const float* progress, int32_t count) const
{
    int32_t first = 0;
    while (first < count && !table[first]->stillRacing())
        ++first;
    for (int32_t end = first; end < count && table[end]->stillRacing(); first = end) {
        while (end < count && table[end]->stillRacing() && table[end]->gatesPassed == table[first]->gatesPassed)
            ++end;
        keepPlacesAmong(table + first, progress + first, end - first);
    }
}

uint32_t Game::isLastInRace(const Vehicle& vehicle) const
{
    for (auto* node = vehicles.head(); node; node = node->next) {
        const Vehicle* other = node->item;
        if (other && other != &vehicle && !other->knockedOut && other->place > vehicle.place)
            return 0;
    }
    return 1;
}

void Game::endKnockOutRounds()
{
    // Finished quads count: the winner completes the final round's lap.
    const auto inTheRace = [](const Vehicle* v) { return v && !v->knockedOut && v->finishOrder != Vehicle::gaveUp; };
    for (;;) {
        const int32_t round = knockOuts + 1;
        int32_t inRace = 0, done = 0;
        Vehicle* behind = nullptr; // one that has not completed the round's lap
        Vehicle* last = nullptr;   // of those that have, the last to complete it
        for (auto* node = vehicles.head(); node; node = node->next) {
            Vehicle* v = node->item;
            if (!inTheRace(v))
                continue;
            ++inRace;
            if (v->lapsDone < round) {
                behind = v;
                continue;
            }
            ++done;
            if (v->lapsDone == round && (!last || v->lapCrossing.laterThan(last->lapCrossing)))
                last = v;
        }
        Vehicle* out = behind ? behind : last;
        if (inRace < 2 || done < inRace - 1 || !out)
            return;
        ++knockOuts;
        // Last among those in the race: the standings with this frame's laps,
        // and those behind it moved up one.
        rankVehicles();
        int32_t lastPlace = out->place;
        for (auto* node = vehicles.head(); node; node = node->next) {
            Vehicle* v = node->item;
            if (v == out || !inTheRace(v) || v->place < out->place)
                continue;
            lastPlace = std::max(lastPlace, v->place);
            v->place -= 1;
        }
        out->place = lastPlace;
        out->knockedOut = 1;
        // A level with fewer slots than quads knocked out leaves it where it
        // stands; it is out all the same.
        out->parkingSlot = findFreeParkingSlot();
        if (out->isPlayer)
            out->finish();
    }
}

Game::Vehicle* Game::findRival(const Vehicle& vehicle, bool aheadOnly, float minCosine) const
{
    const EntityManager::Entity* own = vehicle.entity();
    if (!own)
        return nullptr;
    const bool pointsMode = choice.gameMode == CaptureTheFlag || choice.gameMode == Jamboree;
    const bool ahead = aheadOnly || pointsMode;
    const vec3d p = translationOf(own->world);
    const vec3d forward = vec3d(own->world.m[8], own->world.m[9], own->world.m[10]).normalised();

    Vehicle* nearest = nullptr;
    Vehicle* kept = nullptr;
    float nearestSq = 0.0f;
    float keptSq = 0.0f;
    for (auto* node = vehicles.head(); node; node = node->next) {
        Vehicle* other = node->item;
        const EntityManager::Entity* entity = other && other != &vehicle ? other->entity() : nullptr;
        if (!entity)
            continue;
        const vec3d d = translationOf(entity->world) - p;
        const float dSq = d.lengthSq();
        if (!nearest || dSq < nearestSq) {
            nearest = other;
            nearestSq = dSq;
        }
        bool candidate = false;
        if (ahead) {
            candidate = d.normalised().dot(forward) > minCosine;
        } else {
            candidate = other->place < vehicle.place;
        }
        if (candidate && (!kept || dSq < keptSq)) {
            kept = other;
            keptSq = dSq;
        }
    }
    if (kept)
        return kept;
    return aheadOnly ? nullptr : nearest;
}
