#include "Core/Containers.h"
#include "Core/String.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

namespace
{

struct Counted
{
    static int alive;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
};
int Counted::alive = 0;

// Walks the list both ways and checks links, owners and count against the items.
template <class T>
void expectList(SCList<T>& list, const std::vector<T*>& items)
{
    std::vector<T*> forward, backward;
    for (auto* node = list.head(); node && forward.size() <= items.size(); node = node->next) {
        forward.push_back(node->item);
        EXPECT_EQ(node->owner, &list);
    }
    for (auto* node = list.tail(); node && backward.size() <= items.size(); node = node->prev)
        backward.insert(backward.begin(), node->item);
    EXPECT_EQ(forward, items);
    EXPECT_EQ(backward, items);
    EXPECT_EQ(list.count(), int32_t(items.size()));
}

TEST(DynArray, GrowsInWholeBlocksAndHandsOverItsStorage)
{
    DynArray<int> a(16);
    *a.at(0) = 7;
    *a.at(16) = 9;
    EXPECT_EQ(a.count(), 32);
    EXPECT_EQ(*a.at(0), 7);
    EXPECT_EQ(*a.at(31), 0); // new elements start zeroed
    std::unique_ptr<int[]> storage(a.detach());
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(storage[16], 9);
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.detach(), nullptr);

    // Growth that would overflow the count fails and leaves the array as it was.
    DynArray<int> big(1 << 20);
    *big.at(5) = 3;
    EXPECT_FALSE(big.setBlocks(1u << 12));
    EXPECT_EQ(big.at(INT32_MAX), nullptr);
    EXPECT_EQ(big.count(), 1 << 20);
    EXPECT_EQ(*big.at(5), 3);

    for (bool elementwise : {false, true}) {
        DynArray<String> names(2, elementwise); // elements that own memory survive growth
        *names.at(0) = L"first";
        *names.at(5) = L"sixth";
        EXPECT_STREQ(names.at(0)->text(), L"first");
        EXPECT_STREQ(names.at(5)->text(), L"sixth");
    }
}

TEST(SCList, InsertAndUnlinkKeepEveryLink)
{
    int a = 1, b = 2, c = 3, d = 4;
    SCList<int> list, other;
    auto* na = list.append(&a);
    auto* nd = list.insertAfter(list.append(&b), &d); // after the tail
    list.insertAfter(na, &c);                          // in the middle
    expectList(list, {&a, &c, &b, &d});
    int e = 5;
    auto* ne = list.prepend(&e);
    expectList(list, {&e, &a, &c, &b, &d});
    EXPECT_EQ(list.unlink(ne), &e);
    SCList<int> single;
    single.prepend(&e); // an empty list takes it as head and tail
    expectList(single, {&e});
    EXPECT_EQ(other.insertAfter(na, &a), nullptr); // foreign nodes are refused
    EXPECT_EQ(other.unlink(na), nullptr);
    EXPECT_EQ(list.unlink(nd), &d);
    EXPECT_EQ(list.unlink(na), &a);
    expectList(list, {&c, &b});
    list.unlink(list.head());
    list.unlink(list.head());
    expectList(list, {});
}

TEST(SCList, TransferMovesTheNodeItself)
{
    int a = 1, b = 2, c = 3;
    SCList<int> list, other;
    auto* na = list.append(&a);
    auto* nb = list.append(&b);
    other.append(&c);
    EXPECT_FALSE(other.transfer(na, list)) << "a foreign node is refused";
    EXPECT_TRUE(list.transfer(na, other));
    EXPECT_EQ(na->owner, &other);
    expectList(list, {&b});
    expectList(other, {&c, &a});
    EXPECT_TRUE(list.transfer(nb, other));
    expectList(list, {});
    expectList(other, {&c, &a, &b});
    EXPECT_EQ(other.unlink(nb), &b);
    expectList(other, {&c, &a});
}

TEST(SCList, ClearingDeletesItemsThatUnlinkThemselves)
{
    struct SelfRemoving : Counted
    {
        SCList<SelfRemoving>::Node* node = nullptr;
        ~SelfRemoving() override { SCList<SelfRemoving>::removeNode(node); }
    };
    Counted::alive = 0;
    SCList<SelfRemoving> list;
    for (int i = 0; i < 3; ++i) {
        auto* item = new SelfRemoving;
        item->node = list.append(item);
    }
    list.append(nullptr);
    list.clear(true);
    expectList(list, {});
    EXPECT_EQ(Counted::alive, 0);
}

TEST(MemoryFactory, HandsOutAndRecyclesObjectsInBlocks)
{
    Counted::alive = 0;
    {
        MemoryFactory<Counted, 16> factory;
        std::set<Counted*> objects;
        for (int i = 0; i < 17; ++i)
            objects.insert(factory.create());
        EXPECT_EQ(objects.size(), 17u);
        EXPECT_EQ(Counted::alive, 32); // two whole blocks
        Counted* first = *objects.begin();
        EXPECT_TRUE(factory.release(first));
        EXPECT_FALSE(factory.release(first));
        EXPECT_EQ(factory.create(), first);
        factory.clear();
        EXPECT_EQ(Counted::alive, 0);
    }
}

TEST(MemoryFactory, CountsObjectsInUsePerBlockAndFreesIdleBlocks)
{
    Counted::alive = 0;
    MemoryFactory<Counted, 16> factory;
    std::vector<Counted*> objects;
    for (int i = 0; i < 40; ++i)
        objects.push_back(factory.create());
    ASSERT_EQ(factory.blockCount(), 3);
    EXPECT_EQ(factory.block(2)->inUseCount, 8);
    // Empty the middle block and half of the last.
    for (int i = 16; i < 36; ++i)
        EXPECT_TRUE(factory.release(objects[size_t(i)]));
    EXPECT_FALSE(factory.release(objects[20])) << "released once only";
    EXPECT_EQ(factory.block(1)->inUseCount, 0);
    EXPECT_EQ(factory.block(2)->inUseCount, 4);
    MemoryFactory<Counted, 16>::Data* last = factory.block(2);
    EXPECT_EQ(factory.freeIdleBlocks(), 1);
    EXPECT_EQ(Counted::alive, 32);
    ASSERT_EQ(factory.blockCount(), 2);
    EXPECT_EQ(factory.block(1), last) << "the others keep their order";
    EXPECT_EQ(factory.freeIdleBlocks(), 0);
    // Free places are taken before a block is made.
    for (int i = 0; i < 4; ++i)
        factory.create();
    EXPECT_EQ(factory.blockCount(), 2);
    EXPECT_EQ(factory.block(1)->inUseCount, 8);
    factory.clear();
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(factory.freeIdleBlocks(), 0);
}

}
