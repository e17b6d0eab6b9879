// The terrain's patches, quadtree and tiles, and the level-of-detail pass
// that gives patches in view their detail records.
#include "Landscape/Terrain.h"

#include "Render/Camera.h"
#include "Render/Light.h"
#include "Render/SwapChain.h"
#include "Render/TextureProj.h"
#include "Way/WayNetwork.h"

#include "Core/CrashTrace.h"
#include "Core/HeightSurface.h"
#include "Core/Math.h"

#include <cmath>
#include <new>

namespace {

float squareDistance(const vec3d& a, const vec3d& b) { return (a - b).lengthSq(); }

void setBounds(Terrain::Quadtree& node)
{
    node.centre = (node.minimum + node.maximum) * 0.5f;
    node.radiusSq = (node.maximum - node.centre).lengthSq();
    node.radius = floatSqrt(node.radiusSq);
}

}

void Terrain::buildPatches(const std::vector<float>& ranges)
{
    const int32_t n = patchesPerSide;
    const float cell = float(patchCells) * horizontalScale;
    patches.assign(size_t(patchCount), Patch{});
    patchRanges = ranges;
    root = Quadtree{};
    root.items.resize(size_t(patchCount));
    std::vector<float> heightRanges(size_t(patchCount) * 2);
    root.minimum = {FLT_MAX, FLT_MAX, FLT_MAX};
    root.maximum = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    for (int32_t p = 0; p < patchCount; ++p) {
        const int32_t r = p / n, c = p % n;
        const vec3d low{float(r - n / 2) * cell, (ranges[2 * p] + bottomMargin) * verticalScale,
                        float(n / 2 - c - 1) * cell};
        const vec3d high{low.x + cell, ranges[2 * p + 1] * verticalScale, low.z + cell};
        Patch& patch = patches[size_t(p)];
        patch.index = p;
        patch.centre = (low + high) * 0.5f;
        heightRanges[2 * p] = low.y;
        heightRanges[2 * p + 1] = high.y;
        root.items[size_t(p)] = p;
        for (int axis = 0; axis < 3; ++axis) {
            root.minimum[axis] = std::fmin(root.minimum[axis], low[axis]);
            root.maximum[axis] = std::fmax(root.maximum[axis], high[axis]);
        }
    }
    setBounds(root);
    box.center = root.centre;
    box.radius = root.radius;
    box.radiusSq = root.radiusSq;
    box.minimum = root.minimum;
    box.maximum = root.maximum;
    for (int32_t resolution = 0; resolution < 4; ++resolution) {
        const float cells = float(patchesPerSide * (4 << resolution));
        cellWidth[resolution] = (box.maximum.x - box.minimum.x) / cells;
        cellsPerUnit[resolution] = cells / (box.maximum.x - box.minimum.x);
    }
    buildTree(root, 0, heightRanges);
}

void Terrain::buildTree(Quadtree& node, int32_t depth, const std::vector<float>& heightRanges)
{
    if (node.items.size() <= 1 || depth > 24) {
        node.leaf = 1;
        for (int32_t p : node.items)
            patches[size_t(p)].leaf = &node;
        return;
    }
    const vec3d& mid = node.centre;
    for (int k = 0; k < 4; ++k) {
        Quadtree* child = new (std::nothrow) Quadtree;
        if (!child)
            continue;
        const bool highX = k == 1 || k == 3, highZ = k < 2;
        child->minimum = {highX ? mid.x : node.minimum.x, node.maximum.y, highZ ? mid.z : node.minimum.z};
        child->maximum = {highX ? node.maximum.x : mid.x, node.minimum.y, highZ ? node.maximum.z : mid.z};
        node.children[k] = child;
    }
    for (int32_t p : node.items) {
        const vec3d& centre = patches[size_t(p)].centre;
        const bool highX = centre.x >= mid.x, highZ = centre.z > mid.z;
        Quadtree* child = node.children[highZ ? (highX ? 1 : 0) : (highX ? 3 : 2)];
        if (!child)
            continue;
        child->items.push_back(p);
        child->minimum.y = std::fmin(child->minimum.y, heightRanges[2 * size_t(p)]);
        child->maximum.y = std::fmax(child->maximum.y, heightRanges[2 * size_t(p) + 1]);
    }
    for (Quadtree* child : node.children)
        if (child) {
            setBounds(*child);
            buildTree(*child, depth + 1, heightRanges);
        }
}

void Terrain::buildTiles()
{
    const int32_t n = patchesPerSide;
    tilesPerSide = n / tilePatches;
    const int32_t t = tilesPerSide;
    int32_t tileDepth = 0;
    while ((1 << (tileDepth + 1)) <= t)
        ++tileDepth;
    tiles.assign(size_t(t) * t, Tile{});
    const float width = (box.maximum.x - box.minimum.x) / float(t);

    auto assign = [&](auto& self, Quadtree& node, int32_t depth) -> void {
        if (depth == tileDepth || node.leaf) {
            const int32_t column = int32_t((node.centre.x - box.minimum.x) / width);
            const int32_t row = int32_t((node.centre.z - box.minimum.z) / width);
            auto clampIndex = [t](int32_t v) { return v < 0 ? 0 : v >= t ? t - 1 : v; };
            node.tile = &tiles[size_t(clampIndex(row) * t + clampIndex(column))];
            return;
        }
        for (Quadtree* child : node.children)
            if (child)
                self(self, *child, depth + 1);
    };
    assign(assign, root, 0);

    auto at = [&](int32_t row, int32_t column) { return &tiles[size_t(((row + t) % t) * t + (column + t) % t)]; };
    // Patch index of the patch at x index r and z index (from low z) pz.
    auto patchAt = [n](int32_t r, int32_t pz) { return r * n + (n - 1 - pz); };
    for (int32_t row = 0; row < t; ++row)
        for (int32_t column = 0; column < t; ++column) {
            Tile& tile = *at(row, column);
            tile.lowerRow = at(row - 1, column);
            tile.higherRow = at(row + 1, column);
            tile.lowerColumn = at(row, column - 1);
            tile.higherColumn = at(row, column + 1);
            const int32_t lowX = ((column - 1 + t) % t) * tilePatches + tilePatches - 1;
            const int32_t highX = ((column + 1) % t) * tilePatches;
            const int32_t lowZ = ((row - 1 + t) % t) * tilePatches + tilePatches - 1;
            const int32_t highZ = ((row + 1) % t) * tilePatches;
            for (int32_t k = 0; k < tilePatches; ++k) {
                tile.borderPatches.push_back(patchAt(lowX, row * tilePatches + k));
                tile.borderPatches.push_back(patchAt(highX, row * tilePatches + k));
                tile.borderPatches.push_back(patchAt(column * tilePatches + k, lowZ));
                tile.borderPatches.push_back(patchAt(column * tilePatches + k, highZ));
            }
        }
}

Terrain::Tile* Terrain::tileOf(const Patch& patch)
{
    if (tiles.empty())
        return nullptr;
    const int32_t n = patchesPerSide;
    const int32_t r = patch.index / n, pz = n - 1 - patch.index % n;
    return &tiles[size_t((pz / tilePatches) * tilesPerSide + r / tilePatches)];
}

void Terrain::startLod(D3D::Device::SwapChain* swapChain)
{
    CRASH_TRACE();
    if (swapChain) {
        startLod(static_cast<const Camera&>(*swapChain));
        swapChain->advanceLoadProcess(*this, 1.0f);
    }
}

void Terrain::startLod(const Camera& camera)
{
    if (!isLoaded() || !(camera.range > 0.0f))
        return;
    const float spread = float(highestLod - lowestLod + 1) * lodDistance / camera.range;
    lodFactor = spread * spread;
    lastLodCamera = camera.position;
    updateLod(root, camera.position, camera.range);
    limitLevels();
    refreshTexels();
}

void Terrain::update(const Camera& camera)
{
    CRASH_TRACE();
    if (!isLoaded())
        return;
    const float step = 0.005f * camera.range;
    ++updateCount;
    freeRestedRanges(false);
    if (squareDistance(camera.position, lastLodCamera) > step * step) {
        lastLodCamera = camera.position;
        updateLod(root, camera.position, camera.range);
        limitLevels();
    }
    assignProjections();
    refreshTexels();
}

void Terrain::updateLod(Quadtree& node, const vec3d& eye, float range)
{
    const float dx = node.centre.x - eye.x, dz = node.centre.z - eye.z;
    const float d2 = dx * dx + dz * dz;
    const bool outside = d2 > (range + node.radius) * (range + node.radius);
    const bool inside = !outside && range - node.radius > 0.0f && d2 < (range - node.radius) * (range - node.radius);
    if (Tile* tile = node.tile) {
        if (outside && tile->hasTextures()) {
            for (int32_t p : node.items)
                deleteDetail(patches[size_t(p)]);
            releaseTileTextures(*tile);
        } else if (!outside && !tile->hasTextures()) {
            createTileTextures(*tile);
        }
    }
    if (outside)
        return;
    if (inside || node.leaf) {
        for (int32_t p : node.items)
            patchLevel(patches[size_t(p)], eye);
        return;
    }
    for (Quadtree* child : node.children)
        if (child)
            updateLod(*child, eye, range);
}

void Terrain::patchLevel(Patch& patch, const vec3d& eye)
{
    const float metric = squareDistance(patch.centre, eye) * lodFactor;
    const int32_t v = metric < 1000.0f ? int32_t(metric) : 1000;
    int32_t level = v > 24 ? 5 : v > 15 ? 4 : v > 8 ? 3 : v > 3 ? 2 : v > 1 ? 1 : v;
    level = level < lowestLod ? lowestLod : level > highestLod ? highestLod : level;
    patch.level = level;
    const int32_t n = patchesPerSide, p = patch.index;
    auto flag = [level](const Patch* neighbour) {
        return !neighbour || neighbour->level == level ? 1 : neighbour->level < level ? 2 : 0;
    };
    patch.leftFlag = flag(p % n ? &patches[size_t(p - 1)] : nullptr);
    patch.lowerFlag = flag(p >= n ? &patches[size_t(p - n)] : nullptr);
    if (!patch.detail)
        setupPatch(patch);
    PatchData* data = patch.detail;
    if (data && level > 2 && data->range)
        retireRange(data->range);
}

void Terrain::retireRange(BufferRange*& range)
{
    if (range)
        restingRanges.push_back({range, updateCount});
    range = nullptr;
}

void Terrain::freeRestedRanges(bool all)
{
    size_t kept = 0;
    for (const RestingRange& resting : restingRanges)
        if (all || updateCount - resting.frame >= rangeRestFrames)
            BufferPool::freeRange(*resting.range->pool, resting.range);
        else
            restingRanges[kept++] = resting;
    restingRanges.resize(kept);
}

void Terrain::addTexProj(TextureProj* projection)
{
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item == projection)
            return;
    projections.append(projection);
}

void Terrain::removeTexProj(TextureProj* projection)
{
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item == projection) {
            projections.unlink(node);
            return;
        }
}

void Terrain::assignProjections()
{
    for (int32_t p : detailed)
        patches[size_t(p)].detail->projectionCount = 0;
    if (!isLoaded())
        return;
    DynArray<Quadtree*> stack(64);
    for (auto* node = projections.head(); node; node = node->next) {
        TextureProj* projection = node->item;
        if (!projection || projection->disabled)
            continue;
        int32_t depth = 0;
        *stack.at(depth++) = &root;
        while (depth > 0) {
            Quadtree* tree = *stack.at(--depth);
            if (projection->volume.classifyBox(tree->minimum, tree->maximum) == ConvexVolume::outside)
                continue;
            if (tree->leaf) {
                for (int32_t p : tree->items)
                    if (PatchData* data = patches[size_t(p)].detail)
                        if (TextureProj** slot = data->projections.at(data->projectionCount)) {
                            *slot = projection;
                            ++data->projectionCount;
                        }
                continue;
            }
            for (Quadtree* child : tree->children)
                if (Quadtree** slot = child ? stack.at(depth) : nullptr) {
                    *slot = child;
                    ++depth;
                }
        }
    }
}

void Terrain::limitLevels()
{
    // The distance rule can put neighbours two levels apart (patches are wide
    // where the level bands are narrow), and the stitching joins only
    // neighbours one level apart: such a patch is made finer until no
    // neighbour in view is more than one level finer than it.
    const int32_t n = patchesPerSide;
    auto neighbour = [&](int32_t p, int k) -> const Patch* {
        const int32_t r = p / n, c = p % n;
        const int32_t q = k == 0 ? (c > 0 ? p - 1 : -1) : k == 1 ? (c < n - 1 ? p + 1 : -1)
                        : k == 2 ? (r > 0 ? p - n : -1) : (r < n - 1 ? p + n : -1);
        return q >= 0 && patches[size_t(q)].detail ? &patches[size_t(q)] : nullptr;
    };
    for (int pass = 0; pass <= coarsestLod; ++pass) {
        bool changed = false;
        for (int32_t p : detailed) {
            Patch& patch = patches[size_t(p)];
            for (int k = 0; k < 4; ++k)
                if (const Patch* other = neighbour(p, k); other && patch.level > other->level + 1) {
                    patch.level = other->level + 1;
                    changed = true;
                }
        }
        if (!changed)
            break;
    }
    for (int32_t p : detailed) {
        Patch& patch = patches[size_t(p)];
        auto flag = [&](const Patch* other) {
            return !other || other->level == patch.level ? 1 : other->level < patch.level ? 2 : 0;
        };
        patch.leftFlag = flag(p % n ? &patches[size_t(p - 1)] : nullptr);
        patch.lowerFlag = flag(p >= n ? &patches[size_t(p - n)] : nullptr);
        PatchData* data = patch.detail;
        if (patch.level > 2 && data->range)
            retireRange(data->range);
    }
}

void Terrain::setupPatch(Patch& patch)
{
    PatchData* data = new (std::nothrow) PatchData;
    if (!data)
        return;
    const int32_t n = patchesPerSide, p = patch.index;
    const int32_t r = p / n, c = p % n, pz = n - 1 - c;
    data->lower = p >= n ? &patches[size_t(p - n)] : nullptr;
    data->left = p % n ? &patches[size_t(p - 1)] : nullptr;
    data->x0 = (r - n / 2) * patchCells;
    data->z0 = (n / 2 - c) * patchCells;
    data->tu = float(data->x0 + 16 * n - 1024 * (r / tilePatches));
    data->tv = float(data->z0 + 16 * n - 1024 * (pz / tilePatches));
    data->tile = tileOf(patch);
    fillHeights(patch, data->heights);
    colourPatch(*data, patch);
    computeNormals(*data, patch);
    data->light.init(0.78f);
    const LightRecord& sun = currentSun();
    data->light.trackSunChange(sun.direction, sun.diffuse, sun.ambient);
    data->slot = int32_t(detailed.size());
    detailed.push_back(p);
    patch.detail = data;
    lightPatch(*data);
    waiting.push_back(p);
}

void Terrain::deleteDetail(Patch& patch)
{
    PatchData* data = patch.detail;
    if (!data)
        return;
    retireRange(data->range);
    // The last entry of the list takes the place of the one that goes.
    const int32_t moved = detailed.back();
    detailed[size_t(data->slot)] = moved;
    patches[size_t(moved)].detail->slot = data->slot;
    detailed.pop_back();
    delete data;
    patch.detail = nullptr;
}

float Terrain::surfaceHeight(const Patch& patch, int32_t gx, int32_t gs) const
{
    const int32_t n = patchesPerSide;
    if (patch.detail && gx >= 0 && gx < gridPoints && gs >= 0 && gs < gridPoints)
        return patch.detail->heights[gx][gs];
    const int32_t fi = patch.index / n * patchCells + gx, fs = patch.index % n * patchCells + gs;
    float height = HeightSurface::height(heights.data(), size, fi, fs);
    // Beyond the patch's grid the ways' hollows are taken at the point.
    if (patch.leaf)
        gWayNetwork.applyHollow(box.minimum.x + float(fi) * horizontalScale,
                                box.maximum.z - float(fs) * horizontalScale, height);
    return height;
}

BoundingBox Terrain::patchBox(const Patch& patch) const
{
    const int32_t n = patchesPerSide;
    const float cell = float(patchCells) * horizontalScale;
    BoundingBox b;
    b.minimum = {float(patch.index / n - n / 2) * cell, patch.leaf ? patch.leaf->minimum.y : -FLT_MAX,
                 float(n / 2 - patch.index % n - 1) * cell};
    b.maximum = {b.minimum.x + cell, patch.leaf ? patch.leaf->maximum.y : FLT_MAX, b.minimum.z + cell};
    b.center = (b.minimum + b.maximum) * 0.5f;
    return b;
}

void Terrain::fillHeights(const Patch& patch, float grid[gridPoints][gridPoints]) const
{
    const int32_t n = patchesPerSide;
    const int32_t i0 = patch.index / n * 4, j0 = patch.index % n * 4;
    for (int32_t ci = 0; ci < 4; ++ci)
        for (int32_t cj = 0; cj < 4; ++cj) {
            float control[16];
            HeightSurface::controlHeights(heights.data(), size, i0 + ci, j0 + cj, control);
            for (int32_t si = 0; si <= 8; ++si)
                for (int32_t sj = 0; sj <= 8; ++sj)
                    grid[8 * ci + si][8 * cj + sj] = HeightSurface::sample(control, si, sj);
        }
    gWayNetwork.hollowHeightGrid(grid, patchBox(patch));
}

void Terrain::computeNormals(PatchData& data, const Patch& patch) const
{
    // Heights from 3 fine cells before the patch's corner to 35 after it.
    float window[39][39];
    for (int32_t gx = 0; gx < 39; ++gx)
        for (int32_t gs = 0; gs < 39; ++gs) {
            const int32_t x = gx - 3, s = gs - 3;
            window[gx][gs] = x >= 0 && x < gridPoints && s >= 0 && s < gridPoints ? data.heights[x][s]
                                                                                   : surfaceHeight(patch, x, s);
        }
    // Sums of the 7 x 7 heights around every second fine point; i along x,
    // j along z from the patch's low-z edge.
    float sums[17][17];
    for (int32_t i = 0; i <= 16; ++i)
        for (int32_t j = 0; j <= 16; ++j) {
            const int32_t cx = 2 * i + 3, cs = 32 - 2 * j + 3;
            float sum = 0.0f;
            for (int32_t a = -3; a <= 3; ++a)
                for (int32_t b = -3; b <= 3; ++b)
                    sum += window[cx + a][cs + b];
            sums[i][j] = sum;
        }
    for (int32_t i = 0; i < 16; ++i)
        for (int32_t j = 0; j < 16; ++j) {
            const float dx = sums[i][j] - sums[i + 1][j];
            const float dz = sums[i][j] - sums[i][j + 1];
            const float length = floatSqrt(dx * dx + dz * dz + 4705.96f);
            data.normals[i][j] = vec3d{dx, 68.6f, dz} / length;
        }
}

void Terrain::createTileTextures(Tile& tile)
{
    tile.inRange = true;
    if (!gDevice)
        return;
    // Render targets: their texels are drawn in (a reset re-creates them).
    // A device without 16-bit light targets gets 32-bit ones.
    if (!tile.light &&
        FAILED(gDevice->CreateTexture(tileTexels, tileTexels, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A4R4G4B4,
                                      D3DPOOL_DEFAULT, &tile.light, nullptr)))
        gDevice->CreateTexture(tileTexels, tileTexels, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                               &tile.light, nullptr);
    if (!tile.colour)
        gDevice->CreateTexture(tileTexels, tileTexels, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R5G6B5, D3DPOOL_DEFAULT,
                               &tile.colour, nullptr);
    // The neighbours' edge texels belong in this tile's first row and column.
    for (int32_t p : tile.borderPatches)
        if (PatchData* data = patches[size_t(p)].detail) {
            data->textureDirty = 1;
            data->lightDirty = 1;
            waiting.push_back(p);
        }
}

void Terrain::releaseTileTextures(Tile& tile)
{
    tile.inRange = false;
    dropPendingTexels(tile.light);
    dropPendingTexels(tile.colour);
    D3D::releaseInterface(tile.light);
    D3D::releaseInterface(tile.colour);
}
