#pragma once

#include <cstdint>
#include <new>
#include <type_traits>

// A doubly linked list of item pointers. The list never owns its items by
// type: the clear operation a caller picks decides what happens to them.
// Nodes are owned by the list; destroying the list frees its nodes but leaves
// the items alone. A list is not copyable or movable because every node
// records its owning list.
// Nothing here locks: a list shared between threads is guarded by its holder.
template <class T>
class SCList
{
public:
    struct Node
    {
        T* item;
        Node* next;
        Node* prev;
        SCList* owner;
    };
    // Four pointers: 16 bytes on 32-bit Windows, 32 on x64. Never stored in files.
    static_assert(sizeof(Node) == 4 * sizeof(void*));

    SCList() = default;
    SCList(const SCList&) = delete;
    SCList& operator=(const SCList&) = delete;
    ~SCList() { clear(false); }

    Node* head() const { return head_; }
    Node* tail() const { return tail_; }
    int32_t count() const { return count_; }

    // Links a new node holding item after the tail. Returns null, leaving the
    // list unchanged, when the node cannot be allocated.
    Node* append(T* item)
    {
        Node* node = new (std::nothrow) Node{item, nullptr, tail_, this};
        if (!node)
            return nullptr;
        if (tail_)
            tail_->next = node;
        else
            head_ = node;
        tail_ = node;
        ++count_;
        return node;
    }

    // Links a new node holding item before the head. Returns null, leaving
    // the list unchanged, when the node cannot be allocated.
    Node* prepend(T* item)
    {
        Node* node = new (std::nothrow) Node{item, head_, nullptr, this};
        if (!node)
            return nullptr;
        if (head_)
            head_->prev = node;
        else
            tail_ = node;
        head_ = node;
        ++count_;
        return node;
    }

    // Links a new node holding item right after node, which must belong to
    // this list. Returns null when node is null or foreign or allocation fails.
    Node* insertAfter(Node* node, T* item)
    {
        if (!node || node->owner != this)
            return nullptr;
        Node* added = new (std::nothrow) Node{item, node->next, node, this};
        if (!added)
            return nullptr;
        if (node->next)
            node->next->prev = added;
        else
            tail_ = added;
        node->next = added;
        ++count_;
        return added;
    }

    // Detaches and frees node and returns its item (the item is left alone).
    // Returns null when node is null or belongs to another list.
    T* unlink(Node* node)
    {
        if (!node || node->owner != this)
            return nullptr;
        if (node->prev)
            node->prev->next = node->next;
        else
            head_ = node->next;
        if (node->next)
            node->next->prev = node->prev;
        else
            tail_ = node->prev;
        T* item = node->item;
        delete node;
        --count_;
        return item;
    }

    // Moves node from this list to the tail of target, without allocating;
    // the item goes with it. False when node is null or not this list's.
    bool transfer(Node* node, SCList& target)
    {
        if (!node || node->owner != this)
            return false;
        if (node->prev)
            node->prev->next = node->next;
        else
            head_ = node->next;
        if (node->next)
            node->next->prev = node->prev;
        else
            tail_ = node->prev;
        --count_;
        node->owner = &target;
        node->next = nullptr;
        node->prev = target.tail_;
        if (target.tail_)
            target.tail_->next = node;
        else
            target.head_ = node;
        target.tail_ = node;
        ++target.count_;
        return true;
    }

    // Unlinks node from its owning list and deletes its item.
    static void removeAndDelete(Node* node)
    {
        if (!node || !node->owner)
            return;
        delete node->owner->unlink(node);
    }

    // Same as removeAndDelete; a node without an owning list is left alone.
    static void removeNode(Node* node) { removeAndDelete(node); }

    // Frees every node; deletes each item first when deleteItems is set.
    void clear(bool deleteItems)
    {
        if (deleteItems)
            clearWith([](T* item) { delete item; });
        else
            clearWith([](T*) {});
    }

    // Frees every node and deletes every item.
    void deleteAll() { clear(true); }

    // Frees every node and every item without running a destructor, which is
    // only sound for items that have none.
    void freeAll()
        requires std::is_trivially_destructible_v<T>
    {
        clear(true);
    }

    // freeAll when deleteItems is set, else only the nodes are freed.
    void clearAndFree(bool deleteItems)
        requires std::is_trivially_destructible_v<T>
    {
        clear(deleteItems);
    }

    // The walk shared by all clear operations: calls dispose(item) for each
    // non-null item from head to tail, frees every node and empties the list.
    // Holders whose items need their own teardown pass it here.
    template <class Dispose>
    void clearWith(Dispose dispose)
    {
        if (count_ == 0 && !head_)
            return;
        Node* node = head_;
        head_ = nullptr;
        tail_ = nullptr;
        count_ = 0;
        while (node) {
            Node* next = node->next;
            // An item whose teardown removes its own node finds it ownerless.
            node->owner = nullptr;
            if (node->item)
                dispose(node->item);
            delete node;
            node = next;
        }
    }

private:
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    int32_t count_ = 0;
};
