// Texture records, references and the global list: binding, releasing,
// destroying and the lookup by name.
#include <TextureRecord.h>

#include "Render/D3DDevice.h"

#include <cstring>

Texture Texture::empty;

namespace {

// Never destroyed: references held by static objects may be released after
// every other static object of the program is gone.
SCList<Texture>& gTextureList = *new SCList<Texture>;

}

TextureRef::TextureRef(const TextureRef& other) : texture_(&Texture::empty)
{
    bind(other.texture_);
}

TextureRef::TextureRef(TextureRef&& other) noexcept : node_(other.node_), texture_(other.texture_)
{
    if (node_)
        node_->item = this;
    other.node_ = nullptr;
    other.texture_ = &Texture::empty;
}

TextureRef& TextureRef::operator=(const TextureRef& other)
{
    // An unbound other holds the empty record, which bind turns into a release.
    bind(other.texture_);
    return *this;
}

TextureRef& TextureRef::operator=(TextureRef&& other) noexcept
{
    if (this == &other)
        return *this;
    // Taking over other's binding first keeps a record shared by both alive.
    SCList<TextureRef>::Node* node = other.node_;
    Texture* record = other.texture_;
    other.node_ = nullptr;
    other.texture_ = &Texture::empty;
    release();
    node_ = node;
    texture_ = record;
    if (node_)
        node_->item = this;
    return *this;
}

void TextureRef::bind(Texture* record)
{
    // Releasing first would destroy a record this reference holds last.
    if (node_ && texture_ == record)
        return;
    if (node_)
        release();
    if (!record || record == &Texture::empty)
        return;
    SCList<TextureRef>::Node* node = record->references.append(this);
    if (!node)
        return;
    node_ = node;
    texture_ = record;
}

TextureRef* TextureRef::release()
{
    if (!node_)
        return nullptr;
    Texture* record = texture_;
    TextureRef* item = record->references.unlink(node_);
    node_ = nullptr;
    texture_ = &Texture::empty;
    if (record->references.count() == 0)
        TextureList::removeFromOwner(record->listNode, true);
    return item;
}

void TextureRef::destroy(TextureRef* reference)
{
    if (!reference)
        return;
    reference->release();
    delete reference;
}

void TextureRef::detach()
{
    node_ = nullptr;
    texture_ = &Texture::empty;
}

void Texture::destroy(Texture* record)
{
    if (!record || record == &empty)
        return;
    D3D::releaseInterface(record->texture);
    D3D::releaseInterface(record->cubeTexture);
    delete record->name;
    record->name = nullptr;
    record->freeRects.clear();
    // References of other owners are never deleted: they become empty.
    record->references.clearWith([](TextureRef* reference) { reference->detach(); });
    delete record;
}

bool Texture::findByName(TextureRef& ref, const String& name)
{
    const int32_t length = name.length();
    const wchar_t* wanted = name.buffer();
    if (!wanted)
        return false;
    for (TextureList::Node* node = gTextureList.head(); node; node = node->next) {
        Texture* record = node->item;
        if (!record || !record->name || !record->name->buffer() || record->name->buffer()[0] == 0)
            continue;
        if (record->name->length() != length ||
            std::memcmp(record->name->buffer(), wanted, size_t(length) * sizeof(wchar_t)) != 0)
            continue;
        ref.bind(record);
        return true;
    }
    return false;
}

void Texture::releaseAll()
{
    // Records are destroyed in list order; a reference released from inside
    // a destruction finds its record's node already ownerless.
    gTextureList.clearWith([](Texture* record) {
        record->listNode = nullptr;
        destroy(record);
    });
}

SCList<Texture>& TextureList::records()
{
    return gTextureList;
}

TextureList::Node* TextureList::append(Texture* record)
{
    return gTextureList.append(record);
}

Texture* TextureList::remove(SCList<Texture>& list, Node* node, bool destroy)
{
    Texture* record = list.unlink(node);
    if (!record)
        return nullptr;
    record->listNode = nullptr;
    if (!destroy)
        return record;
    Texture::destroy(record);
    return nullptr;
}

Texture* TextureList::removeFromOwner(Node* node, bool destroy)
{
    if (!node || !node->owner)
        return nullptr;
    return remove(*node->owner, node, destroy);
}
