#include "Tree/Tree.h"

#include "Tree/Bough.h"
#include "Tree/BoughMesh.h"
#include "Tree/Branch.h"
#include "Tree/Foliage.h"
#include "Tree/TreeParamDialog.h"
#include "Tree/TreeParameters.h"

#include "Entity/Entity.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "Render/D3DDevice.h"
#include "Render/Shader.h"
#include "Render/TextureDevice.h"

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <TextureRecord.h>

#include <d3d9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

using SourceMesh = EntityManager::Entity::SourceMesh;
using StoredMesh = EntityManager::StoredMesh;

static_assert(sizeof(OrientedBox) == 17 * sizeof(float));
static_assert(sizeof(BoundingBox) == 11 * sizeof(float));

// The level of detail that a value selects among the three meshes.
uint32_t meshSlot(uint32_t level)
{
    return level == 1 || level == 2 ? level : 0;
}

}

struct Tree::State
{
    Bough::Param param;
    Bough bough0;
    std::unique_ptr<Bough> bough1;
    std::unique_ptr<Bough> bough2;
    // The stored meshes of the three levels, shared by use count (the mesh's
    // record count): the tree's own use and the octree records of the
    // sub-entities drawing them. The last user deletes a mesh; the global
    // list deletes them all when the device goes.
    StoredMesh* meshes[3] = {};
    // Each level's skeleton box from its last ring pass.
    Bough::Box boxes[3];
    TextureRef bark;
    std::vector<std::unique_ptr<Foliage>> foliage;

    StoredMesh* mesh(uint32_t level) const
    {
        StoredMesh* m = meshes[meshSlot(level)];
        return m && StoredMesh::isListed(m) ? m : nullptr;
    }
};

Tree::Tree() : state_(std::make_unique<State>())
{
    const uint32_t r1 = uint32_t(rand()), r2 = uint32_t(rand()), r3 = uint32_t(rand());
    seed = (r1 << 30) | (r2 << 15) | r3;
    // The tree is one user of each mesh; the octree records of the
    // sub-entities that draw one are the others.
    for (StoredMesh*& mesh : state_->meshes) {
        SourceMesh empty(String(L""));
        mesh = new StoredMesh(empty, true);
        ++mesh->recordCount;
    }
    nameMeshes();
}

Tree::~Tree()
{
    dialog.reset();
    state_->bark.release();
    clearFoliage();
    for (StoredMesh* mesh : state_->meshes)
        if (mesh && StoredMesh::isListed(mesh) && --mesh->recordCount < 1)
            delete mesh;
}

void Tree::nameMeshes()
{
    static const wchar_t* const letters[3] = {L"A%X", L"B%X", L"C%X"};
    for (uint32_t level = 0; level < 3; ++level)
        if (StoredMesh* mesh = state_->mesh(level))
            mesh->name.format(letters[level], seed);
    // The foliage's names carry the seed too, which the stream may give
    // after the foliage.
    for (const auto& object : state_->foliage)
        object->nameMeshes();
}

const wchar_t* Tree::meshName(uint32_t level) const
{
    const StoredMesh* mesh = state_->mesh(level);
    return mesh ? mesh->name.text() : L"";
}

bool Tree::hasLevel(uint32_t level) const
{
    return level == 0 || (level == 1 && state_->bough1) || (level == 2 && state_->bough2);
}

Tree::Bough& Tree::bough(uint32_t level)
{
    if (level == 1 && state_->bough1)
        return *state_->bough1;
    if (level == 2 && state_->bough2)
        return *state_->bough2;
    return state_->bough0;
}

bool Tree::hasBark() const
{
    return state_->bark.isBound();
}

const TextureRef* Tree::barkTexture() const
{
    return &state_->bark;
}

uint32_t Tree::foliageCount() const
{
    return uint32_t(state_->foliage.size());
}

Tree::Foliage* Tree::foliage(uint32_t index) const
{
    return index < state_->foliage.size() ? state_->foliage[index].get() : nullptr;
}

void Tree::clearFoliage()
{
    state_->foliage.clear();
}

void Tree::removeFoliage(Foliage* object)
{
    auto& list = state_->foliage;
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->get() == object) {
            list.erase(it);
            return;
        }
}

EntityManager::StoredMesh* Tree::updateBranchObject(uint32_t lodValue)
{
    Foliage* automatic = nullptr;
    for (const auto& object : state_->foliage)
        if (object->automatic) {
            automatic = object.get();
            break;
        }
    bool ribbons = false;
    for (uint32_t level = 0; level < 4; ++level)
        ribbons = ribbons || state_->param.bone.level(level).ribbon != 0;
    if (!ribbons) {
        if (automatic)
            removeFoliage(automatic);
        return nullptr;
    }
    if (automatic)
        return automatic->mesh(lodValue);
    auto made = std::make_unique<Foliage>(*this, String(L"Branch"), 1);
    Foliage& f = *made;
    state_->foliage.push_back(std::move(made));
    f.branch.generate(f.card, f.param().textureStored ? nullptr : &f.texture, f.param().branch, &state_->bark);
    f.build(lodValue);
    return f.mesh(lodValue);
}

namespace {

// Whether a version-11 texture block (u32, u32 byte count, the bytes) fits
// the data left; the position stays.
bool textureBlockFits(FileInterface& stream)
{
    const uint32_t at = stream.tell();
    uint32_t skipped = 0, bytes = 0;
    const bool fits = stream.readValue(skipped) && stream.readValue(bytes) && bytes <= stream.remaining();
    stream.seek(int32_t(at), 0);
    return fits;
}

}

void Tree::generate(FileInterface& stream)
{
    State& s = *state_;
    uint8_t mark[4] = {};
    uint32_t version = 0;
    if (stream.read(mark, 4) == 4 && mark[0] == 'v' && mark[1] == '1' && mark[2] == '.')
        version = mark[3] == '0' ? version10 : mark[3] == '1' ? version11 : 0;

    clearFoliage();
    uint32_t foliageCount = 0;
    uint8_t tag = 0;
    bool reading = true;
    while (reading && stream.readValue(tag) && tag != 0) {
        switch (tag) {
        case 1: reading = stream.readValue(ambient); break;
        case 2: reading = stream.readValue(diffuse); break;
        case 3: reading = stream.readValue(tag3Value); break;
        case 9: reading = stream.readValue(seed); break;
        case 4: s.param.read(stream); break;
        case 5: reading = s.bough0.read(stream); break;
        case 10:
        case 11: {
            std::unique_ptr<Bough>& slot = tag == 10 ? s.bough1 : s.bough2;
            if (!slot)
                slot = std::make_unique<Bough>();
            reading = slot->read(stream);
            break;
        }
        case 6:
            if (version == version11) {
                // A block larger than the data left is refused and ends the read.
                reading = textureBlockFits(stream);
                if (reading) {
                    TextureRef loaded;
                    if (Texture::readFromStream(stream, loaded, 0xFFFFFFFFu)) {
                        s.bark.release();
                        s.bark = loaded;
                    }
                }
            } else if (version == version10) {
                TextureRef raw, packed;
                reading = Texture::readRaw(stream, raw);
                if (reading && Texture::createCopyViaMemory(raw, 0xFFFFFFFFu, packed, D3DFMT_DXT1)) {
                    s.bark.release();
                    s.bark = packed;
                }
                raw.release();
            }
            break;
        case 7: reading = stream.readValue(foliageCount); break;
        case 8:
            // Each block takes a byte at least: a count past the bytes left
            // is refused and ends the read.
            reading = foliageCount <= maxFoliage && foliageCount <= stream.remaining();
            for (uint32_t i = 0; reading && i < foliageCount; ++i) {
                auto object = std::make_unique<Foliage>(*this, String(L""), 0);
                reading = object->read(stream, version);
                s.foliage.push_back(std::move(object));
            }
            break;
        default: break; // a tag without a field
        }
    }

    buildLevel(lod);
    nameMeshes();
    if (EntityManager::Entity* entity = getEntity())
        createEntities(*entity, 0, nullptr, getTrunkShader(), getFoliageShader());
    if (dialog)
        dialog->refresh();
}

bool Tree::openDialog(HWND parent)
{
    dialog.reset();
    dialog.reset(new (std::nothrow) ParamDialog(*this, state_->param));
    if (dialog && dialog->open(parent))
        return true;
    dialog.reset();
    return false;
}

void Tree::buildLevel(uint32_t lodValue)
{
    State& s = *state_;
    SourceMesh main(String(L"")), second(String(L""));
    const uint32_t level = meshSlot(lodValue);
    Bough& skeleton = bough(lodValue);
    const Bough::Box box = Bough::genNodes(skeleton, s.param);
    Bough::genMesh(skeleton, main, &second, nullptr, nullptr, s.param);
    s.boxes[level] = box;
    StoredMesh* mesh = s.mesh(level);
    if (!mesh)
        return;
    const String name = mesh->name;
    mesh->build(main, true);
    mesh->name = name;
    // The leaf ribbons go to the automatic "Branch" object's mesh.
    if (StoredMesh* ribbons = updateBranchObject(lodValue)) {
        const String ribbonName = ribbons->name;
        ribbons->build(second, true);
        ribbons->name = ribbonName;
    }
    const vec3d centre = (box.minimum + box.maximum) * 0.5f;
    mesh->box.center = centre;
    mesh->box.radius = 1.0f;
    mesh->box.radiusSq = (box.maximum - centre).lengthSq();
    mesh->box.axes[0] = vec3d(1.0f, 0.0f, 0.0f);
    mesh->box.axes[1] = vec3d(0.0f, 1.0f, 0.0f);
    mesh->box.axes[2] = vec3d(0.0f, 0.0f, 1.0f);
    mesh->box.halfExtents = box.maximum - centre;
}

void* Tree::storedMesh(uint32_t level) const
{
    return state_->mesh(level);
}

void Tree::createEntities(EntityManager::Entity& entity, uint32_t level, const matrix3d* transform,
                          StateCallback trunk, FoliageCallback foliage)
{
    entity.clear();
    addEntities(entity, level, transform, std::move(trunk), std::move(foliage));
}

EntityManager::SubEntity* Tree::addEntities(EntityManager::Entity& entity, uint32_t level, const matrix3d* transform,
                                            StateCallback trunk, FoliageCallback foliage)
{
    StoredMesh* mesh = state_->mesh(level);
    if (!mesh)
        return nullptr;
    if (hasLevel(level) && (!mesh->vertexBuffer || !mesh->indexBuffer))
        buildLevel(level);
    // A sub-entity on its own matrix (the transform), or on the entity's,
    // whose box then grows by the mesh's world box.
    const auto add = [&entity, transform](StoredMesh& drawn, StateCallback states) -> EntityManager::SubEntity* {
        EntityManager::SubEntity* sub = entity.addSubEntity(drawn, transform != nullptr, std::move(states), nullptr);
        if (!sub)
            return nullptr;
        if (transform) {
            sub->local = *transform;
        } else {
            vec3d minimum, maximum;
            drawn.box.alignedBounds(minimum, maximum);
            BoundingBox& box = entity.localBox;
            for (int axis = 0; axis < 3; ++axis) {
                box.minimum[axis] = std::min(box.minimum[axis], minimum[axis]);
                box.maximum[axis] = std::max(box.maximum[axis], maximum[axis]);
            }
            box.center = (box.minimum + box.maximum) * 0.5f;
        }
        sub->recordStateBlocks();
        return sub;
    };
    EntityManager::SubEntity* trunkEntity = add(*mesh, std::move(trunk));
    for (const auto& object : state_->foliage) {
        Foliage* f = object.get();
        StoredMesh* leaves = f->mesh(level);
        if (!leaves)
            continue;
        if (hasLevel(level) && (!leaves->vertexBuffer || !leaves->indexBuffer))
            f->build(level);
        StateCallback states;
        if (foliage)
            states = [foliage, f](Shader& record) { foliage(record, *f); };
        add(*leaves, std::move(states));
    }
    entity.updatePlacement();
    return trunkEntity;
}

void Tree::setFoliageMaterial(Shader& record, Foliage& foliage)
{
    foliage.setMaterial(record);
}

void Tree::setTrunkMaterial(Shader& record)
{
    record.material.Diffuse = {diffuse, diffuse, diffuse, 1.0f};
    record.material.Ambient = {ambient, ambient, ambient, 1.0f};
    record.textures[0].release();
    if (state_->bark.isBound())
        record.textures[0].bind(state_->bark.texture());
    if (!gDevice)
        return;
    gDevice->SetMaterial(&record.material);
    // Stage 0 always (no bark binds no texture), the others when set.
    for (int stage = 0; stage < Shader::stages; ++stage)
        if (stage == 0 || record.textures[stage].isBound())
            TextureDevice::bindTexture(uint32_t(stage), record.textures[stage].texture());
}

uint32_t Tree::intersect(const BoundingBox& query)
{
    hit = 0;
    const StoredMesh* mesh = state_->mesh(lod);
    if (mesh) {
        OrientedBox box;
        box.center = query.center;
        box.radius = 1.0f;
        box.radiusSq = query.radiusSq;
        box.axes[0] = vec3d(1.0f, 0.0f, 0.0f);
        box.axes[1] = vec3d(0.0f, 1.0f, 0.0f);
        box.axes[2] = vec3d(0.0f, 0.0f, 1.0f);
        box.halfExtents = query.maximum - query.center;
        if (OrientedBox::overlaps(box, mesh->box)) {
            Bough::Box q;
            q.centre = query.center;
            q.minimum = query.minimum;
            q.maximum = query.maximum;
            hit = bough(lod).markOverlap(q);
        }
    }
    return hit;
}

BoundingBox Tree::getBounds() const
{
    BoundingBox bounds{{}, 1.0f, 0.0f, {}, {}};
    const StoredMesh* mesh = state_->mesh(lod);
    if (mesh && mesh->box.halfExtents.lengthSq() > 0.0f) {
        const vec3d& c = mesh->box.center;
        vec3d e;
        for (int i = 0; i < 3; ++i)
            e[i] = std::fabs(mesh->box.axes[0][i]) * mesh->box.halfExtents.x +
                   std::fabs(mesh->box.axes[1][i]) * mesh->box.halfExtents.y +
                   std::fabs(mesh->box.axes[2][i]) * mesh->box.halfExtents.z;
        bounds.minimum = c - e;
        bounds.maximum = c + e;
    } else {
        const Bough::Box& box = state_->boxes[meshSlot(lod)];
        bounds.minimum = box.minimum;
        bounds.maximum = box.maximum;
    }
    bounds.center = (bounds.minimum + bounds.maximum) * 0.5f;
    // The foliage's boxes join it.
    for (const auto& object : state_->foliage) {
        const StoredMesh* leaves = object->mesh(lod);
        if (!leaves || !(leaves->box.halfExtents.lengthSq() > 0.0f))
            continue;
        vec3d minimum, maximum;
        leaves->box.alignedBounds(minimum, maximum);
        if (bounds.maximum == bounds.minimum) {
            bounds.minimum = minimum;
            bounds.maximum = maximum;
        } else {
            for (int axis = 0; axis < 3; ++axis) {
                bounds.minimum[axis] = std::min(bounds.minimum[axis], minimum[axis]);
                bounds.maximum[axis] = std::max(bounds.maximum[axis], maximum[axis]);
            }
        }
        bounds.center = (bounds.minimum + bounds.maximum) * 0.5f;
    }
    return bounds;
}

uint32_t Tree::countVertices() const
{
    const StoredMesh* mesh = state_->mesh(lod);
    uint32_t count = mesh ? mesh->vertexCount : 0;
    for (const auto& object : state_->foliage)
        if (const StoredMesh* leaves = object->mesh(lod))
            count += leaves->vertexCount;
    return count;
}

uint32_t Tree::countTriangles() const
{
    const StoredMesh* mesh = state_->mesh(lod);
    uint32_t count = mesh ? mesh->triangleCount : 0;
    for (const auto& object : state_->foliage)
        if (const StoredMesh* leaves = object->mesh(lod))
            count += leaves->triangleCount;
    return count;
}
