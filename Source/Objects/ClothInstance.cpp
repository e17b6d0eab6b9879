#include "Objects/Cloths.h"

#include "Objects/DynObject.h"

#include "Entity/Entity.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

using Cloths = ObjPkgManager::Functions::Cloths;
using Instance = Cloths::Instance;

static_assert(sizeof(Instance::Vertex) == 32, "position, normal and one texture coordinate pair");

constexpr std::memory_order relaxed = std::memory_order_relaxed;

vec3d unitOrZero(const vec3d& v)
{
    const float lengthSq = v.lengthSq();
    return lengthSq > 0.0f ? v * (1.0f / fastSqrt(lengthSq)) : vec3d();
}

bool finite(const vec3d& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

vec3d loadVector(const std::atomic<float> (&words)[3])
{
    return {words[0].load(relaxed), words[1].load(relaxed), words[2].load(relaxed)};
}

void storeVector(std::atomic<float> (&words)[3], const vec3d& v)
{
    words[0].store(v.x, relaxed);
    words[1].store(v.y, relaxed);
    words[2].store(v.z, relaxed);
}

// A template value the editor's page may store while the worker steps.
float live(const float& field)
{
    return std::atomic_ref<float>(const_cast<float&>(field)).load(relaxed);
}

bool inside(const Cloths::GridPoint& p, int32_t columns, int32_t rows)
{
    return p.column >= 0 && p.column < columns && p.row >= 0 && p.row < rows;
}

}

ObjPkgManager::Functions::Cloths::Instance::Instance(Cloths* cloths, D3D::Device::SwapChain* swapChain,
                                                     EntityManager::Entity* ownerEntity)
    : clothTemplate(cloths), chain(swapChain), owner(ownerEntity)
{
    CRASH_TRACE();
    manager = cloths->threads;
    material = cloths->material;
    for (auto& word : ownerPosition)
        word.store(0.0f, relaxed);
    for (auto& word : ownerInverse)
        word.store(0.0f, relaxed);
    storeVector(boundsMinimum, {});
    storeVector(boundsMaximum, {});
    observeOwner();
    if (!build(true))
        return;
    step(true);
    attach();
}

ObjPkgManager::Functions::Cloths::Instance::~Instance()
{
    release(true);
    texture.release();
    indices.deleteArray();
    // A later grid change of the editor must not reach this cloth.
    if (clothTemplate && clothTemplate->edited == this)
        clothTemplate->edited = nullptr;
}

bool ObjPkgManager::Functions::Cloths::Instance::build(bool first)
{
    CRASH_TRACE();
    // The worker must not step a grid that is being replaced; it stays held
    // until the camera step resumes it.
    if (!first && manager)
        manager->holdForListChange();
    release(first);

    const Cloths& t = *clothTemplate;
    columns = std::clamp(t.columns, minGrid, maxGrid);
    rows = std::clamp(t.rows, minGrid, maxGrid);
    windFromMotion.store(t.windFromMotion, relaxed);
    const int32_t cells = (columns - 1) * (rows - 1);
    const size_t count = size_t(columns) * size_t(rows);

    workingRecords.reset(new (std::nothrow) Particle[count]());
    bufferA.reset(new (std::nothrow) Particle[count]());
    bufferB.reset(new (std::nothrow) Particle[count]());
    vertices.reset(new (std::nothrow) Vertex[2 * count]());
    if (!workingRecords || !bufferA || !bufferB || !vertices || !indices.resize(12 * cells)) {
        release(false);
        columns = rows = 0;
        return false;
    }

    const int32_t n = columns * rows;
    uint16_t* index = indices.data();
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < columns; ++c) {
            vec3d at;
            if (t.plane == planeX)
                at = {0.0f, float(c), float(r)};
            else if (t.plane == planeHorizontal)
                at = {float(c), 0.0f, float(r)};
            else
                at = {float(c), float(r), 0.0f};
            const GridPoint point{c, r};
            bool pinned = !t.pinLine && (point == t.pinA || point == t.pinB);
            if (!pinned)
                pinned = point == t.pinC || point == t.pinD;
            Particle& p = working(c, r);
            p.position = at;
            p.pinned = pinned ? 1 : 0;
            bufferA[size_t(c) * rows + r] = p;
            bufferB[size_t(c) * rows + r] = p;
            if (c < columns - 1 && r < rows - 1) {
                const int32_t i = columns * r + c, below = i + columns;
                const int32_t front[6] = {i + 1, i, below, i + 1, below, below + 1};
                for (int32_t k : front)
                    *index++ = uint16_t(k);
            }
            const float u = float(c) / float(columns - 1), v = float(rows - r - 1) / float(rows - 1);
            vertices[columns * r + c].uv = {u, v};
            vertices[n + columns * r + c].uv = {1.0f - u, v};
        }
    for (int32_t r = 0; r + 1 < rows; ++r)
        for (int32_t c = 0; c + 1 < columns; ++c) {
            const int32_t i = n + columns * r + c, below = i + columns;
            const int32_t back[6] = {i, i + 1, below, below, i + 1, below + 1};
            for (int32_t k : back)
                *index++ = uint16_t(k);
        }
    indexCount = 12 * cells;

    // A missing or damaged image leaves the stand-in texture.
    texture.release();
    if (clothTemplate->image.size() > 0) {
        clothTemplate->image.seek(0, 0);
        constexpr uint32_t fromFile = D3DX_DEFAULT;
        Texture::loadFromMemory(clothTemplate->image, nullptr, texture, t.textureName, fromFile, fromFile, fromFile,
                                D3DFMT_UNKNOWN, D3DPOOL_MANAGED, fromFile);
    }
    if (t.pinLine)
        pinLine();
    return true;
}

void ObjPkgManager::Functions::Cloths::Instance::release(bool leave)
{
    // Leaving does not wait for a grid: a cloth whose rebuild ran out of
    // memory is still on the worker's list.
    if (leave)
        detach();
    workingRecords.reset();
    bufferA.reset();
    bufferB.reset();
    vertices.reset();
    indexCount = 0;
}

void ObjPkgManager::Functions::Cloths::Instance::pinLine()
{
    GridPoint a = clothTemplate->pinA, b = clothTemplate->pinB;
    if (!workingRecords || !inside(a, columns, rows) || !inside(b, columns, rows))
        return;
    if (b.row < a.row)
        std::swap(a, b);
    working(a.column, a.row).pinned = 1;
    const int32_t dc = b.column - a.column, dr = b.row - a.row;
    const bool alongRows = dr >= std::abs(dc);
    const int32_t majorSpan = alongRows ? dr : std::abs(dc);
    const int32_t minorSpan = alongRows ? std::abs(dc) : dr;
    const int32_t majorStep = alongRows ? 1 : (dc < 0 ? -1 : 1);
    const int32_t minorStep = alongRows ? (dc < 0 ? -1 : 1) : 1;
    int32_t major = alongRows ? a.row : a.column;
    int32_t minor = alongRows ? a.column : a.row;
    int32_t error = 2 * minorSpan - majorSpan;
    for (int32_t i = 0; i < majorSpan; ++i) {
        if (error >= 0) {
            minor += minorStep;
            error -= 2 * majorSpan;
        }
        error += 2 * minorSpan;
        major += majorStep;
        if (alongRows)
            working(minor, major).pinned = 1;
        else
            working(major, minor).pinned = 1;
    }
}

void ObjPkgManager::Functions::Cloths::Instance::observeOwner()
{
    if (!owner)
        return;
    const matrix3d& w = owner->world;
    const vec3d at = w.row(3);
    ownerPosition[0].store(at.x, relaxed);
    ownerPosition[1].store(at.y, relaxed);
    ownerPosition[2].store(at.z, relaxed);
    matrix3d turn = w;
    turn.setRow(3, {});
    matrix3d inverse = matrix3d::identity();
    const bool invertible = turn.inverseAffine(inverse);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            ownerInverse[r * 3 + c].store(inverse.m[r * 4 + c], relaxed);
    ownerInvertible.store(invertible ? 1 : 0, relaxed);

    bool shown = true;
    if (chain) {
        const vec3d away = at - chain->position;
        shown = chain->frustum.classifyOrientedBox(owner->worldBox) != 4 &&
                !(away.lengthSq() > stepDistance * stepDistance);
    }
    inView.store(shown ? 1 : 0, std::memory_order_release);
}

vec3d ObjPkgManager::Functions::Cloths::Instance::windVector(float windK, float angle)
{
    if (!windFromMotion.load(relaxed))
        return {std::cos(angle) * windK, 0.0f, std::sin(angle) * windK};
    if (!owner)
        return {};
    const vec3d at = loadVector(ownerPosition);
    const vec3d moved = (at - previousOwnerPosition) * 1.5f;
    previousOwnerPosition = at;
    // A singular rotation has no frame to carry the motion into.
    if (!ownerInvertible.load(relaxed))
        return {};
    float m[9];
    for (int i = 0; i < 9; ++i)
        m[i] = ownerInverse[i].load(relaxed);
    vec3d d{moved.x * m[0] + moved.y * m[3] + moved.z * m[6], moved.x * m[1] + moved.y * m[4] + moved.z * m[7],
            moved.x * m[2] + moved.y * m[5] + moved.z * m[8]};
    float length = 0.0f;
    const float lengthSq = d.lengthSq();
    if (lengthSq > 0.0f) {
        length = fastSqrt(lengthSq);
        d = d * (1.0f / length);
    }
    length = std::min(length, 1.3f);
    return d * (-length * windK);
}

void ObjPkgManager::Functions::Cloths::Instance::step(bool first)
{
    if (!vertices || columns < minGrid || rows < minGrid)
        return;
    if (!first && owner && !inView.load(std::memory_order_acquire))
        return;
    const Cloths& t = *clothTemplate;
    const float windK = live(t.windStrength) * 0.018f;
    const float angle = std::sin(phase) * 0.3f + live(t.windAngle) * (3.14159265f / 180.0f);
    const float gravityY = live(t.gravity) / 9.81f * -0.005f;
    const float dampK = live(t.damping) * 0.03f;
    const Particle* read = (stamp & 1) ? bufferB.get() : bufferA.get();
    Particle* write = (stamp & 1) ? bufferA.get() : bufferB.get();
    const vec3d wind = windVector(windK, angle);
    phase += 0.005f;

    const int32_t w = columns, h = rows, n = w * h;
    Particle* records = workingRecords.get();
    for (int32_t r = 0; r < h; ++r) {
        const bool lastRow = r == h - 1;
        const int32_t below = lastRow ? h - 2 : r + 1;
        const int32_t r0 = std::max(r - linkRadius, 0), r1 = std::min(r + linkRadius, h - 1);
        for (int32_t c = 0; c < w; ++c) {
            const bool lastColumn = c == w - 1;
            const int32_t right = lastColumn ? w - 2 : c + 1;
            Particle& p = records[c * h + r];
            const Particle& q = read[c * h + r];

            // Past the last column or row the neighbour lies behind: the
            // cross product turns over once, and back again with both.
            vec3d normal = (read[right * h + r].position - q.position).cross(read[c * h + below].position - q.position);
            if (lastColumn != lastRow)
                normal = -normal;
            p.normal = unitOrZero(normal);

            if (!p.pinned) {
                vec3d force(0.0f, gravityY, 0.0f);
                const int32_t c0 = std::max(c - linkRadius, 0), c1 = std::min(c + linkRadius, w - 1);
                for (int32_t cn = c0; cn <= c1; ++cn) {
                    const int32_t dc = cn - c;
                    const Particle* column = read + cn * h;
                    for (int32_t rn = r0; rn <= r1; ++rn) {
                        const int32_t dr = rn - r;
                        if (dc == 0 && dr == 0)
                            continue;
                        const Particle& other = column[rn];
                        const vec3d d = other.position - q.position;
                        Link& link = p.links[12 + 5 * dc + dr];
                        // Each pair once per step: the first of the two
                        // writes the pull into both.
                        if (link.stamp != stamp) {
                            const Spring& s = t.rest[std::abs(dc) * 5 + std::abs(dr)];
                            link.k = (fastSqrt(d.lengthSq()) - s.restLength) * s.stiffness;
                            link.stamp = stamp;
                            records[cn * h + rn].links[12 - 5 * dc - dr] = link;
                        }
                        force += d * link.k - (q.dampedVelocity - other.dampedVelocity);
                    }
                }
                const vec3d push = p.normal * wind.dot(p.normal);
                p.velocity += push;
                records[right * h + r].velocity += push;
                records[c * h + below].velocity += push;
                force.x = std::clamp(force.x, -0.1f, 0.1f);
                force.y = std::clamp(force.y, -0.1f, 0.1f);
                force.z = std::clamp(force.z, -0.1f, 0.1f);
                p.velocity += force;
                p.velocity -= p.velocity * 0.01f;
                p.dampedVelocity = p.velocity * dampK;
                p.position += p.velocity;
            }

            const int32_t rightVertex = lastColumn ? w - 1 : c + 1;
            const int32_t belowVertex = lastRow ? h - 1 : r + 1;
            const vec3d smooth =
                (records[rightVertex * h + r].normal + p.normal + records[c * h + belowVertex].normal) / 3.0f;
            // The particles' normals point to the side the back face shows
            // (the front cells wind clockwise seen from the other side): each
            // face is lit by the normal of the side it is seen from.
            Vertex& front = vertices[w * r + c];
            Vertex& back = vertices[n + w * r + c];
            front.position = back.position = p.position * 0.1f;
            front.normal = -smooth;
            back.normal = smooth;
            write[c * h + r] = p;
        }
    }

    const vec3d corners[4] = {vertices[0].position, vertices[w - 1].position, vertices[n - 1].position,
                              vertices[(h - 1) * w].position};
    vec3d low = corners[0], high = corners[0];
    for (const vec3d& v : corners) {
        low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
        high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
    }
    const vec3d margin(0.1f, 0.1f, 0.1f);
    storeVector(boundsMinimum, low - margin);
    storeVector(boundsMaximum, high + margin);
    ++stamp;
}

void ObjPkgManager::Functions::Cloths::Instance::bounds(vec3d& minimum, vec3d& maximum) const
{
    minimum = loadVector(boundsMinimum);
    maximum = loadVector(boundsMaximum);
}

void ObjPkgManager::Functions::Cloths::Instance::updateBounds()
{
    CRASH_TRACE();
    observeOwner();
    if (!owner || !vertices)
        return;
    vec3d low, high;
    bounds(low, high);
    // A cloth blown apart by absurd settings must not carry its owner's
    // boxes (and its cells) to infinity.
    if (!finite(low) || !finite(high))
        return;
    const vec3d centre = (low + high) * 0.5f, half = (high - low) * 0.5f;
    const matrix3d& placement = clothTemplate->placement;
    const vec3d carried = placement.transformPoint(centre);
    vec3d extent;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            extent[j] += std::fabs(placement.row(i)[j]) * half[i];
    const vec3d minimum = carried - extent, maximum = carried + extent;

    BoundingBox& box = owner->localBox;
    bool grew = false;
    if (box.maximum == box.minimum) {
        box.minimum = minimum;
        box.maximum = maximum;
        box.center = carried;
        grew = true;
    } else {
        const vec3d low2{std::min(box.minimum.x, minimum.x), std::min(box.minimum.y, minimum.y),
                         std::min(box.minimum.z, minimum.z)};
        const vec3d high2{std::max(box.maximum.x, maximum.x), std::max(box.maximum.y, maximum.y),
                          std::max(box.maximum.z, maximum.z)};
        grew = !(low2 == box.minimum) || !(high2 == box.maximum);
        box.minimum = low2;
        box.maximum = high2;
        box.center = (low2 + high2) * 0.5f;
    }

    if (grew)
        owner->onMoved();

    // A sub-entity's box lies in the entity's frame, as the cloth's box now
    // does: the pole's box grows to hold the cloth, so the pole is not culled
    // while its cloth shows. (A sub-entity on a matrix of its own gets its
    // mesh's box back at each placement; the entity's box keeps the cloth.)
    OrientedBox cloth;
    cloth.center = carried;
    cloth.axes[0] = {1.0f, 0.0f, 0.0f};
    cloth.axes[1] = {0.0f, 1.0f, 0.0f};
    cloth.axes[2] = {0.0f, 0.0f, 1.0f};
    cloth.halfExtents = extent;
    for (auto* node = owner->subEntities.head(); node; node = node->next)
        if (node->item)
            node->item->localBox.extendToBox(cloth);
}

void ObjPkgManager::Functions::Cloths::Instance::setAlpha(float alpha)
{
    material.Diffuse.a = alpha;
    material.Ambient.a = alpha;
    material.Specular.a = alpha;
    material.Emissive.a = alpha;
}

void ObjPkgManager::Functions::Cloths::Instance::render(const matrix3d& transform)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || !vertices || indexCount == 0)
        return;
    const matrix3d world = clothTemplate->placement * transform;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
    d->SetMaterial(&material);
    TextureDevice::bindTexture(0, texture.texture());
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    if (material.Power > 0.0f)
        d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    if (material.Ambient.a < 1.0f) {
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    d->SetFVF(vertexFormat);
    const UINT triangles = UINT(indexCount / 3);
    d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, UINT(2 * columns * rows), triangles, indices.data(),
                              D3DFMT_INDEX16, vertices.get(), sizeof(Vertex));
    gDirectGraphics.record.primitiveCount += triangles;

    d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
}
