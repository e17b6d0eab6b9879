#include "Core/Containers.h"
#include "Core/String.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Counted
{
    static int alive;
    Counted() { ++alive; }
    virtual ~Counted() { --alive; }
    int value = 0;
};
int Counted::alive = 0;

struct Point
{
    float x, y, z;
};

// Walks the list both ways and checks links, owners and count against the items.
template <class T>
void expectList(SCList<T>& list, const std::vector<T*>& items)
{
    ASSERT_EQ(list.count(), int32_t(items.size()));
    auto* node = list.head();
    for (size_t i = 0; i < items.size(); ++i, node = node->next) {
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->item, items[i]);
        EXPECT_EQ(node->owner, &list);
    }
    EXPECT_EQ(node, nullptr);
    node = list.tail();
    for (size_t i = items.size(); i-- > 0; node = node->prev) {
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->item, items[i]);
    }
    EXPECT_EQ(node, nullptr);
}

} // namespace

TEST(DynArray, GrowsInWholeBlocksAndKeepsElements)
{
    DynArray<int> a(16);
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.data(), nullptr);

    *a.at(0) = 7;
    EXPECT_EQ(a.count(), 16);
    EXPECT_EQ(a.blocks(), 1u);
    *a.at(16) = 9;
    EXPECT_EQ(a.count(), 32);
    int* storage = a.data();
    a.at(15);
    EXPECT_EQ(a.data(), storage);
    EXPECT_EQ(*a.at(0), 7);
    EXPECT_EQ(*a.at(16), 9);
    EXPECT_EQ(*a.at(31), 0); // new elements start zeroed

    a.setBlocks(1);
    EXPECT_EQ(a.count(), 16);
    EXPECT_EQ(*a.at(0), 7);
    a.reserve(3);
    EXPECT_EQ(a.count(), 16);

    EXPECT_EQ(a.at(-1), nullptr);
    DynArray<Point> points(0);
    points.at(2)->z = 1.0f;
    EXPECT_EQ(points.count(), 3);
    EXPECT_EQ(points.at(0)->x, 0.0f);
}

TEST(DynArray, FailedGrowthLeavesTheArrayAsItWas)
{
    DynArray<int> a(1 << 20);
    *a.at(5) = 3;
    EXPECT_FALSE(a.setBlocks(1u << 12)); // more elements than count() can report
    EXPECT_EQ(a.at(INT32_MAX), nullptr);
    EXPECT_EQ(a.count(), 1 << 20);
    EXPECT_EQ(*a.at(5), 3);
}

TEST(DynArray, DetachHandsOverTheStorage)
{
    DynArray<wchar_t> a(8);
    *a.at(0) = L'x';
    EXPECT_EQ(a.count(), 8);
    wchar_t* storage = a.detach();
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(storage[0], L'x');
    EXPECT_EQ(a.count(), 0);
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.detach(), nullptr);
    delete[] storage;
}

TEST(DynArray, ElementsThatOwnMemorySurviveGrowth)
{
    for (bool elementwise : {false, true}) {
        DynArray<String> names(2, elementwise);
        *names.at(0) = L"first";
        *names.at(1) = L"second";
        *names.at(5) = L"sixth";
        EXPECT_EQ(names.count(), 6);
        EXPECT_STREQ(names.at(0)->text(), L"first");
        EXPECT_STREQ(names.at(1)->text(), L"second");
        EXPECT_STREQ(names.at(5)->text(), L"sixth");

        String source[8] = {L"a", L"b"};
        names.assign(8, source); // clamped to the 6 elements the array holds
        EXPECT_STREQ(names.at(1)->text(), L"b");
        EXPECT_STREQ(source[1].text(), L"b");
    }
}

TEST(ArrayHeap, FixedCountAndResize)
{
    ArrayHeap<String> names(3);
    EXPECT_EQ(names.count(), 3);
    *names.at(2) = L"kept";
    EXPECT_TRUE(names.resize(5));
    EXPECT_EQ(names.count(), 5);
    EXPECT_STREQ(names.at(2)->text(), L"kept");
    EXPECT_EQ(names.at(4)->buffer(), nullptr);
    EXPECT_FALSE(names.resize(-1));
    EXPECT_EQ(names.count(), 5);
    names.deleteArray();
    EXPECT_EQ(names.count(), 0);
    EXPECT_EQ(names.data(), nullptr);

    ArrayHeap<int> ints(4);
    int* storage = ints.detach();
    EXPECT_EQ(ints.count(), 0);
    EXPECT_EQ(ints.data(), nullptr);
    delete[] storage;
}

TEST(ArrayStack, CountIsTheConstant)
{
    ArrayStack<short int, 6> six;
    EXPECT_EQ(six.count(), 6);
    *six.at(5) = 12;
    EXPECT_EQ(six.data()[5], 12);
    EXPECT_EQ(six.detach(), six.data());
    EXPECT_EQ(six.count(), 6);
    Array<short int>& asArray = six;
    EXPECT_EQ(asArray.count(), 6);
}

TEST(SCList, AppendInsertAndUnlinkKeepLinksAndCount)
{
    int a = 1, b = 2, c = 3, d = 4, e = 5;
    SCList<int> list;
    auto* na = list.append(&a);
    EXPECT_EQ(na->prev, nullptr);
    auto* nb = list.append(&b);
    expectList(list, {&a, &b});

    auto* nd = list.insertAfter(nb, &d); // after the tail
    EXPECT_EQ(list.tail(), nd);
    list.insertAfter(na, &c); // in the middle
    expectList(list, {&a, &c, &b, &d});
    EXPECT_EQ(list.insertAfter(nullptr, &e), nullptr);

    EXPECT_EQ(list.unlink(nd), &d); // tail
    expectList(list, {&a, &c, &b});
    EXPECT_EQ(list.unlink(na), &a); // head
    expectList(list, {&c, &b});
    EXPECT_EQ(list.unlink(list.head()->next), &b);
    EXPECT_EQ(list.unlink(list.head()), &c); // only node
    expectList(list, {});
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(list.tail(), nullptr);
}

TEST(SCList, ForeignNodesAreRefused)
{
    int a = 1, b = 2;
    SCList<int> one, two;
    auto* node = one.append(&a);
    two.append(&b);
    EXPECT_EQ(two.unlink(node), nullptr);
    EXPECT_EQ(two.insertAfter(node, &b), nullptr);
    expectList(one, {&a});
    expectList(two, {&b});
}

TEST(SCList, ClearsDecideAboutTheItems)
{
    Counted::alive = 0;
    SCList<Counted> list;
    list.clear(true); // empty: nothing happens
    EXPECT_EQ(list.count(), 0);

    Counted* kept = new Counted;
    list.append(kept);
    list.append(nullptr);
    list.clear(false);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.head(), nullptr);
    EXPECT_EQ(Counted::alive, 1);

    list.append(kept);
    list.append(new Counted);
    list.append(nullptr);
    list.deleteAll();
    EXPECT_EQ(Counted::alive, 0);
    EXPECT_EQ(list.tail(), nullptr);

    auto* node = list.append(new Counted);
    list.append(new Counted);
    SCList<Counted>::removeAndDelete(node);
    EXPECT_EQ(Counted::alive, 1);
    EXPECT_EQ(list.count(), 1);

    int disposed = 0;
    list.clearWith([&](Counted* item) { ++disposed; delete item; });
    EXPECT_EQ(disposed, 1);
    EXPECT_EQ(Counted::alive, 0);

    SCList<Point> plain;
    plain.append(new Point{});
    plain.freeAll();
    EXPECT_EQ(plain.count(), 0);
}

TEST(SCList, ItemThatRemovesItsOwnNodeDuringAClear)
{
    struct SelfRemoving
    {
        SCList<SelfRemoving>::Node* node = nullptr;
        ~SelfRemoving() { SCList<SelfRemoving>::removeNode(node); }
    };
    SCList<SelfRemoving> list;
    for (int i = 0; i < 3; ++i) {
        auto* item = new SelfRemoving;
        item->node = list.append(item);
    }
    list.clear(true);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.head(), nullptr);
}

TEST(MemoryFactory, HandsOutAndRecyclesObjectsInBlocks)
{
    Counted::alive = 0;
    {
        MemoryFactory<Counted, 16> factory;
        EXPECT_EQ(factory.blockCount(), 0);
        std::vector<Counted*> objects;
        for (int i = 0; i < 17; ++i)
            objects.push_back(factory.create());
        EXPECT_EQ(factory.blockCount(), 2);
        EXPECT_EQ(Counted::alive, 32);
        EXPECT_EQ(factory.inUseCount(), 17);
        for (size_t i = 0; i < objects.size(); ++i)
            for (size_t j = i + 1; j < objects.size(); ++j)
                ASSERT_NE(objects[i], objects[j]);

        EXPECT_TRUE(factory.release(objects[3]));
        EXPECT_FALSE(factory.release(objects[3]));
        Counted stranger;
        EXPECT_FALSE(factory.release(&stranger));
        EXPECT_EQ(factory.create(), objects[3]);
        EXPECT_EQ(factory.blockCount(), 2);

        factory.clear();
        EXPECT_EQ(Counted::alive, 1); // only the stranger
        EXPECT_EQ(factory.blockCount(), 0);
        EXPECT_NE(factory.create(), nullptr);
    }
    EXPECT_EQ(Counted::alive, 0);
}
