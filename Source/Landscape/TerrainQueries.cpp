// Where the ground is: heights, segment hits, the lit colour and the
// triangles under the physics thread's query box.
#include "Landscape/Terrain.h"

#include "Entity/CollisionQuery.h"
#include "Render/Light.h"
#include "Way/WayNetwork.h"

#include "Core/HeightSurface.h"

#include <windows.h>

#include <cmath>
#include <new>

namespace {

thread_local vec3d lastNormal;

// Held by a query from another thread while it reads the ground; clear waits
// until none is held.
class RemoteQuery
{
public:
    RemoteQuery(std::atomic<int32_t>& count, bool remote) : count_(remote ? &count : nullptr)
    {
        if (count_)
            count_->fetch_add(1, std::memory_order_seq_cst);
    }
    ~RemoteQuery()
    {
        if (count_)
            count_->fetch_sub(1, std::memory_order_seq_cst);
    }
    RemoteQuery(const RemoteQuery&) = delete;
    RemoteQuery& operator=(const RemoteQuery&) = delete;

private:
    std::atomic<int32_t>* count_;
};

int32_t clampCell(float v, int32_t count)
{
    if (!(v >= 0.0f))
        return 0;
    return v >= float(count) ? count - 1 : int32_t(v);
}

float unit(float t) { return t < 0.0f ? 0.0f : t > 1.0f ? 1.0f : t; }

// The plane parameter at which the segment meets triangle abc from above; a
// negative value when it does not (from below, beside it, or outside 0 <= t < 1).
float hitTriangle(const vec3d& origin, const vec3d& direction, const vec3d& a, const vec3d& b, const vec3d& c,
                  vec3d& normal)
{
    vec3d n = (b - a).cross(c - a);
    if (n.y < 0.0f)
        n = -n;
    const float facing = n.dot(direction);
    if (!(facing < 0.0f))
        return -1.0f;
    const float t = n.dot(a - origin) / facing;
    if (!(t >= 0.0f && t < 1.0f))
        return -1.0f;
    const vec3d p = origin + direction * t;
    // Inside in the horizontal plane: the same side of all three edges.
    auto side = [&](const vec3d& u, const vec3d& v) { return (v.x - u.x) * (p.z - u.z) - (v.z - u.z) * (p.x - u.x); };
    const float s0 = side(a, b), s1 = side(b, c), s2 = side(c, a);
    const float tolerance = -1.0e-6f * ((b - a).lengthSq() + (c - a).lengthSq());
    const bool inside = (s0 >= tolerance && s1 >= tolerance && s2 >= tolerance) ||
                        (s0 <= -tolerance && s1 <= -tolerance && s2 <= -tolerance);
    if (!inside)
        return -1.0f;
    normal = n.normalised();
    return t;
}

}

vec3d Terrain::lastGroundNormal() { return lastNormal; }

bool Terrain::onOwnerThread() const { return GetCurrentThreadId() == ownerThread; }

void Terrain::cellCorners(int32_t fx, int32_t fz, int32_t resolution, bool useDetail, Hollows hollows, float corners[4],
                          HeightCache* cache) const
{
    const int32_t n = patchesPerSide;
    if (resolution == 0) {
        auto at = [&](int32_t i, int32_t s) {
            i = i > size - 1 ? size - 1 : i;
            s = s > size - 1 ? size - 1 : s;
            return float(heights[size_t(i) * size + s]) * HeightSurface::unit;
        };
        corners[0] = at(fx, size - fz);
        corners[1] = at(fx + 1, size - fz);
        corners[2] = at(fx, size - fz - 1);
        corners[3] = at(fx + 1, size - fz - 1);
        return;
    }
    const int32_t perPatch = 4 << resolution, step = 8 >> resolution;
    // A patch holds a power of two of cells: a shift divides the cells of
    // the terrain (never negative for a height query) without a division.
    const int32_t shift = 2 + resolution;
    const int32_t px = fx >= 0 ? fx >> shift : fx / perPatch, pz = fz >= 0 ? fz >> shift : fz / perPatch;
    int32_t p = (px + 1) * n - pz - 1;
    p = p < 0 ? 0 : p >= patchCount ? patchCount - 1 : p;
    const int32_t gx = (fx - px * perPatch) * step;
    const int32_t gsHigh = (perPatch - (fz - pz * perPatch) - 1) * step;
    if (const PatchData* data = useDetail ? patches[size_t(p)].detail : nullptr) {
        corners[0] = data->heights[gx][gsHigh + step];
        corners[1] = data->heights[gx + step][gsHigh + step];
        corners[2] = data->heights[gx][gsHigh];
        corners[3] = data->heights[gx + step][gsHigh];
        return;
    }
    const uint32_t generation = heightsGeneration.load(std::memory_order_relaxed);
    if (cache && cache->fx == fx && cache->fz == fz && cache->resolution == resolution &&
        cache->generation == generation) {
        for (int k = 0; k < 4; ++k)
            corners[k] = cache->corners[k];
        return;
    }
    // All four corners lie in one coarse cell.
    const int32_t fi = p / n * patchCells + gx, fs = p % n * patchCells + gsHigh;
    float control[16];
    HeightSurface::controlHeights(heights.data(), size, fi / 8, fs / 8, control);
    float square[4];
    HeightSurface::sampleSquare(control, fi % 8, fs % 8, step, square);
    corners[0] = square[1];
    corners[1] = square[3];
    corners[2] = square[0];
    corners[3] = square[2];
    if (hollows != Hollows::none) {
        // The ways' hollows at the corners, as a patch's grid has them: the
        // ground between them is the plane the grid's triangles draw and
        // the physics collides with, on whichever thread it is asked.
        if (cache)
            hollows = Hollows::all;
        const float w = cellWidth[resolution];
        const float x0 = box.minimum.x + float(fx) * w, z0 = box.minimum.z + float(fz) * w;
        const vec2d at[4] = {{x0, z0}, {x0 + w, z0}, {x0, z0 + w}, {x0 + w, z0 + w}};
        const int32_t first = hollows == Hollows::upperTriangle ? 1 : 0;
        const int32_t count = hollows == Hollows::all ? 4 : 3;
        gWayNetwork.applyHollows(at + first, corners + first, count);
    }
    if (cache) {
        *cache = {fx, fz, resolution, generation, {corners[0], corners[1], corners[2], corners[3]}};
    }
}

float Terrain::getHeight(float x, float z, int32_t resolution) const
{
    // Reaching a thread-local word costs more than the query's arithmetic on
    // some platforms: it is written once, after the query.
    vec3d normal;
    const float height = getHeight(x, z, resolution, normal);
    if (height != missing)
        lastNormal = normal;
    return height;
}

float Terrain::getHeight(float x, float z, int32_t resolution, vec3d& normal) const
{
    return getHeight(x, z, resolution, normal, nullptr);
}

float Terrain::getHeight(float x, float z, int32_t resolution, vec3d& normal, HeightCache* cache) const
{
    const bool owner = onOwnerThread();
    RemoteQuery hold(remoteQueries, !owner);
    if (!isLoaded() || !(x >= box.minimum.x && x <= box.maximum.x && z >= box.minimum.z && z <= box.maximum.z))
        return missing;
    resolution = resolution < 0 ? 0 : resolution > 3 ? 3 : resolution;
    const int32_t cells = patchesPerSide * (4 << resolution);
    const float w = cellWidth[resolution];
    const float u = (x - box.minimum.x) * cellsPerUnit[resolution], v = (z - box.minimum.z) * cellsPerUnit[resolution];
    const int32_t fx = clampCell(u, cells), fz = clampCell(v, cells);
    const float tx = unit(u - float(fx)), tz = unit(v - float(fz));
    // The cell's two triangles meet on the diagonal from its (low x, high z)
    // corner to its (high x, low z) corner; the corner outside the point's
    // triangle is replaced so that all four lie in its plane.
    const bool upper = tx + tz > 1.0f;
    float c[4];
    cellCorners(fx, fz, resolution, owner, upper ? Hollows::upperTriangle : Hollows::lowerTriangle, c, cache);
    if (upper)
        c[0] = c[2] + c[1] - c[3];
    else
        c[3] = c[2] + c[1] - c[0];
    const float height = ((1.0f - tx) * c[0] + tx * c[1]) * (1.0f - tz) + ((1.0f - tx) * c[2] + tx * c[3]) * tz;
    normal = {(c[0] - c[1]) * verticalScale, w, (c[0] - c[2]) * verticalScale};
    return height * verticalScale;
}

bool Terrain::intersectSegment(const vec3d& from, const vec3d& to, vec3d& hit)
{
    vec3d end = to;
    if (!intersectSegment(from, end, nullptr, 3))
        return false;
    hit = end;
    return true;
}

bool Terrain::intersectSegment(const vec3d& start, vec3d& end, float* distance, int32_t resolution) const
{
    const bool owner = onOwnerThread();
    RemoteQuery hold(remoteQueries, !owner);
    if (!isLoaded())
        return false;
    resolution = resolution < 0 ? 0 : resolution > 3 ? 3 : resolution;
    const vec3d lo = box.minimum, hi = box.maximum;
    if ((start.x < lo.x && end.x < lo.x) || (start.x > hi.x && end.x > hi.x) || (start.z < lo.z && end.z < lo.z) ||
        (start.z > hi.z && end.z > hi.z))
        return false;
    const vec3d direction = end - start;
    // The part of the segment over the terrain's rectangle.
    float t0 = 0.0f, t1 = 1.0f;
    for (int axis : {0, 2}) {
        const float d = direction[axis], o = start[axis];
        if (d == 0.0f) {
            if (o < lo[axis] || o > hi[axis])
                return false;
            continue;
        }
        float a = (lo[axis] - o) / d, b = (hi[axis] - o) / d;
        if (a > b)
            std::swap(a, b);
        t0 = a > t0 ? a : t0;
        t1 = b < t1 ? b : t1;
    }
    if (!(t0 <= t1))
        return false;

    const int32_t cells = patchesPerSide * (4 << resolution);
    const float w = (hi.x - lo.x) / float(cells);
    const vec3d first = start + direction * t0, last = start + direction * t1;
    int32_t fx = clampCell((first.x - lo.x) / w, cells), fz = clampCell((first.z - lo.z) / w, cells);
    const int32_t endX = clampCell((last.x - lo.x) / w, cells), endZ = clampCell((last.z - lo.z) / w, cells);
    const int32_t stepX = direction.x > 0.0f ? 1 : -1, stepZ = direction.z > 0.0f ? 1 : -1;
    auto crossing = [&](int axis, int32_t cell, int32_t step) {
        const float d = direction[axis];
        if (d == 0.0f)
            return FLT_MAX;
        const float border = lo[axis] + float(step > 0 ? cell + 1 : cell) * w;
        return (border - start[axis]) / d;
    };
    const float deltaX = direction.x != 0.0f ? w / std::fabs(direction.x) : FLT_MAX;
    const float deltaZ = direction.z != 0.0f ? w / std::fabs(direction.z) : FLT_MAX;
    float nextX = crossing(0, fx, stepX), nextZ = crossing(2, fz, stepZ);

    for (int32_t guard = 0; guard < 4 * cells + 4; ++guard) {
        float c[4];
        cellCorners(fx, fz, resolution, owner, Hollows::none, c);
        const float x0 = lo.x + float(fx) * w, z0 = lo.z + float(fz) * w;
        const vec3d lowLow{x0, c[0] * verticalScale, z0}, highLow{x0 + w, c[1] * verticalScale, z0};
        const vec3d lowHigh{x0, c[2] * verticalScale, z0 + w}, highHigh{x0 + w, c[3] * verticalScale, z0 + w};
        vec3d normalA, normalB;
        const float a = hitTriangle(start, direction, lowLow, highLow, lowHigh, normalA);
        const float b = hitTriangle(start, direction, lowHigh, highLow, highHigh, normalB);
        float t = -1.0f;
        vec3d normal;
        if (a >= 0.0f && (b < 0.0f || a <= b)) {
            t = a;
            normal = normalA;
        } else if (b >= 0.0f) {
            t = b;
            normal = normalB;
        }
        if (t >= 0.0f) {
            if (distance)
                *distance = direction.length() * t;
            end = start + direction * t;
            lastNormal = normal;
            return true;
        }
        if (fx == endX && fz == endZ)
            break;
        if (nextX < nextZ) {
            fx += stepX;
            nextX += deltaX;
        } else {
            fz += stepZ;
            nextZ += deltaZ;
        }
        if (fx < 0 || fx >= cells || fz < 0 || fz >= cells)
            break;
    }
    return false;
}

bool Terrain::sampleLight(float x, float z, uint32_t& colour) const
{
    if (!isLoaded() || !onOwnerThread() ||
        !(x >= box.minimum.x && x <= box.maximum.x && z >= box.minimum.z && z <= box.maximum.z))
        return false;
    const int32_t n = patchesPerSide;
    const float width = (box.maximum.x - box.minimum.x) / float(n);
    const float u = (x - box.minimum.x) / width, v = (z - box.minimum.z) / width;
    const int32_t px = clampCell(u, n), pz = clampCell(v, n);
    const PatchData* data = patches[size_t(px * n + n - 1 - pz)].detail;
    if (!data)
        return false;
    const int32_t i = clampCell((u - float(px)) * 16.0f, 16), j = clampCell((v - float(pz)) * 16.0f, 16);
    const LightRecord& sun = currentSun();
    const float lit = data->normals[i][j].dot(sun.direction);
    const float d = lit > 0.0f ? lit : 0.0f;
    const uint16_t texel = data->colours[i][j];
    const uint32_t r5 = texel >> 11, g6 = (texel >> 5) & 63, b5 = texel & 31;
    const uint32_t channels[3] = {r5 << 3 | r5 >> 2, g6 << 2 | g6 >> 4, b5 << 3 | b5 >> 2};
    const float ambient[3] = {material.Ambient.r * sun.ambient[0], material.Ambient.g * sun.ambient[1],
                              material.Ambient.b * sun.ambient[2]};
    const float diffuse[3] = {material.Diffuse.r * sun.diffuse[0], material.Diffuse.g * sun.diffuse[1],
                              material.Diffuse.b * sun.diffuse[2]};
    uint32_t result = uint32_t(255.0f * d) << 24;
    for (int k = 0; k < 3; ++k) {
        const float value = float(channels[k]) * (ambient[k] + (diffuse[k] - ambient[k]) * d);
        const uint32_t byte = value >= 255.0f ? 255u : value > 0.0f ? uint32_t(value) : 0u;
        result |= byte << (16 - 8 * k);
    }
    colour = result;
    return true;
}

const Terrain::CellCacheEntry* Terrain::cacheEntry(int32_t patch)
{
    CellCacheEntry* chosen = nullptr;
    for (CellCacheEntry* entry : cache)
        if (entry->patch == patch)
            return entry;
    if (cache.size() <= cacheLimit) {
        chosen = new (std::nothrow) CellCacheEntry;
        if (!chosen)
            return nullptr;
        cache.push_back(chosen);
    } else {
        chosen = cache.front();
        for (CellCacheEntry* entry : cache)
            if (entry->stamp < chosen->stamp)
                chosen = entry;
    }
    chosen->patch = patch;
    chosen->stamp = ++cacheStamp;
    fillHeights(patches[size_t(patch)], chosen->heights);
    return chosen;
}

void Terrain::cachePatchesInBox(CollisionQuery& query)
{
    RemoteQuery hold(remoteQueries, !onOwnerThread());
    if (!isLoaded())
        return;
    const int32_t n = patchesPerSide;
    const float width = (box.maximum.x - box.minimum.x) / float(n);
    const float cell = width / float(patchCells);
    const float firstX = std::floor((query.boxMin.x - box.minimum.x) / width);
    const float lastX = std::floor((query.boxMax.x - box.minimum.x) / width);
    const float firstZ = std::floor((query.boxMin.z - box.minimum.z) / width);
    const float lastZ = std::floor((query.boxMax.z - box.minimum.z) / width);
    if (!(lastX >= 0.0f && firstX <= float(n - 1) && lastZ >= 0.0f && firstZ <= float(n - 1)))
        return;
    auto clampPatch = [n](float v) { return v < 0.0f ? 0 : v > float(n - 1) ? n - 1 : int32_t(v); };
    auto clampPoint = [](float v, int32_t low, int32_t high) {
        return !(v >= float(low)) ? low : v > float(high) ? high : int32_t(v);
    };
    const float floorHeight = query.boxMin.y / verticalScale;
    for (int32_t px = clampPatch(firstX); px <= clampPatch(lastX); ++px)
        for (int32_t pz = clampPatch(firstZ); pz <= clampPatch(lastZ); ++pz) {
            const CellCacheEntry* entry = cacheEntry(px * n + n - 1 - pz);
            if (!entry)
                continue;
            const float xLow = box.minimum.x + float(px) * width, zHigh = box.minimum.z + float(pz + 1) * width;
            const int32_t column0 = clampPoint(std::floor((query.boxMin.x - xLow) / cell), 0, patchCells);
            const int32_t column1 = clampPoint(std::floor((query.boxMax.x - xLow) / cell) + 2.0f, 1, gridPoints);
            const int32_t row0 = clampPoint(std::floor((zHigh - query.boxMax.z) / cell), 0, patchCells);
            const int32_t row1 = clampPoint(std::floor((zHigh - query.boxMin.z) / cell) + 2.0f, 1, gridPoints);
            const auto& h = entry->heights;
            // Ground wholly below the box gives nothing. Its highest point
            // tells, not the range's corners: a ridge between them would
            // let the box into it.
            const auto reaches = [&] {
                for (int32_t column = column0; column < column1; ++column)
                    for (int32_t row = row0; row < row1; ++row)
                        if (h[column][row] >= floorHeight)
                            return true;
                return false;
            };
            if (!reaches())
                continue;
            const uint32_t base = query.vertexCount;
            const int32_t across = column1 - column0;
            for (int32_t row = row0; row < row1; ++row)
                for (int32_t column = column0; column < column1; ++column)
                    if (vec3d* vertex = query.vertices.at(int32_t(query.vertexCount)); vertex) {
                        *vertex = {xLow + float(column) * cell, h[column][row] * verticalScale,
                                   zHigh - float(row) * cell};
                        ++query.vertexCount;
                    }
            if (query.vertexCount != base + uint32_t(across * (row1 - row0)))
                return;
            auto at = [&](int32_t column, int32_t row) {
                return int32_t(base) + (row - row0) * across + (column - column0);
            };
            for (int32_t row = row0; row + 1 < row1; ++row)
                for (int32_t column = column0; column + 1 < column1; ++column) {
                    const int32_t highZLowX = at(column, row), highZHighX = at(column + 1, row);
                    const int32_t lowZLowX = at(column, row + 1), lowZHighX = at(column + 1, row + 1);
                    // Counter-clockwise from above, split like the height query.
                    const int32_t corners[2][3] = {{lowZLowX, highZLowX, lowZHighX}, {highZLowX, highZHighX, lowZHighX}};
                    for (const auto& triangle : corners) {
                        neTriangle* record = query.triangles.at(int32_t(query.triangleCount));
                        int* candidate = query.candidates.at(int32_t(query.triangleCount));
                        if (!record || !candidate)
                            return;
                        *record = neTriangle{};
                        for (int k = 0; k < 3; ++k)
                            record->indices[k] = triangle[k];
                        *candidate = int(query.triangleCount);
                        ++query.triangleCount;
                    }
                }
        }
}
