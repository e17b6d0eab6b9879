#include "Objects/OilPuddle.h"

#include "Objects/DynObject.h"
#include "Objects/ShaderSettings.h"

#include "Entity/Entity.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Race/RaceClock.h"
#include "Render/BufferPool.h"
#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <cmath>
#include <cstdlib>
#include <new>

namespace {

using OilPuddle = ObjPkgManager::Functions::OilPuddle;
using Point = OilPuddle::Instance::Point;
using Vertex = OilPuddle::Instance::Vertex;

constexpr float outlineShares[3] = {0.33333298563957214f, 0.6666659712791443f, 1.0f};
constexpr float surfaceLift = 0.7f;
constexpr float edgeDrop = 0.2f;
constexpr float frozenDrop = 0.5f;
constexpr float growthRate = 0.01f;
constexpr float sinkRate = 0.005f;
constexpr float sinkDepth = 2.0f;
constexpr int32_t detail = 3;

float randomUnit()
{
    return float(std::rand()) * 3.0518509447574615e-05f;
}

vec3d unitOrZero(const vec3d& v)
{
    const float lengthSq = v.lengthSq();
    return lengthSq > 0.0f ? v * (1.0f / std::sqrt(lengthSq)) : v;
}

// The seven points of a ribbon point in vertex order.
void corners(const Point& p, vec3d (&out)[OilPuddle::verticesPerPoint])
{
    out[0] = p.centre;
    for (int k = 0; k < 3; ++k) {
        out[1 + k] = p.left[k];
        out[4 + k] = p.right[k];
    }
}

// The downward ray against one triangle, one-sided: the distance along the
// ray, or false when the triangle faces away or the ray passes beside it.
bool rayHitsTriangle(const vec3d& origin, const vec3d& direction, const vec3d& a, const vec3d& b, const vec3d& c,
                     float& distance)
{
    const vec3d e1 = b - a, e2 = c - a;
    const vec3d p = direction.cross(e2);
    const float det = e1.dot(p);
    if (!(det > 0.0f))
        return false;
    const vec3d t = origin - a;
    const float u = t.dot(p);
    if (u < 0.0f || u > det)
        return false;
    const vec3d q = t.cross(e1);
    const float v = direction.dot(q);
    if (v < 0.0f || u + v > det)
        return false;
    distance = e2.dot(q) / det;
    return true;
}

}

ObjPkgManager::Functions::OilPuddle::OilPuddle(Record* owner) : record(owner)
{
    static constexpr int corner[trianglesPerSegment][3] = {
        {0, 1, 7}, {7, 1, 8}, {1, 2, 8},  {8, 2, 9},  {2, 3, 9},  {9, 3, 10},
        {6, 5, 13}, {13, 5, 12}, {5, 4, 12}, {12, 4, 11}, {4, 0, 11}, {11, 0, 7},
    };
    int32_t i = 0;
    for (int32_t s = 0; s < segments; ++s)
        for (const auto& triangle : corner)
            for (int k = 0; k < 3; ++k)
                indices[i++] = uint16_t(verticesPerPoint * s + triangle[k]);
    indexBuffer = createIndexBufferFrom(indices, indexCount);
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Specular = {0.3f, 0.3f, 0.3f, 1.0f};
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 10.0f;
}

ObjPkgManager::Functions::OilPuddle::~OilPuddle()
{
    if (indexBuffer)
        indexBuffer->Release();
}

bool ObjPkgManager::Functions::OilPuddle::load(FileInterface& stream)
{
    uint32_t tag = 0;
    bool cut = false;
    while (stream.readTag(tag, cut)) {
    }
    return !cut;
}

ObjectFuncInstInterface* ObjPkgManager::Functions::OilPuddle::createInstance(Scene* scene,
                                                                            D3D::Device::SwapChain* chain,
                                                                            DynObject* owner)
{
    return new (std::nothrow) Instance(*this, scene, chain, owner);
}

ObjPkgManager::Functions::OilPuddle::Instance::Instance(OilPuddle& templ, Scene* ownerScene,
                                                        D3D::Device::SwapChain* swapChain, DynObject* dynamic)
    : owningTemplate(&templ), scene(ownerScene), chain(swapChain), owner(dynamic),
      spillDeadline(raceNow() + spillMilliseconds), vertices(new (std::nothrow) Vertex[maxVertices]())
{
    if (!owner)
        return;
    // The points are kept relative to the owner's position only.
    const vec3d at = owner->world.row(3);
    owner->world = matrix3d::identity();
    owner->world.setRow(3, at);
    basePosition = at;
    if (owner->manager)
        owner->manager->listEntity(*owner);
}

ObjPkgManager::Functions::OilPuddle::Instance::~Instance()
{
    if (vertexBuffer)
        vertexBuffer->Release();
}

bool ObjPkgManager::Functions::OilPuddle::Instance::spill(bool frozen)
{
    if (!source || !owner || pointCount >= maxPoints)
        return false;
    Point& p = points[pointCount];
    p = Point{};
    const vec3d at = source->world.row(3);
    vec3d side = source->world.row(0);
    side.y = 0.0f;
    p.side = unitOrZero(side);
    p.frozen = frozen ? 1 : 0;
    p.leftWidth = 10.0f + 5.0f * randomUnit();
    p.rightWidth = 10.0f + 5.0f * randomUnit();
    p.growth = 0.0f;
    const float ground = gTerrain.getHeight(at.x, at.z, detail);
    p.normal = unitOrZero(Terrain::lastGroundNormal());
    p.centre = {at.x, frozen ? ground - frozenDrop : ground + surfaceLift, at.z};
    p.centre -= owner->world.row(3);
    for (int k = 0; k < 3; ++k)
        p.left[k] = p.right[k] = p.centre;
    ++pointCount;
    return true;
}

void ObjPkgManager::Functions::OilPuddle::Instance::grow(Point& p) const
{
    const vec3d origin = owner->world.row(3);
    for (int k = 0; k < 3; ++k) {
        p.left[k] = p.centre - p.side * (p.leftWidth * p.growth * outlineShares[k]);
        p.right[k] = p.centre + p.side * (p.rightWidth * p.growth * outlineShares[k]);
        const float lift = k < 2 ? surfaceLift : -edgeDrop;
        p.left[k].y = gTerrain.getHeight(p.left[k].x + origin.x, p.left[k].z + origin.z, detail) + lift - origin.y;
        p.right[k].y = gTerrain.getHeight(p.right[k].x + origin.x, p.right[k].z + origin.z, detail) + lift - origin.y;
    }
}

void ObjPkgManager::Functions::OilPuddle::Instance::updateLocalBox()
{
    // Every corner of every point: the sunk outer edges alone would leave
    // the box below the wheels that stand on the oil.
    vec3d low, high;
    for (int32_t i = 0; i < pointCount; ++i) {
        vec3d c[verticesPerPoint];
        corners(points[i], c);
        for (int32_t k = 0; k < verticesPerPoint; ++k) {
            if (i == 0 && k == 0) {
                low = high = c[0];
                continue;
            }
            low = {std::min(low.x, c[k].x), std::min(low.y, c[k].y), std::min(low.z, c[k].z)};
            high = {std::max(high.x, c[k].x), std::max(high.y, c[k].y), std::max(high.z, c[k].z)};
        }
    }
    localBox.minimum = low;
    localBox.maximum = high;
    localBox.center = (low + high) * 0.5f;
    localBox.radiusSq = (high - localBox.center).lengthSq();
    localBox.radius = fastSqrt(localBox.radiusSq);
}

void ObjPkgManager::Functions::OilPuddle::Instance::buildVertices()
{
    vertexCount = 0;
    if (!vertices)
        return;
    for (int32_t i = 0; i < pointCount && vertexCount + verticesPerPoint <= maxVertices; ++i) {
        const Point& p = points[i];
        vec3d c[verticesPerPoint];
        corners(p, c);
        for (int32_t k = 0; k < verticesPerPoint; ++k) {
            Vertex& v = vertices[vertexCount + k];
            v.position = c[k];
            v.normal = p.normal;
        }
        // The outer edges lean towards the centre.
        vertices[vertexCount + 3].normal = unitOrZero(p.centre - p.left[2]);
        vertices[vertexCount + 6].normal = unitOrZero(p.centre - p.right[2]);
        vertexCount += verticesPerPoint;
    }
}

void ObjPkgManager::Functions::OilPuddle::Instance::placeOwner()
{
    const vec3d origin = owner->world.row(3);
    worldBox = localBox;
    worldBox.center += origin;
    worldBox.minimum += origin;
    worldBox.maximum += origin;
    // The owner has no meshes: its local box is the puddle's, so that every
    // later placement of the owner keeps it.
    owner->localBox = localBox;
    owner->onMoved();
}

void ObjPkgManager::Functions::OilPuddle::Instance::update()
{
    CRASH_TRACE();
    if (!source || !owner)
        return;
    const float factor = gFrameFactor.load(std::memory_order_relaxed);
    if (!final) {
        if (pointCount == 0)
            spill(true);
        int32_t finished = 2; // the two frozen ends
        if (!spillEnded) {
            if (raceNow() > spillDeadline) {
                spill(true);
                spillEnded = 1;
            } else if (pointCount < growingLimit) {
                const vec3d dropper = source->world.row(3) - owner->world.row(3);
                if ((points[pointCount - 1].centre - dropper).lengthSq() > spillDistanceSq)
                    spill(false);
            }
        }
        for (int32_t i = 0; i < pointCount; ++i) {
            Point& p = points[i];
            if (p.frozen)
                continue;
            p.growth += factor * growthRate;
            if (p.growth > 1.0f) {
                p.growth = 1.0f;
                ++finished;
            }
            grow(p);
        }
        updateLocalBox();
        buildVertices();
        if (spillEnded && finished == pointCount) {
            final = 1;
            if (vertexCount > 0)
                vertexBuffer = createVertexBufferFrom(vertices.get(), uint32_t(vertexCount), sizeof(Vertex),
                                                      Vertex::format);
        }
    }

    if (state == sinking) {
        sinkProgress += factor * sinkRate;
        if (sinkProgress >= 1.0f) {
            sinkProgress = 1.0f;
            state = sunk;
        }
    }
    if (state != lying)
        owner->world.m[13] = (1.0f - sinkProgress) * basePosition.y + (basePosition.y - sinkDepth) * sinkProgress;
    placeOwner();
}

bool ObjPkgManager::Functions::OilPuddle::Instance::hitTest(const vec3d& point,
                                                            const EntityManager::Entity* tester) const
{
    if (!owner || pointCount < 2 || vertexCount < 2 * verticesPerPoint)
        return false;
    if (!final && tester == source)
        return false;
    for (int axis = 0; axis < 3; ++axis)
        if (!(point[axis] > worldBox.minimum[axis] && point[axis] <= worldBox.maximum[axis]))
            return false;
    // The vertices lie relative to the owner: so does the ray.
    const vec3d origin = owner->world.row(3);
    const vec3d start = point - origin + vec3d(0.0f, 1.0f, 0.0f);
    const vec3d down(0.0f, -1.0f, 0.0f);
    for (int32_t s = 0; s + 1 < pointCount; ++s) {
        // A segment whose corners do not surround the wheel across holds no
        // triangle under it.
        const int32_t first = verticesPerPoint * s;
        if (first + 2 * verticesPerPoint > vertexCount)
            break;
        bool left = false, right = false, behind = false, ahead = false;
        for (int32_t k = 0; k < 2 * verticesPerPoint; ++k) {
            const vec3d& v = vertices[first + k].position;
            left |= v.x <= start.x;
            right |= v.x >= start.x;
            behind |= v.z <= start.z;
            ahead |= v.z >= start.z;
        }
        if (!(left && right && behind && ahead))
            continue;
        const uint16_t* index = owningTemplate->indices + 3 * trianglesPerSegment * s;
        for (int32_t t = 0; t < trianglesPerSegment; ++t, index += 3) {
            float distance = 0.0f;
            if (!rayHitsTriangle(start, down, vertices[index[0]].position, vertices[index[1]].position,
                                 vertices[index[2]].position, distance))
                continue;
            const vec3d hit = start + down * distance + origin;
            return !(gTerrain.getHeight(hit.x, hit.z, detail) > hit.y);
        }
    }
    return false;
}

void ObjPkgManager::Functions::OilPuddle::Instance::beforeRender(const matrix3d& transform)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || !owner || pointCount < 2 || vertexCount < 2 * verticesPerPoint)
        return;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(transform.m));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetTexture(0, nullptr);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    d->SetFVF(Vertex::format);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x28000000u);
    d->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetMaterial(&owningTemplate->material);

    // The reflection: the scene's environment cube by the camera-space
    // reflection vector, turned back into the world by the view's rotation.
    const Texture* cube = ObjPkgManager::ShaderSettings::reflectionTexture(scene ? &scene->envMap : nullptr);
    if (cube)
        TextureDevice::bindTexture(1, cube);
    else
        d->SetTexture(1, nullptr);
    matrix3d back = matrix3d::identity();
    if (gCamera)
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                back.at(r, c) = gCamera->view.at(c, r);
    d->SetTransform(D3DTS_TEXTURE1, reinterpret_cast<const D3DMATRIX*>(back.m));
    d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR | 1);

    const UINT triangles = UINT(trianglesPerSegment * (pointCount - 1));
    if (final && vertexBuffer && owningTemplate->indexBuffer) {
        d->SetStreamSource(0, vertexBuffer, 0, sizeof(Vertex));
        d->SetIndices(owningTemplate->indexBuffer);
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(vertexCount), 0, triangles);
    } else {
        d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, UINT(vertexCount), triangles, owningTemplate->indices,
                                  D3DFMT_INDEX16, vertices.get(), sizeof(Vertex));
    }
    gDirectGraphics.record.primitiveCount += triangles;

    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    d->SetTexture(1, nullptr);
}
