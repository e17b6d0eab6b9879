#pragma once
// Shared texture records: every Direct3D texture of the engine lives in one
// Texture record, found by name in the global TextureList and held through
// TextureRef values. Objects that embed a TextureRef include this header only;
// it needs no Direct3D header. Main thread only: nothing here locks.

#include "Core/RectList.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <cstdint>

struct IDirect3DTexture9;
struct IDirect3DCubeTexture9;
struct _D3DSURFACE_DESC; // D3DSURFACE_DESC
struct Color24;
class FileInterface;
class ImageData;
struct Texture;

// A reference to a Texture record. An unbound reference points at the empty
// record (Texture::empty, the default checkerboard once a device exists), so
// texture() is never null. A bound reference occupies a node of its record's
// reference list whose item is the reference's own address: copies bind the
// record anew and moves re-point that node, never a bitwise copy.
class TextureRef
{
public:
    TextureRef();
    TextureRef(const TextureRef& other);
    TextureRef(TextureRef&& other) noexcept;
    TextureRef& operator=(const TextureRef& other);
    TextureRef& operator=(TextureRef&& other) noexcept;
    ~TextureRef() { release(); }

    // Binds to record, releasing the previous binding first (which may
    // destroy the record it was bound to). Binding to the record already
    // bound keeps the binding; binding to the empty record or null releases.
    void bind(Texture* record);
    // Unbinds; a record whose last reference this was is destroyed. Returns
    // the item of the removed node (this reference), null when unbound.
    TextureRef* release();
    // release, then deletes a heap reference.
    static void destroy(TextureRef* reference);

    Texture* texture() const { return texture_; }
    SCList<TextureRef>::Node* node() const { return node_; }
    bool isBound() const { return node_ != nullptr; }

private:
    friend struct Texture;
    void detach();

    SCList<TextureRef>::Node* node_ = nullptr;
    Texture* texture_;
};

// One shared texture. A record lives while a reference is bound to it (or,
// when never bound, until Texture::releaseAll). Not copyable.
struct Texture
{
    SCList<TextureRef> references;
    SCList<Texture>::Node* listNode = nullptr;
    IDirect3DTexture9* texture = nullptr;         // null for a cube record
    IDirect3DCubeTexture9* cubeTexture = nullptr; // only in a cube record
    String* name = nullptr;
    RectList freeRects; // free space of an atlas
    uint32_t alphaBled = 0;
    // Set while the texture is a render target being drawn into (an
    // environment or shadow cube map): passes then bind no texture instead.
    uint32_t busy = 0;

    Texture() = default;
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Stands for "no texture": never listed, never destroyed. Holds the
    // default checkerboard "default.bmp" while a device exists.
    static Texture empty;

    // Record operations.
    // Releases the Direct3D objects, the name and the free rectangles, leaves
    // every reference still bound empty, and frees the record. The caller has
    // taken the record out of TextureList.
    static void destroy(Texture* record);
    // Binds ref to the oldest live record named exactly name (case-sensitive,
    // empty names never match). False, ref untouched, when there is none.
    static bool findByName(TextureRef& ref, const String& name);
    // Destroys every listed record (device release and exit).
    static void releaseAll();

    // The device gate: true when the device exists and TestCooperativeLevel
    // gives D3D_OK. Gated routines create nothing otherwise.
    static bool deviceReady();

    // Creation. Formats and pools are D3DFORMAT and D3DPOOL values; 0xFFFFFFFF
    // is D3DX_DEFAULT. Each routine binds ref to a new record on success and
    // returns true; on failure ref keeps what it had and false is returned.
    // Names passed by value belong to the routine.

    // The 32 x 32 checkerboard of the empty record (device creation).
    static void createDefault();
    // The empty record's texture and name (device release).
    static void releaseDefault();
    static bool createFromFileByName(TextureRef& ref, String name, const Color24* colourKey, uint32_t mipLevels,
                                     uint32_t format, uint32_t pool, uint32_t width, uint32_t height, bool reload);
    static bool loadFromFile(TextureRef& ref, String name, uint32_t width, uint32_t height, const Color24* colourKey,
                             uint32_t mipLevels, uint32_t format, uint32_t pool, uint32_t filter, bool reload);
    static bool loadFromMemory(FileInterface& stream, const Color24* colourKey, TextureRef& ref, String name,
                               uint32_t width, uint32_t height, uint32_t mipLevels, uint32_t format, uint32_t pool,
                               uint32_t filter);
    // type is one of the texture file extensions, compared exactly; the
    // resource is RT_RCDATA.
    static bool loadFromResource(TextureRef& ref, String name, const String& type, uint16_t id, uint32_t width,
                                 uint32_t height, const Color24* colourKey, uint32_t mipLevels, uint32_t format,
                                 uint32_t pool, uint32_t filter, bool reload);
    static bool loadCubeFromMemory(FileInterface& stream, const Color24* colourKey, TextureRef& ref, String name,
                                   uint32_t size, uint32_t mipLevels, uint32_t format, uint32_t pool,
                                   uint32_t filter);
    // Creates record's cube texture; 0 without doing anything while the
    // device is lost, else the HRESULT of CreateCubeTexture.
    static long createCubeObject(Texture* record, uint32_t edge, uint32_t levels, uint32_t usage, uint32_t format,
                                 uint32_t pool);
    // A record made while the device is lost is bound without a cube texture.
    static bool createCube(TextureRef& ref, String name, uint32_t edge, uint32_t levels, uint32_t usage,
                           uint32_t format, uint32_t pool);
    // Width and height of at least 2.
    static bool create(TextureRef& ref, String name, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                       uint32_t format, uint32_t pool);
    // Module resource id decoded by the engine's own image reader.
    static bool loadImageFile(TextureRef& ref, String name, const String& type, uint16_t id, uint32_t levels,
                              uint32_t format, uint32_t pool, bool powerOfTwo, const Color24* colourKey);
    static bool createFromImage(TextureRef& ref, String name, const ImageData& image, uint32_t levels, uint32_t pool,
                                uint32_t format, bool powerOfTwo, const Color24* colourKey);
    // A managed copy in format through an in-memory DDS file; levels
    // 0xFFFFFFFF keeps the source's level count. False, ref unchanged, when
    // the copy cannot be made in that format (D3DFMT_UNKNOWN: any).
    static bool createCopyViaMemory(const TextureRef& source, uint32_t levels, TextureRef& ref, uint32_t format);

    // Texture blocks: u32 levelCount, u32 byteCount, an image file of
    // byteCount bytes in the D3DX file format fileFormat.
    static bool writeToStream(FileInterface& stream, const TextureRef& ref, uint32_t fileFormat);
    // levels 0xFFFFFFFF: a full mip chain, else the stored level count.
    static bool readFromStream(FileInterface& stream, TextureRef& ref, uint32_t levels);
    // Raw texture block: u32 levelCount, the level-0 surface description
    // (eight u32), packed level-0 texels. Descriptions outside what a loaded
    // texture may be are refused.
    static bool readRaw(FileInterface& stream, TextureRef& ref);

    // Pixel operations; each does nothing for an unbound reference.
    static void generateMipLevels(const TextureRef& ref);
    // Inclusive rectangle; -1 coordinates mean the whole level. colour
    // points at four bytes blue, green, red, alpha.
    static void fillRect(const TextureRef& ref, int32_t x0, int32_t x1, int32_t y0, int32_t y1, const uint8_t* colour,
                         uint32_t level, bool subtract, bool writeAlpha);
    static void alphaFromRed(const TextureRef& ref);
    static void whiteFromRed(const TextureRef& ref);
    static void bleedIntoTransparent(const TextureRef& ref);
    // Writes every level-0 texel through texel(address, x, y, level 0's
    // description), the sun's texel function.
    using TexelFunction = void (*)(uint8_t* texel, uint32_t x, uint32_t y, const _D3DSURFACE_DESC& level);
    static void fillProcedural(const TextureRef& ref, TexelFunction texel);
    // A texture like source (size, levels, usage, format, pool) with its
    // level 0 and mip levels made from it. False, ref unchanged, when no
    // such texture can be made or source's level 0 cannot be read.
    static bool duplicate(const TextureRef& source, TextureRef& ref);
    // Level 0 of a render target (2D, or the six faces of a cube) into a
    // lockable texture of the same size and format.
    static void copyRenderTarget(const TextureRef& source, const TextureRef& destination);

    // Atlas: copies piece into a free rectangle of atlas, or grows atlas.
    // The matrices (nine floats, row-major 3 x 3) tell where the old
    // contents and the piece now lie.
    static void insertIntoAtlas(const TextureRef& atlas, const TextureRef& piece, float* oldMatrix,
                                float* pieceMatrix);
};

// The one list of live records, in creation order.
class TextureList
{
public:
    using Node = SCList<Texture>::Node;

    static SCList<Texture>& records();
    // Appends record; the caller stores the node in record->listNode.
    static Node* append(Texture* record);
    // Unlinks node; with destroy set destroys its record and returns null,
    // else returns the record.
    static Texture* remove(SCList<Texture>& list, Node* node, bool destroy);
    static Texture* removeFromOwner(Node* node, bool destroy);
};

inline TextureRef::TextureRef() : texture_(&Texture::empty) {}
