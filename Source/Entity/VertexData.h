#pragma once
// Vertex formats and the vertex-data element of the mesh template.
//
// A vertex type V is either vec3d (a bare position) or a plain record whose
// members are named position, normal, colour and uv, present exactly as its
// flexible vertex format code says and laid out in the Direct3D order
// (position, normal, colour, uv). The template checks this at compile time,
// so the vertex part of an element is what a vertex buffer of that format
// holds.

#include "Core/Color.h"
#include "Core/Vector.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

// The flexible vertex format bits the engine's vertex types use, with the
// tests the mesh readers make on stored formats.
namespace VertexFormat {

constexpr uint32_t xyz = 0x002;
constexpr uint32_t normal = 0x010;
constexpr uint32_t diffuse = 0x040;
constexpr uint32_t texCountMask = 0xF00;

constexpr bool hasPosition(uint32_t fvf) { return (fvf & 0x400E) == xyz; }
constexpr bool hasNormal(uint32_t fvf) { return (fvf & normal) != 0; }
constexpr bool hasColour(uint32_t fvf) { return (fvf & diffuse) != 0; }
constexpr bool hasUv(uint32_t fvf) { return (fvf & texCountMask) != 0; }

constexpr uint32_t normalOffset(uint32_t fvf) { return hasPosition(fvf) ? 12 : 0; }
constexpr uint32_t colourOffset(uint32_t fvf) { return normalOffset(fvf) + (hasNormal(fvf) ? 12 : 0); }
constexpr uint32_t uvOffset(uint32_t fvf) { return colourOffset(fvf) + (hasColour(fvf) ? 4 : 0); }
// Bytes of the components above (a single uv pair at most).
constexpr uint32_t size(uint32_t fvf) { return uvOffset(fvf) + (hasUv(fvf) ? 8 : 0); }

// A format of the components both formats have (one uv pair at most): what a
// stored vertex record of format a holds for a mesh of format b.
constexpr uint32_t shared(uint32_t a, uint32_t b)
{
    return (hasPosition(a) && hasPosition(b) ? xyz : 0) | (hasNormal(a) && hasNormal(b) ? normal : 0) |
           (hasColour(a) && hasColour(b) ? diffuse : 0) | (hasUv(a) && hasUv(b) ? 0x100 : 0);
}

}

// The addresses of one vertex's four components. A component the vertex
// type lacks points at the shared placeholder of its kind, so generic code
// reads and writes every component of every vertex type alike; what lands in
// a placeholder is meaningless and never read back as data.
struct VertexComponents
{
    vec3d* position = nullptr;
    vec3d* normal = nullptr;
    Color* colour = nullptr;
    vec2d* uv = nullptr;
};

namespace VertexPlaceholder {
inline vec3d normal;
inline Color colour;
inline vec2d uv;
}

// One element of a mesh's vertex-data array: the vertex, then its component
// addresses. Construction points them into this element's own vertex (or at
// the placeholders) and zeroes the vertex; copying moves the vertex part only,
// so every element keeps pointing into itself when an array grows.
template <class V, uint32_t FVF>
struct VertexData
{
    static constexpr bool bare = std::is_same_v<V, vec3d>;

    V vertex{};
    VertexComponents components;

    VertexData() { point(); }
    VertexData(const VertexData& other) : vertex(other.vertex) { point(); }
    VertexData& operator=(const VertexData& other)
    {
        vertex = other.vertex;
        return *this;
    }

private:
    static_assert(std::is_trivially_copyable_v<V> && std::is_standard_layout_v<V>);
    static_assert(VertexFormat::hasPosition(FVF), "every mesh vertex has a position");
    static_assert(sizeof(V) == VertexFormat::size(FVF), "the vertex type holds exactly its format's components");

    void point()
    {
        if constexpr (bare) {
            static_assert(FVF == VertexFormat::xyz);
            components.position = &vertex;
            components.normal = &VertexPlaceholder::normal;
            components.colour = &VertexPlaceholder::colour;
            components.uv = &VertexPlaceholder::uv;
        } else {
            static_assert(offsetof(V, position) == 0);
            components.position = &vertex.position;
            if constexpr (VertexFormat::hasNormal(FVF)) {
                static_assert(offsetof(V, normal) == VertexFormat::normalOffset(FVF));
                components.normal = &vertex.normal;
            } else {
                components.normal = &VertexPlaceholder::normal;
            }
            if constexpr (VertexFormat::hasColour(FVF)) {
                static_assert(offsetof(V, colour) == VertexFormat::colourOffset(FVF));
                components.colour = &vertex.colour;
            } else {
                components.colour = &VertexPlaceholder::colour;
            }
            if constexpr (VertexFormat::hasUv(FVF)) {
                static_assert(offsetof(V, uv) == VertexFormat::uvOffset(FVF));
                components.uv = &vertex.uv;
            } else {
                components.uv = &VertexPlaceholder::uv;
            }
        }
    }
};
