// Leaf cards, leafy branches and their pictures, and the foliage objects
// that repeat a branch's card over a tree.
#include "Tree/Branch.h"
#include "Tree/BoughMesh.h"
#include "Tree/Foliage.h"
#include "Tree/TreeParameters.h"

#include "Entity/D3DMesh.h"
#include "Entity/StoredMesh.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"
#include "Render/RenderHandshake.h"
#include "Render/RenderTexture.h"
#include "Render/Shader.h"
#include "Render/TextureDevice.h"

#include "Core/ConvexVolume.h"
#include "Core/FileInterface.h"
#include "Core/Math.h"

#include <d3d9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using Vertex = EntityManager::MeshVertex;
using SourceMesh = Tree::Branch::SourceMesh;
using StoredMesh = EntityManager::StoredMesh;
constexpr uint32_t fvf = 274;
constexpr float pi = 3.14159265358979323846f;

float uniform()
{
    return float(rand()) * (1.0f / 32767.0f);
}

// Grid and picture sizes a package may ask for.
uint32_t gridCount(uint32_t n)
{
    return std::clamp(n, 1u, 64u);
}

uint32_t pictureSide(uint32_t n)
{
    return std::clamp(n, 1u, 2048u);
}

// Whether a version-11 texture block (u32, u32 byte count, the bytes) fits
// the data left; the position stays.
bool textureBlockFits(FileInterface& stream)
{
    const uint32_t at = stream.tell();
    uint32_t loader = 0, bytes = 0;
    const bool fits = stream.readValue(loader) && stream.readValue(bytes) && bytes <= stream.remaining();
    stream.seek(int32_t(at), 0);
    return fits;
}

// A texture block of a leaf or foliage object into out: v11 an image file,
// v10 a stored surface copied into format. False when the block was refused
// or cut (the stream cannot be followed further).
bool readTexture(FileInterface& stream, uint32_t version, TextureRef& out, uint32_t format)
{
    if (version == Tree::version11) {
        if (!textureBlockFits(stream))
            return false;
        TextureRef loaded;
        const uint32_t at = stream.tell();
        uint32_t loader = 0, bytes = 0;
        stream.readValue(loader);
        stream.readValue(bytes);
        stream.seek(int32_t(at), 0);
        if (Texture::readFromStream(stream, loaded, 0xFFFFFFFFu))
            out = loaded;
        // An image the loader refused leaves the stream where the block ends.
        stream.seek(int32_t(at + 8 + bytes), 0);
        return true;
    }
    if (version == Tree::version10) {
        TextureRef raw, packed;
        if (!Texture::readRaw(stream, raw))
            return false;
        if (Texture::createCopyViaMemory(raw, 0xFFFFFFFFu, packed, format))
            out = packed;
        return true;
    }
    return true;
}

// A count of records that each take at least one byte: false when it cannot
// fit the bytes left or passes limit.
bool countFits(FileInterface& stream, uint32_t count, uint32_t limit)
{
    return count <= limit && count <= stream.remaining();
}

void bindStages(const Shader& record)
{
    for (int stage = 0; stage < Shader::stages; ++stage)
        if (stage == 0 || record.textures[stage].isBound())
            TextureDevice::bindTexture(uint32_t(stage), record.textures[stage].texture());
}

D3DMATERIAL9 materialOf(float ambient, float diffuse)
{
    D3DMATERIAL9 m{};
    m.Diffuse = {diffuse, diffuse, diffuse, 1.0f};
    m.Ambient = {ambient, ambient, ambient, 1.0f};
    m.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    return m;
}

// The point of a degree-two patch: rows of control heights h[m][n] (m
// along a, n across t), row 0 flat.
float patchHeight(const float (&h)[3][3], float a, float t)
{
    const float wa[3] = {(1 - a) * (1 - a), 2 * a * (1 - a), a * a};
    const float wt[3] = {(1 - t) * (1 - t), 2 * t * (1 - t), t * t};
    float y = 0.0f;
    for (int m = 0; m < 3; ++m)
        for (int n = 0; n < 3; ++n)
            y += wa[m] * wt[n] * h[m][n];
    return y;
}

// A mesh's vertex i.
void setVertex(SourceMesh& mesh, int32_t i, const vec3d& p, const vec3d& n, const vec2d& uv)
{
    if (auto* v = mesh.getVertexData(i)) {
        *v->position = p;
        *v->normal = n;
        *v->uv = uv;
    }
}

} // namespace

// ---------------------------------------------------------------- Leaf

struct Tree::Branch::Leaf::Buffers
{
    D3DMeshBuffers mesh;
};

Tree::Branch::Leaf::Leaf() : param_(std::make_unique<Param>()), buffers_(std::make_unique<Buffers>()) {}

Tree::Branch::Leaf::Leaf(FileInterface& stream, uint32_t version) : Leaf()
{
    read(stream, version);
}

Tree::Branch::Leaf::~Leaf()
{
    release();
}

bool Tree::Branch::Leaf::read(FileInterface& stream, uint32_t version)
{
    uint8_t tag = 0;
    while (stream.readValue(tag)) {
        if (tag == 0)
            return true;
        if (tag == 1) {
            param_->read(stream);
        } else if (tag == 2) {
            if (!readTexture(stream, version, texture, D3DFMT_DXT3))
                return false;
        }
    }
    return false;
}

void Tree::Branch::Leaf::buildMesh()
{
    const uint32_t columns = gridCount(param_->segments[0]);
    const uint32_t rows = gridCount(param_->segments[1]);
    float h[6];
    for (int k = 0; k < 6; ++k)
        h[k] = param_->bends[size_t(k)] + (0.5f - uniform()) * param_->bendRange;
    // Control heights: row 0 the flat base, row 1 the middle, row 2 the tip.
    const float heights[3][3] = {{0.0f, 0.0f, 0.0f}, {h[0], h[1], h[2]}, {h[3], h[4], h[5]}};
    const auto surface = [&heights](float u, float v) {
        // Along the leaf the control points sit at z = 0, 2, 2, so the rows
        // lie wider apart at the base than at the tip.
        return vec3d(2.0f * v - 1.0f, patchHeight(heights, u, v), u * (4.0f - 2.0f * u));
    };
    vertices.assign(size_t(columns + 1) * (rows + 1), Vertex{});
    for (uint32_t i = 0; i <= columns; ++i)
        for (uint32_t j = 0; j <= rows; ++j) {
            const float u = float(i) / float(columns), v = float(j) / float(rows);
            const vec3d p = surface(u, v);
            // Along the leaf from a step ahead, but at the tip from a step
            // behind: past u = 1 the surface turns back in z, which would
            // turn the tip row's normals over.
            vec3d t1 = i < columns ? surface(u + 0.001f, v) - p : p - surface(u - 0.001f, v);
            vec3d t2 = p - surface(u, v + 0.001f);
            if (t1.lengthSq() > 0.0f)
                t1 = t1.normalised();
            if (t2.lengthSq() > 0.0f)
                t2 = t2.normalised();
            Vertex& out = vertices[i * (rows + 1) + j];
            out.position = p;
            out.normal = t2.cross(t1);
            out.uv = vec2d(v, 1.0f - u);
        }
    indices.clear();
    indices.reserve(size_t(columns) * rows * 6);
    for (uint32_t i = 0; i < columns; ++i) {
        const uint32_t e = i * (rows + 1), f = e + rows + 1;
        for (uint32_t j = 0; j < rows; ++j)
            for (uint32_t index : {e + j, e + j + 1, f + j, e + j + 1, f + j + 1, f + j})
                indices.push_back(uint16_t(index));
    }
    positions.resize(int32_t(vertices.size()));
    for (size_t i = 0; i < vertices.size(); ++i)
        if (vec3d* p = positions.at(int32_t(i)))
            *p = vertices[i].position;
    if (gDevice)
        buffers_->mesh.create(vertices.data(), uint32_t(vertices.size()), sizeof(Vertex), fvf, indices.data(),
                              uint32_t(indices.size()));
}

void Tree::Branch::Leaf::draw(const Bough::ObjectInfo& instance)
{
    IDirect3DDevice9* d = gDevice;
    if (!d || !buffers_->mesh.vertexBuffer || !buffers_->mesh.indexBuffer)
        return;
    matrix3d mirror = matrix3d::identity();
    if (instance.flip)
        mirror.m[0] = -1.0f;
    d->SetTransform(D3DTS_TEXTURE0, reinterpret_cast<const D3DMATRIX*>(mirror.m));
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(instance.transform.m));
    d->SetRenderState(D3DRS_TEXTUREFACTOR, instance.tint.argb());
    buffers_->mesh.bind(fvf, sizeof(Vertex));
    const D3DMeshBuffers& m = buffers_->mesh;
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, m.vertexCount, m.startIndex, m.triangleCount);
    gDirectGraphics.record.primitiveCount += m.triangleCount;
}

void Tree::Branch::Leaf::release()
{
    texture.release();
    positions.deleteArray();
    buffers_->mesh.release();
}

// ---------------------------------------------------------------- Branch

struct Tree::Branch::Bark
{
    D3DMesh<Vertex, 274> mesh;
};

Tree::Branch::Branch() : bark_(std::make_unique<Bark>()) {}

Tree::Branch::~Branch()
{
    fade.release();
    bark_->mesh.release();
}

bool Tree::Branch::read(FileInterface& stream, uint32_t version)
{
    leaves.clear();
    placements.deleteArray();
    placementCount = 0;
    uint32_t leafCount = 0, wanted = 0;
    uint8_t tag = 0;
    while (stream.readValue(tag)) {
        switch (tag) {
        case 0: return true;
        case 1:
            if (!stream.readValue(leafCount))
                return false;
            break;
        case 2:
            // Each leaf block takes a byte at least.
            if (!countFits(stream, leafCount, 1024))
                return false;
            for (uint32_t i = 0; i < leafCount; ++i) {
                auto leaf = std::make_unique<Leaf>();
                const bool whole = leaf->read(stream, version);
                leaf->buildMesh();
                leaves.push_back(std::move(leaf));
                if (!whole)
                    return false;
            }
            break;
        case 3:
            if (!stream.readValue(wanted))
                return false;
            break;
        case 4:
            if (!countFits(stream, wanted, uint32_t(Foliage::maxPlacements)) || !placements.resize(int32_t(wanted)))
                return false;
            for (uint32_t i = 0; i < wanted; ++i) {
                if (!placements.at(int32_t(i))->read(stream)) {
                    placements.deleteArray();
                    return false;
                }
            }
            placementCount = wanted;
            break;
        case 5:
            if (!bough.read(stream))
                return false;
            break;
        default: break;
        }
    }
    return false;
}

void Tree::Branch::clear()
{
    points.setBlocks(0);
    pointCount = 0;
    bark_->mesh.release();
}

void Tree::Branch::buildBark(const Param& param)
{
    box = Bough::genNodes(bough, param);
    SourceMesh working{String(L"")};
    Bough::genMesh(bough, working, static_cast<SourceMesh*>(nullptr), &points, &pointCount, param);
    if (gDevice)
        bark_->mesh.upload(working);
}

void Tree::Branch::generate(SourceMesh& card, TextureRef* picture, const Param& param, const TextureRef* bark)
{
    clear();
    bough.genBones(param);
    bough.genRoots(param);
    buildBark(param);
    placements.deleteArray();
    placementCount = 0;
    placeLeaves(param);
    makeCards(card, picture, param, bark);
}

void Tree::Branch::rebuild(SourceMesh& card, TextureRef* picture, const Param& param, const TextureRef* bark)
{
    clear();
    buildBark(param);
    placeLeaves(param);
    makeCards(card, picture, param, bark);
}

void Tree::Branch::placeLeaves(const Param& param)
{
    Bough::ObjectParam spread = param.leaves;
    spread.kindCount = uint32_t(leaves.size());
    if (placementCount == 0 || placements.count() == 0)
        placementCount = uint32_t(std::max(Bough::placeObjects(bough, placements, spread), 0));
    const uint32_t placed = std::min(placementCount, uint32_t(placements.count()));
    for (uint32_t i = 0; i < placed; ++i) {
        const Bough::ObjectInfo& info = *placements.at(int32_t(i));
        if (info.kind < 0 || size_t(info.kind) >= leaves.size())
            continue;
        Leaf& leaf = *leaves[size_t(info.kind)];
        for (int32_t k = 0; k < leaf.positions.count(); ++k) {
            const vec3d& p = *leaf.positions.at(k);
            const matrix3d& m = info.transform;
            vec3d* point = points.at(pointCount);
            if (!point)
                return;
            *point = m.row(0) * p.x + m.row(1) * p.y + m.row(2) * p.z + m.row(3);
            ++pointCount;
        }
    }
}

bool Tree::Branch::makeFadeTexture(const Param& param)
{
    fade.release();
    if (!gDevice || !Texture::create(fade, String(L"Fade"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED))
        return false;
    TextureDevice::LevelLock lock(fade.texture()->texture, 0);
    if (!lock.ok())
        return false;
    const Color c = param.fadeColor;
    for (uint32_t y = 0; y < 4; ++y) {
        const uint32_t alpha = uint32_t(std::pow(float(y) / 3.0f, 1.5f) * 255.0f);
        const uint32_t texel = alpha << 24 | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
        for (uint32_t x = 0; x < 4; ++x)
            std::memcpy(lock.row(y) + x * 4, &texel, 4);
    }
    return true;
}

void Tree::Branch::makeCards(SourceMesh& card, TextureRef* picture, const Param& param, const TextureRef* bark)
{
    float u = 0.0f, aspect = 1.0f;
    if (picture && gDevice) {
        makeFadeTexture(param);
        ambient = param.ambient;
        diffuse = param.diffuse;
        renderPicture(picture, aspect, u, param, bark);
    }
    pictureU = u;
    pictureAspect = aspect;
    if (param.cardKind == 0)
        makeCurvedCard(card, param);
    else if (param.cardKind == 1)
        makeStarCard(card, u, aspect);
}

void Tree::Branch::makeCurvedCard(SourceMesh& card, const Param& param)
{
    const uint32_t rows = gridCount(param.cardGrid[0]);
    const uint32_t columns = gridCount(param.cardGrid[1]);
    float c[6];
    for (int i = 0; i < 6; ++i)
        c[i] = param.shape.values[size_t(i)] + (0.5f - uniform()) * param.shapeRange;
    const float heights[3][3] = {{0.0f, 0.0f, 0.0f}, {c[0], c[1], c[2]}, {c[3], c[4], c[5]}};
    const auto surface = [&heights](float a, float t) { return vec3d(2.0f * t - 1.0f, patchHeight(heights, a, t), 2.0f * a); };
    card.clear();
    const int32_t front = int32_t((rows + 1) * (columns + 1));
    for (uint32_t i = 0; i <= rows; ++i)
        for (uint32_t j = 0; j <= columns; ++j) {
            const float a = float(i) / float(rows), t = float(j) / float(columns);
            const vec3d p = surface(a, t);
            const vec3d across = (surface(a, t + 0.01f) - p).normalised();
            const vec3d along = (surface(a + 0.01f, t) - p).normalised();
            const vec3d normal = across.cross(along).normalised();
            const int32_t k = int32_t(i * (columns + 1) + j);
            setVertex(card, k, p, normal, vec2d(t, 1.0f - a));
            setVertex(card, front + k, p, normal * -1.0f, vec2d(t, 1.0f - a));
        }
    *card.getVertexCount() = 2 * front;
    std::vector<uint16_t> indices;
    for (uint32_t i = 0; i < rows; ++i)
        for (uint32_t j = 0; j < columns; ++j) {
            const uint32_t q = i * (columns + 1) + j, b = uint32_t(front) + q;
            for (uint32_t index : {q, q + 1, q + columns + 1, q + 1, q + columns + 2, q + columns + 1})
                indices.push_back(uint16_t(index));
            for (uint32_t index : {b, b + columns + 1, b + 1, b + 1, b + columns + 1, b + columns + 2})
                indices.push_back(uint16_t(index));
        }
    card.appendIndices(indices.data(), int32_t(indices.size()), 0, false);
    card.calcBounds();
}

void Tree::Branch::makeStarCard(SourceMesh& card, float u, float aspect)
{
    vec3d tips[3], blades[3];
    for (int i = 0; i < 3; ++i) {
        const float angle = (90.0f + 120.0f * float(i)) * pi / 180.0f;
        const float length = (i == 0 ? u : 1.0f - u) * aspect;
        blades[i] = vec3d(std::cos(angle), std::sin(angle), 0.0f);
        tips[i] = blades[i] * length;
    }
    card.clear();
    const vec3d up(0.0f, 0.0f, 1.0f);
    const float us[6] = {0.0f, u, 1.0f, u, 1.0f, u};
    const vec3d ring[6] = {tips[0], {}, tips[1], {}, tips[2], {}};
    const vec3d normals[6] = {blades[0], blades[2] * -1.0f, blades[1], blades[0] * -1.0f, blades[2], blades[1] * -1.0f};
    for (int32_t k = 0; k < 6; ++k) {
        setVertex(card, k, ring[k], up, vec2d(us[k], 1.0f));
        setVertex(card, 6 + k, ring[k] + up, normals[k], vec2d(us[k], 0.0f));
    }
    *card.getVertexCount() = 12;
    std::vector<uint16_t> indices;
    for (uint32_t k = 0; k < 6; ++k) {
        const uint32_t n = (k + 1) % 6;
        for (uint32_t index : {k, n, k + 6, k + 6, n, n + 6})
            indices.push_back(uint16_t(index));
    }
    card.appendIndices(indices.data(), int32_t(indices.size()), 0, false);
    card.calcBounds();
}

bool Tree::Branch::fitPictureCamera(matrix3d& projection, matrix3d& view, float& aspect) const
{
    if (pointCount < 1)
        return false;
    constexpr float depth = 80.0f;
    matrix3d start{};
    start.m[0] = 2.0f;
    start.m[5] = 2.0f;
    start.m[10] = 1.0f / depth;
    start.m[14] = -1.0f / depth;
    start.m[15] = 1.0f;
    ConvexVolume volume;
    volume.setFromMatrix(start);
    // Every plane moves out to the outermost point.
    for (int32_t p = 0; p < volume.count; ++p) {
        ConvexVolume::Plane& plane = volume.planes[p];
        for (int32_t i = 0; i < pointCount; ++i) {
            const vec3d& point = *const_cast<DynArray<vec3d>&>(points).at(i);
            if (i == 0 || plane.normal.dot(point) < plane.distance - 0.001f) {
                plane.point = point;
                plane.distance = plane.normal.dot(point);
            }
        }
    }
    matrix3d fitted;
    vec3d centre;
    float width = 0.0f, height = 0.0f;
    if (!matrix3d::fitToVolume(volume, fitted, centre, width, height) || !(width > 0.0f) || !(height > 0.0f))
        return false;
    view = matrix3d::identity();
    view.setRow(3, vec3d(-centre.x, -centre.y, 40.0f - centre.z));
    projection = fitted;
    projection.m[10] = 1.0f / depth;
    projection.m[14] = -1.0f / depth;
    projection.m[15] = 1.0f;
    aspect = width / height;
    return true;
}

void Tree::Branch::drawForPicture(const Param& param, const TextureRef* bark)
{
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    const float a = param.lightAngles.x * pi / 180.0f, b = param.lightAngles.y * pi / 180.0f;
    LightRecord light;
    light.direction = vec3d(-0.01f * std::sin(a), 0.01f * std::cos(a) * std::sin(b), -0.01f * std::cos(a) * std::cos(b));
    D3D::setDirectionalLight(light);
    const D3DMATERIAL9 material = materialOf(ambient, diffuse);
    d->SetMaterial(&material);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);

    // The bark, faded towards the fade colour by the fade texture.
    if (bark_->mesh.vertexBuffer && bark_->mesh.indexBuffer) {
        TextureDevice::bindTexture(0, bark && bark->isBound() ? bark->texture() : nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        TextureDevice::bindTexture(1, fade.isBound() ? fade.texture() : nullptr);
        matrix3d scale = matrix3d::identity();
        scale.m[0] = 1.0f / param.mesh.textureRepeat.x;
        scale.m[5] = 1.0f / param.mesh.textureRepeat.y;
        d->SetTransform(D3DTS_TEXTURE1, reinterpret_cast<const D3DMATRIX*>(scale.m));
        d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        d->SetTextureStageState(1, D3DTSS_COLOROP, fade.isBound() ? D3DTOP_BLENDTEXTUREALPHA : D3DTOP_SELECTARG2);
        d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_CURRENT);
        d->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(matrix3d::identity().m));
        bark_->mesh.bind();
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, bark_->mesh.vertexCount, bark_->mesh.startIndex,
                                bark_->mesh.triangleCount);
        gDirectGraphics.record.primitiveCount += bark_->mesh.triangleCount;
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        TextureDevice::bindTexture(1, nullptr);
    }

    // The leaves: lit, tinted, only their opaque texels.
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRS_ALPHAREF, 255);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
    const uint32_t placed = std::min(placementCount, uint32_t(placements.count()));
    for (uint32_t i = 0; i < placed; ++i) {
        const Bough::ObjectInfo& info = *placements.at(int32_t(i));
        if (info.kind < 0 || size_t(info.kind) >= leaves.size())
            continue;
        Leaf& leaf = *leaves[size_t(info.kind)];
        // A leaf without a texture is its material's colour, opaque.
        if (leaf.texture.isBound()) {
            TextureDevice::bindTexture(0, leaf.texture.texture());
            d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        } else {
            TextureDevice::bindTexture(0, nullptr);
            d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        }
        leaf.draw(info);
    }
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    TextureDevice::bindTexture(0, nullptr);
    if (gSunLight)
        D3D::setDirectionalLight(*gSunLight);
}

void Tree::Branch::renderPicture(TextureRef* out, float& aspect, float& u, const Param& param, const TextureRef* bark)
{
    IDirect3DDevice9* d = gDevice;
    if (!out || !d)
        return;
    RenderHandshake::Render busy;
    matrix3d projection = matrix3d::identity(), view = matrix3d::identity();
    aspect = 1.0f;
    fitPictureCamera(projection, view, aspect);
    const int32_t width = int32_t(pictureSide(param.pictureSize[0]));
    const int32_t height = int32_t(pictureSide(param.pictureSize[1]));
    RenderTexture* entry = RenderTexture::acquire(RenderTexture::shared, width, height, true, true, 23, D3DFMT_A8R8G8B8);
    if (entry && entry->renderSurface && entry->lockSurface) {
        IDirect3DSurface9* oldTarget = nullptr;
        IDirect3DSurface9* oldDepth = nullptr;
        D3DVIEWPORT9 oldViewport{};
        D3DMATRIX oldView{}, oldProjection{}, oldWorld{};
        d->GetRenderTarget(0, &oldTarget);
        d->GetDepthStencilSurface(&oldDepth);
        d->GetViewport(&oldViewport);
        d->GetTransform(D3DTS_VIEW, &oldView);
        d->GetTransform(D3DTS_PROJECTION, &oldProjection);
        d->GetTransform(D3DTS_WORLD, &oldWorld);
        d->SetRenderTarget(0, entry->renderSurface);
        if (entry->depthSurface)
            d->SetDepthStencilSurface(entry->depthSurface);
        d->Clear(0, nullptr, D3DCLEAR_TARGET | (entry->depthSurface ? D3DCLEAR_ZBUFFER : 0), 0, 1.0f, 0);
        const bool scene = SUCCEEDED(d->BeginScene());
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(matrix3d::identity().m));
        d->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(view.m));
        d->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(projection.m));
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        drawForPicture(param, bark);
        // Once more as lines, so that twigs thinner than a texel still show.
        d->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        drawForPicture(param, bark);
        d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        if (scene)
            d->EndScene();
        d->SetRenderTarget(0, oldTarget);
        if (oldDepth)
            d->SetDepthStencilSurface(oldDepth);
        d->SetViewport(&oldViewport);
        d->SetTransform(D3DTS_VIEW, &oldView);
        d->SetTransform(D3DTS_PROJECTION, &oldProjection);
        d->SetTransform(D3DTS_WORLD, &oldWorld);
        if (oldTarget)
            oldTarget->Release();
        if (oldDepth)
            oldDepth->Release();

        if (SUCCEEDED(d->GetRenderTargetData(entry->renderSurface, entry->lockSurface))) {
            Texture::bleedIntoTransparent(entry->lockTexture);
            TextureRef picture;
            if (Texture::createCopyViaMemory(entry->lockTexture, 0xFFFFFFFFu, picture, D3DFMT_DXT3) ||
                Texture::createCopyViaMemory(entry->lockTexture, 0xFFFFFFFFu, picture, D3DFMT_A8R8G8B8))
                *out = picture;
        }
    }
    if (entry)
        RenderTexture::releaseByKey(RenderTexture::shared, entry);
    // The branch origin's place across the picture.
    const vec3d o = param.bone.origin;
    const vec3d v = view.row(0) * o.x + view.row(1) * o.y + view.row(2) * o.z + view.row(3);
    const float x = projection.m[0] * v.x + projection.m[4] * v.y + projection.m[8] * v.z + projection.m[12];
    const float w = projection.m[3] * v.x + projection.m[7] * v.y + projection.m[11] * v.z + projection.m[15];
    u = w != 0.0f ? (x / w + 1.0f) * 0.5f : 0.5f;
}

// ---------------------------------------------------------------- Foliage

Tree::Foliage::Foliage(Tree& owner, const String& objectName, uint32_t isAutomatic)
    : tree(&owner), name(objectName), automatic(isAutomatic), param_(std::make_unique<Param>())
{
    for (StoredMesh*& mesh : meshes_) {
        SourceMesh empty{String(L"")};
        mesh = new StoredMesh(empty, true);
        ++mesh->recordCount;
    }
    nameMeshes();
}

Tree::Foliage::Foliage(Tree& owner, FileInterface& stream, uint32_t version) : Foliage(owner, String(L""), 0)
{
    read(stream, version);
}

Tree::Foliage::~Foliage()
{
    clear();
}

EntityManager::StoredMesh* Tree::Foliage::mesh(uint32_t lod) const
{
    StoredMesh* m = meshes_[lod == 1 || lod == 2 ? lod : 0];
    return m && StoredMesh::isListed(m) ? m : nullptr;
}

void Tree::Foliage::clear()
{
    branch.clear();
    branch.leaves.clear();
    texture.release();
    for (StoredMesh*& m : meshes_) {
        if (m && StoredMesh::isListed(m) && --m->recordCount < 1)
            delete m;
        m = nullptr;
    }
}

void Tree::Foliage::nameMeshes()
{
    static const wchar_t* const formats[3] = {L"A%X%ls", L"B%X%ls", L"C%X%ls"};
    for (uint32_t level = 0; level < 3; ++level)
        if (StoredMesh* m = mesh(level))
            m->name.format(formats[level], tree->seed, name.text());
}

bool Tree::Foliage::read(FileInterface& stream, uint32_t version)
{
    for (uint32_t level = 0; level < 3; ++level) {
        placements[level].deleteArray();
        counts[level] = 0;
    }
    uint32_t wanted[3] = {};
    bool whole = false;
    uint8_t tag = 0;
    const auto readPlacements = [&](uint32_t level) {
        if (!countFits(stream, wanted[level], uint32_t(maxPlacements)) ||
            !placements[level].resize(int32_t(wanted[level])))
            return false;
        for (uint32_t i = 0; i < wanted[level]; ++i)
            if (!placements[level].at(int32_t(i))->read(stream)) {
                placements[level].deleteArray();
                return false;
            }
        counts[level] = wanted[level];
        return true;
    };
    bool reading = true;
    while (reading && stream.readValue(tag)) {
        switch (tag) {
        case 0: whole = true; reading = false; break;
        case 1: reading = stream.readString(name); break;
        case 2: param_->read(stream); break;
        case 3: reading = branch.read(stream, version); break;
        case 4: reading = stream.readValue(wanted[0]); break;
        case 5: reading = readPlacements(0); break;
        case 6:
            reading = readTexture(stream, version, texture, D3DFMT_DXT1);
            if (reading)
                param_->textureStored = 1;
            break;
        case 7: reading = stream.readValue(automatic); break;
        case 8: reading = stream.readValue(wanted[1]); break;
        case 9: reading = readPlacements(1); break;
        case 10: reading = stream.readValue(wanted[2]); break;
        case 11: reading = readPlacements(2); break;
        default: break;
        }
    }
    const TextureRef* bark = tree->barkTexture();
    if (param_->textureStored == 0) {
        branch.placeLeaves(param_->branch);
        branch.rebuild(card, &texture, param_->branch, bark);
    } else {
        branch.makeCards(card, nullptr, param_->branch, bark);
    }
    build(tree->lod);
    nameMeshes();
    return whole;
}

uint32_t Tree::Foliage::merge(SourceMesh& card, ArrayHeap<Bough::ObjectInfo>& placements, uint32_t count,
                              SourceMesh& out, vec3d& lo, vec3d& hi)
{
    out.clear();
    const int32_t v = card.countedVertices();
    const int32_t n = card.countedIndices();
    const uint32_t placed = std::min(count, uint32_t(placements.count()));
    // The card once, and room for every copy that can fit.
    std::vector<Vertex> source(size_t(std::max(v, 0)));
    for (int32_t j = 0; j < v; ++j)
        if (auto* from = card.getVertexData(j))
            source[size_t(j)] = {*from->position, *from->normal, *from->uv};
    const int64_t fitting = v > 0 ? std::min<int64_t>(placed, maxVertices / v) : 0;
    if (fitting > 0)
        out.getVertexData(int32_t(fitting * v - 1));
    std::vector<uint16_t> indices;
    indices.reserve(size_t(fitting) * size_t(std::max(n, 0)));
    const uint16_t* cardIndices = card.getIndices();
    int32_t total = 0;
    uint32_t leftOut = 0;
    bool first = true;
    for (uint32_t k = 0; k < placed; ++k) {
        const Bough::ObjectInfo& info = *placements.at(int32_t(k));
        // 16-bit indices reach 65,536 vertices; a placement past them, or one
        // that is not finite, is left out.
        if (!info.finite() || int64_t(total) + v > maxVertices) {
            ++leftOut;
            continue;
        }
        const matrix3d& m = info.transform;
        for (int32_t j = 0; j < v; ++j) {
            auto* target = out.getVertexData(total + j);
            if (!target)
                continue;
            const vec3d p = source[size_t(j)].position, normal = source[size_t(j)].normal;
            const vec3d position = m.row(0) * p.x + m.row(1) * p.y + m.row(2) * p.z + m.row(3);
            vec3d turned = m.row(0) * normal.x + m.row(1) * normal.y + m.row(2) * normal.z;
            if (turned.lengthSq() > 0.0f)
                turned = turned.normalised();
            *target->position = position;
            *target->normal = turned;
            *target->uv = source[size_t(j)].uv;
            if (first) {
                lo = hi = position;
                first = false;
            }
            for (int axis = 0; axis < 3; ++axis) {
                lo[axis] = std::min(lo[axis], position[axis]);
                hi[axis] = std::max(hi[axis], position[axis]);
            }
        }
        for (int32_t j = 0; j < n; ++j)
            indices.push_back(uint16_t(cardIndices[j] + total));
        total += v;
    }
    *out.getVertexCount() = total;
    if (!indices.empty())
        out.appendIndices(indices.data(), int32_t(indices.size()), 0, false);
    return leftOut;
}

void Tree::Foliage::build(uint32_t lod)
{
    const uint32_t level = lod == 1 || lod == 2 ? lod : 0;
    StoredMesh* target = mesh(level);
    skipped = 0;
    if (!target || counts[level] == 0 || placements[level].count() == 0 || card.countedVertices() == 0)
        return;
    SourceMesh working{String(L"")};
    vec3d lo, hi;
    skipped = merge(card, placements[level], counts[level], working, lo, hi);
    if (working.countedVertices() == 0)
        return;
    target->build(working, true);
    const vec3d centre = (lo + hi) * 0.5f;
    target->box.center = centre;
    target->box.radius = 1.0f;
    target->box.radiusSq = (hi - centre).lengthSq();
    target->box.axes[0] = vec3d(1.0f, 0.0f, 0.0f);
    target->box.axes[1] = vec3d(0.0f, 1.0f, 0.0f);
    target->box.axes[2] = vec3d(0.0f, 0.0f, 1.0f);
    target->box.halfExtents = hi - centre;
    target->name = String(L"Foliage");
}

void Tree::Foliage::setMaterial(Shader& record)
{
    const Param& p = *param_;
    record.material.Diffuse = {p.diffuse, p.diffuse, p.diffuse, 1.0f};
    record.material.Ambient = {p.ambient, p.ambient, p.ambient, 1.0f};
    record.textures[0].release();
    if (texture.isBound())
        record.textures[0].bind(texture.texture());
    record.alphaTest = 1;
    record.addressU[0] = D3DTADDRESS_CLAMP;
    record.addressV[0] = D3DTADDRESS_CLAMP;
    record.alphaReference = 190;
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 190);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetMaterial(&record.material);
    bindStages(record);
}
