#pragma once
// The integer-cell octree of scene items: the sub-entities of one stored mesh
// (cells of 512 units) and the objects placed in a level (cells of 2048).
//
// A node covers a box of whole cells; an item sits in the deepest node whose
// box holds the item's cell box without straddling a child's midplane. The
// tree grows upward, doubling the root's edge toward an item beyond it, and
// nodes are pruned as soon as they hold neither items nor children. Items
// keep their node and their list node inside it (the two slots handed to
// insert). S carries a node's extra data (the level objects' sprite records).
//
// Cells are clamped to +-cellLimit before they reach a tree, so edges and
// midpoints stay far from 32-bit overflow whatever coordinates come in.
// Single-threaded: the owner guards a tree shared between threads.

#include "Core/BoundingBox.h"
#include "Core/Math.h"
#include "Core/SCList.h"

#include <algorithm>
#include <cstdint>
#include <new>

struct SceneOctreeEmpty
{
};

// A box of whole cells, both corners inclusive.
struct CellBox
{
    static constexpr int32_t unplaced = 0x7FFFFFFF;

    int32_t minimum[3] = {unplaced, unplaced, unplaced};
    int32_t maximum[3] = {unplaced, unplaced, unplaced};

    bool operator==(const CellBox& o) const
    {
        return std::equal(minimum, minimum + 3, o.minimum) && std::equal(maximum, maximum + 3, o.maximum);
    }
    bool isPlaced() const { return minimum[0] != unplaced; }
};

namespace SceneCells {

// Far beyond any level (5e8 units in entity cells), far below the overflow
// of the tree's doubled edges.
constexpr int32_t cellLimit = 1 << 20;

// v / cellSize bounded to the limit; NaN gives 0.
inline float boundedQuotient(float v, float cellSize)
{
    const float q = v / cellSize;
    if (!(q == q))
        return 0.0f;
    return std::clamp(q, -float(cellLimit), float(cellLimit));
}

// The entity rule: truncated toward zero, minus one for negative values
// (-1024 gives -3 in cells of 512, -0.5 gives -1). The cell's box always
// holds v, sometimes on its upper edge.
inline int32_t truncated(float v, float cellSize)
{
    const int32_t cell = int32_t(boundedQuotient(v, cellSize));
    return v < 0.0f ? cell - 1 : cell;
}

// The level-object rule: the floor (-1 gives -1, 2048 gives 1 in cells of 2048).
inline int32_t floored(float v, float cellSize)
{
    return int32_t(floorFloat(boundedQuotient(v, cellSize)));
}

// The cells of a box's corners by the entity rule; corners given the wrong
// way round are swapped.
inline CellBox truncatedBox(const vec3d& minimum, const vec3d& maximum, float cellSize)
{
    CellBox cells;
    for (int a = 0; a < 3; ++a) {
        const int32_t low = truncated(minimum[a], cellSize), high = truncated(maximum[a], cellSize);
        cells.minimum[a] = std::min(low, high);
        cells.maximum[a] = std::max(low, high);
    }
    return cells;
}

}

template <class T, class S = SceneOctreeEmpty>
class SceneOctree : public S
{
public:
    using ItemNode = typename SCList<T>::Node;

    // Octant answers besides 0..7.
    static constexpr int outside = -2;
    static constexpr int staysHere = -1;

    explicit SceneOctree(bool deleteItemsFlag) : deleteItems(deleteItemsFlag) {}
    SceneOctree(const SceneOctree&) = delete;
    SceneOctree& operator=(const SceneOctree&) = delete;

    // Empties the item list (deleting the items when deleteItems is set), then
    // deletes the children in octant order. Items that are not deleted keep
    // stale node slots: their owner clears them.
    ~SceneOctree()
    {
        if (deleteItems)
            items.clearWith([](T* item) { delete item; });
        else
            items.clear(false);
        for (SceneOctree*& child : children) {
            delete child;
            child = nullptr;
        }
    }

    // Nodes a tree gave up, kept for its next ones: an item that crosses
    // cells frees nodes on one side and asks for as many on the other, and
    // a kept node spares the heap both trips. Each tree's owner keeps its
    // own list (and guards it with the tree); a list keeps a few nodes and
    // frees them when it goes.
    class Spares
    {
    public:
        static constexpr int32_t kept = 32;

        Spares() = default;
        Spares(const Spares&) = delete;
        Spares& operator=(const Spares&) = delete;
        ~Spares()
        {
            while (head_) {
                Spare* next = head_->next;
                ::operator delete(static_cast<void*>(head_), sizeof(SceneOctree));
                head_ = next;
            }
        }

        int32_t count() const { return count_; }

    private:
        friend class SceneOctree;
        struct Spare
        {
            Spare* next;
        };
        static_assert(sizeof(Spare) <= sizeof(SceneOctree));

        Spare* head_ = nullptr;
        int32_t count_ = 0;
    };

    bool hasChildren() const
    {
        for (const SceneOctree* child : children)
            if (child)
                return true;
        return false;
    }

    // Where item goes from this node: outside when it is not inside the node
    // on every axis; staysHere for a node of size 1 or an item straddling a
    // midplane; else the octant (bit 0 upper x, bit 1 upper y, bit 2 upper z)
    // with the child's cell box in child.
    int octant(const CellBox& item, CellBox& child) const
    {
        for (int a = 0; a < 3; ++a)
            if (item.minimum[a] < cells.minimum[a] || item.maximum[a] > cells.maximum[a])
                return outside;
        if (size == 1)
            return staysHere;
        int result = 0;
        for (int a = 0; a < 3; ++a) {
            const int32_t mid = (cells.minimum[a] + cells.maximum[a]) >> 1;
            if (item.minimum[a] > mid) {
                result |= 1 << a;
                child.minimum[a] = mid + 1;
                child.maximum[a] = cells.maximum[a];
            } else if (item.maximum[a] > mid) {
                return staysHere;
            } else {
                child.minimum[a] = cells.minimum[a];
                child.maximum[a] = mid;
            }
        }
        return result;
    }

    // The float box of the cells: the minimum corner of the first cell to the
    // maximum corner of the last.
    void setCells(const CellBox& box, float cellSize)
    {
        cells = box;
        size = 0;
        vec3d low, high;
        for (int a = 0; a < 3; ++a) {
            size = std::max(size, cells.maximum[a] - cells.minimum[a] + 1);
            low[a] = float(cells.minimum[a]) * cellSize;
            high[a] = float(cells.maximum[a]) * cellSize + cellSize;
        }
        bounds.minimum = low;
        bounds.maximum = high;
        bounds.center = (low + high) * 0.5f;
        bounds.radiusSq = (bounds.center - high).lengthSq();
        bounds.radius = fastSqrt(bounds.radiusSq);
    }

    // The deepest node that holds itemCells, searched from start, climbing
    // or growing the tree (a new root is stored in root) and making children
    // as needed. Null when the tree could not grow; a child that cannot be
    // made leaves its parent as the answer.
    static SceneOctree* locate(SceneOctree* start, const CellBox& itemCells, float cellSize, SceneOctree*& root,
                               Spares* spares = nullptr)
    {
        SceneOctree* node = start;
        if (node->size == -1) {
            int32_t side = 0;
            for (int a = 0; a < 3; ++a)
                side = std::max(side, itemCells.maximum[a] - itemCells.minimum[a]);
            CellBox cubic = itemCells;
            for (int a = 0; a < 3; ++a)
                cubic.maximum[a] = cubic.minimum[a] + side;
            node->setCells(cubic, cellSize);
        }
        for (;;) {
            CellBox childCells;
            const int where = node->octant(itemCells, childCells);
            if (where == staysHere)
                return node;
            if (where == outside) {
                if (node->parent) {
                    node = node->parent;
                    continue;
                }
                SceneOctree* grown = grow(node, itemCells, cellSize, spares);
                if (!grown)
                    return nullptr;
                root = grown;
                node = grown;
                continue;
            }
            SceneOctree*& slot = node->children[where];
            if (!slot) {
                SceneOctree* child = make(node->deleteItems, spares);
                if (!child)
                    return node;
                child->parent = node;
                child->backReference = &slot;
                child->setCells(childCells, cellSize);
                slot = child;
            }
            node = slot;
        }
    }

    // Puts item into the node locate finds. When itemNode already names it
    // nothing changes; an item listed elsewhere (itemNode and itemListNode
    // set) moves its list node over, else a list node is appended; the slots
    // then name the node and the list node. Returns the node, or null when
    // memory ran out before the item had a new node (the slots are then
    // untouched).
    static SceneOctree* insert(SceneOctree* start, const CellBox& itemCells, float cellSize, SceneOctree*& root,
                               T* item, SceneOctree*& itemNode, ItemNode*& itemListNode, Spares* spares = nullptr)
    {
        SceneOctree* node = locate(start, itemCells, cellSize, root, spares);
        if (!node || itemNode == node)
            return node;
        if (itemNode && itemListNode) {
            itemNode->items.transfer(itemListNode, node->items);
        } else {
            ItemNode* listNode = node->items.append(item);
            if (!listNode)
                return nullptr;
            itemListNode = listNode;
        }
        itemNode = node;
        return node;
    }

    // Unlinks listNode from list; with deleteItem the item is deleted and
    // null returned, else the item is returned.
    static T* unlink(SCList<T>& list, ItemNode* listNode, bool deleteItem)
    {
        T* item = list.unlink(listNode);
        if (deleteItem) {
            delete item;
            return nullptr;
        }
        return item;
    }

    // Deletes node when it holds neither items nor children, then each
    // ancestor that is left the same way; clears root when the root goes.
    static void prune(SceneOctree* node, SceneOctree*& root, Spares* spares = nullptr)
    {
        while (node && node->items.count() == 0 && !node->hasChildren()) {
            SceneOctree* parent = node->parent;
            if (node->backReference)
                *node->backReference = nullptr;
            else if (root == node)
                root = nullptr;
            recycle(node, spares);
            node = parent;
        }
    }

    // Places an item by its cells in the tree under root (made with
    // deleteItemsAtRoot when missing): an item already placed climbs from its
    // node only as far as needed, and its old node is pruned when it moved.
    // False when memory ran out (the item stays where it was).
    static bool place(SceneOctree*& root, const CellBox& itemCells, float cellSize, bool deleteItemsAtRoot, T* item,
                      SceneOctree*& itemNode, ItemNode*& itemListNode, Spares* spares = nullptr)
    {
        SceneOctree* oldNode = itemNode;
        if (!oldNode && !root) {
            root = make(deleteItemsAtRoot, spares);
            if (!root)
                return false;
        }
        SceneOctree* node =
            insert(oldNode ? oldNode : root, itemCells, cellSize, root, item, itemNode, itemListNode, spares);
        if (!node) {
            if (!oldNode)
                prune(root, root, spares);
            return false;
        }
        if (oldNode && oldNode != node)
            prune(oldNode, root, spares);
        return true;
    }

    // Takes a placed item out of its node (the item stays alive), prunes, and
    // clears the item's slots.
    static void remove(SceneOctree*& root, SceneOctree*& itemNode, ItemNode*& itemListNode, Spares* spares = nullptr)
    {
        if (!itemNode)
            return;
        SceneOctree* node = itemNode;
        node->items.unlink(itemListNode);
        itemNode = nullptr;
        itemListNode = nullptr;
        prune(node, root, spares);
    }

    CellBox cells;
    SceneOctree* parent = nullptr;
    SceneOctree* children[8] = {};
    BoundingBox bounds{{}, 1.0f, 1.0f, {}, {}};
    // Cells per edge (the longest, for nodes below a root of odd size); -1
    // marks a root that holds nothing yet.
    int32_t size = -1;
    SCList<T> items;
    // Destroying the node deletes its items; nodes made below or above
    // inherit it.
    bool deleteItems;
    // The slot of the parent's child array that holds this node; null at the root.
    SceneOctree** backReference = nullptr;

private:
    // A new node: a kept one when spares has one, else from the heap.
    static SceneOctree* make(bool deleteItemsFlag, Spares* spares)
    {
        if (spares && spares->head_) {
            typename Spares::Spare* spare = spares->head_;
            spares->head_ = spare->next;
            --spares->count_;
            return new (static_cast<void*>(spare)) SceneOctree(deleteItemsFlag);
        }
        return new (std::nothrow) SceneOctree(deleteItemsFlag);
    }

    // Destroys node (an empty leaf) and keeps its storage in spares while
    // they have room.
    static void recycle(SceneOctree* node, Spares* spares)
    {
        if (!spares || spares->count_ >= Spares::kept) {
            delete node;
            return;
        }
        node->~SceneOctree();
        spares->head_ = new (static_cast<void*>(node)) typename Spares::Spare{spares->head_};
        ++spares->count_;
    }

    // A new root over node, twice its edge, reaching toward item on each axis.
    static SceneOctree* grow(SceneOctree* node, const CellBox& item, float cellSize, Spares* spares)
    {
        SceneOctree* parent = make(node->deleteItems, spares);
        if (!parent)
            return nullptr;
        const int32_t edge = node->size;
        CellBox box;
        int slot = 0;
        for (int a = 0; a < 3; ++a) {
            if (item.minimum[a] >= node->cells.minimum[a]) {
                box.minimum[a] = node->cells.minimum[a];
                box.maximum[a] = node->cells.maximum[a] + edge;
            } else {
                box.minimum[a] = node->cells.minimum[a] - edge;
                box.maximum[a] = node->cells.maximum[a];
                slot |= 1 << a;
            }
        }
        parent->setCells(box, cellSize);
        parent->children[slot] = node;
        node->parent = parent;
        node->backReference = &parent->children[slot];
        return parent;
    }
};
