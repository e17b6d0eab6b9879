#pragma once
// The editing interface every mesh implements, and the views that hold it.
//
// Mesh<V,FVF> derives from MeshTools, Shaper and Framer, each with a
// MeshInterface of its own; the template implements the 21 operations once,
// so a caller holding a mesh through any of the three views gets the same
// behaviour. One piece of building code serves every vertex type through the
// vertex accessor (VertexComponents).
//
// Counts are the mesh's own: getVertexCount and getIndexCount return their
// addresses, and a caller that filled vertices or indices through the
// growing accessors sets them. The mesh's operations never read past its
// arrays, whatever a caller stores there.
// Meshes are single-threaded: one thread builds or edits a mesh at a time.

#include "Entity/VertexData.h"

#include <cstdint>

class String;
class TextureRef;
class BoneAnim;
struct BoundingBox;

class MeshInterface
{
public:
    virtual String* getName() = 0;
    // The flexible vertex format code of the vertex type.
    virtual uint32_t getFvf() = 0;
    // Grows the vertex-data array (whole blocks) to hold element i and returns
    // its accessor; null for a negative i or when the array cannot grow.
    virtual VertexComponents* getVertexData(int32_t i) = 0;
    // The same on the skinned copy that applyBones writes.
    virtual VertexComponents* getSkinnedVertexData(int32_t i) = 0;
    virtual int32_t* getVertexCount() = 0;
    // Stores index at the index count and counts it; null (nothing counted)
    // when the array cannot grow.
    virtual uint16_t* addIndex(uint16_t index) = 0;
    // Appends source[k] + offset for k = 0..n-1, or source[n-1-k] + offset
    // with reverse set. Nothing for n <= 0 or when the array cannot grow.
    virtual void appendIndices(const uint16_t* source, int32_t n, uint16_t offset, bool reverse) = 0;
    // Drops index i, moving the later ones down; nothing when i is not a
    // counted index.
    virtual void removeIndex(int32_t i) = 0;
    // The address of index i, growing the array to hold it; null as above.
    virtual uint16_t* getIndex(int32_t i) = 0;
    virtual uint16_t* getIndices() = 0;
    // Grows the index array to hold n indices; returns its data.
    virtual uint16_t* reserveIndices(int32_t n) = 0;
    virtual int32_t* getIndexCount() = 0;
    // Three addIndex calls; the address of the last index.
    virtual uint16_t* addTriangle(uint16_t a, uint16_t b, uint16_t c) = 0;
    // Drops triangle n (indices 3n to 3n + 2); nothing when it does not exist.
    virtual void removeTriangle(int32_t n) = 0;
    virtual void setBounds(const BoundingBox& box) = 0;
    virtual BoundingBox* getBounds() = 0;
    // Minimum, maximum and centre of the counted vertex positions; the radius
    // fields are left alone. Without vertices only the centre is recomputed.
    virtual void calcBounds() = 0;
    // The mesh shares the texture of texture (an unbound one clears it).
    virtual void setTexture(const TextureRef& texture) = 0;
    virtual TextureRef* getTexture() = 0;
    virtual BoneAnim* getBoneAnim() = 0;
    // Poses the counted vertices through the skeleton into the skinned
    // vertex data; nothing without bones. Bone vertex numbers at or past the
    // vertex count are skipped.
    virtual void applyBones() = 0;

protected:
    MeshInterface() = default;
    MeshInterface(const MeshInterface&) = default;
    MeshInterface& operator=(const MeshInterface&) = default;
    ~MeshInterface() = default;
};

// The views through which builders hold meshes; they add nothing.
class Primitive : public MeshInterface
{
protected:
    ~Primitive() = default;
};

class Shaper : public Primitive
{
protected:
    ~Shaper() = default;
};

class Framer : public MeshInterface
{
protected:
    ~Framer() = default;
};
