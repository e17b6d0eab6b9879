// The cell rules and the integer-cell octree: placement, growth, relinking,
// removal and pruning against its own invariants under random traffic.
#include <SceneOctree.h>

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct Item
{
    using Tree = SceneOctree<Item>;
    CellBox cells;
    Tree* node = nullptr;
    Tree::ItemNode* entry = nullptr;
    bool live = false;
    int* deletions = nullptr;
    ~Item()
    {
        if (deletions)
            ++*deletions;
    }
};
using Tree = Item::Tree;

CellBox box(int32_t x0, int32_t y0, int32_t z0, int32_t x1, int32_t y1, int32_t z1)
{
    CellBox b;
    b.minimum[0] = x0, b.minimum[1] = y0, b.minimum[2] = z0;
    b.maximum[0] = x1, b.maximum[1] = y1, b.maximum[2] = z1;
    return b;
}

bool contains(const CellBox& outer, const CellBox& inner)
{
    for (int a = 0; a < 3; ++a)
        if (inner.minimum[a] < outer.minimum[a] || inner.maximum[a] > outer.maximum[a])
            return false;
    return true;
}

// Every node holds items or children, links agree both ways, children lie in
// their parents; returns the number of items below node.
int checkNode(const Tree* node, const Tree* parent, int depth = 0)
{
    EXPECT_LT(depth, 40);
    EXPECT_EQ(node->parent, parent);
    EXPECT_TRUE(node->items.count() > 0 || node->hasChildren()) << "an empty node survived pruning";
    int items = node->items.count();
    for (auto* entry = node->items.head(); entry; entry = entry->next) {
        EXPECT_EQ(entry->item->node, node);
        EXPECT_EQ(entry->item->entry, entry);
    }
    for (int o = 0; o < 8; ++o) {
        const Tree* child = node->children[o];
        if (!child)
            continue;
        EXPECT_EQ(child->backReference, &node->children[o]);
        EXPECT_TRUE(contains(node->cells, child->cells));
        CellBox expected;
        EXPECT_EQ(node->octant(child->cells, expected), o);
        EXPECT_TRUE(expected == child->cells);
        items += checkNode(child, node, depth + 1);
    }
    return items;
}

void checkTree(const Tree* root, const std::vector<Item>& items)
{
    int live = 0;
    for (const Item& item : items) {
        if (!item.live) {
            EXPECT_EQ(item.node, nullptr);
            continue;
        }
        ++live;
        ASSERT_NE(item.node, nullptr);
        CellBox child;
        EXPECT_TRUE(contains(item.node->cells, item.cells));
        EXPECT_EQ(item.node->octant(item.cells, child), Tree::staysHere) << "a deeper node would hold the item";
    }
    if (live == 0) {
        EXPECT_EQ(root, nullptr) << "emptying the tree deletes the root";
        return;
    }
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->backReference, nullptr);
    EXPECT_EQ(checkNode(root, nullptr), live);
}

TEST(SceneCells, RulesOfBothTrees)
{
    const float below1024 = std::nextafter(1024.0f, 0.0f);
    const struct
    {
        float value;
        int32_t truncated, floored;
    } cases[] = {
        {-1024.0f, -3, -2},
        {-0.5f, -1, -1},
        {below1024, 1, 1},
        {1024.0f, 2, 2},
        {0.0f, 0, 0},
        {511.9f, 0, 0},
        {-2048.0f, -5, -4},
        {2048.0f, 4, 4},
        {NAN, 0, 0},
        {1e30f, SceneCells::cellLimit, SceneCells::cellLimit},
        {-INFINITY, -SceneCells::cellLimit - 1, -SceneCells::cellLimit},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SceneCells::truncated(c.value, 512.0f), c.truncated) << c.value;
        EXPECT_EQ(SceneCells::floored(c.value, 512.0f), c.floored) << c.value;
    }
    EXPECT_EQ(SceneCells::floored(-1.0f, 2048.0f), -1);
    EXPECT_EQ(SceneCells::floored(2048.0f, 2048.0f), 1);
}

TEST(SceneOctree, FirstItemSetsTheRootAndFartherItemsGrowIt)
{
    Tree* root = nullptr;
    std::vector<Item> items(3);
    ASSERT_TRUE(Tree::place(root, box(2, 3, 4, 2, 3, 4), 512.0f, false, &items[0], items[0].node, items[0].entry));
    EXPECT_TRUE(root->cells == box(2, 3, 4, 2, 3, 4));
    EXPECT_EQ(root->size, 1);
    EXPECT_EQ(root->bounds.minimum, vec3d(1024.0f, 1536.0f, 2048.0f));
    EXPECT_EQ(root->bounds.maximum, vec3d(1536.0f, 2048.0f, 2560.0f));
    EXPECT_EQ(items[0].node, root);

    // Below on x, above on y and z: the new root doubles toward the item.
    const Tree* first = root;
    ASSERT_TRUE(Tree::place(root, box(1, 4, 5, 1, 4, 5), 512.0f, false, &items[1], items[1].node, items[1].entry));
    EXPECT_TRUE(root->cells == box(1, 3, 4, 2, 4, 5));
    EXPECT_EQ(root->size, 2);
    EXPECT_EQ(root->children[1], first) << "the old root sits in the upper half of x";
    EXPECT_EQ(first->parent, root);

    // Far away: several doublings.
    ASSERT_TRUE(Tree::place(root, box(20, 4, 5, 20, 4, 5), 512.0f, false, &items[2], items[2].node, items[2].entry));
    EXPECT_EQ(root->size, 32);
    for (Item& item : items)
        item.live = true;
    items[0].cells = box(2, 3, 4, 2, 3, 4);
    items[1].cells = box(1, 4, 5, 1, 4, 5);
    items[2].cells = box(20, 4, 5, 20, 4, 5);
    checkTree(root, items);

    // A straddling item stays in the node whose midplane it crosses.
    Item straddling;
    const CellBox across = box(items[0].node->cells.minimum[0] - 1, 3, 4, 2, 3, 4);
    ASSERT_TRUE(Tree::place(root, across, 512.0f, false, &straddling, straddling.node, straddling.entry));
    CellBox child;
    EXPECT_EQ(straddling.node->octant(across, child), Tree::staysHere);
    EXPECT_GT(straddling.node->size, 1);
    Tree::remove(root, straddling.node, straddling.entry);

    for (Item& item : items) {
        Tree::remove(root, item.node, item.entry);
        item.live = false;
    }
    EXPECT_EQ(root, nullptr);
}

void randomTraffic(Tree::Spares* spares)
{
    std::mt19937 random(18);
    std::uniform_int_distribution<int32_t> coordinate(-40, 40), extent(0, 3), pick(0, 99), action(0, 9);
    std::vector<Item> items(100);
    Tree* root = nullptr;
    const auto randomBox = [&] {
        CellBox b;
        for (int a = 0; a < 3; ++a) {
            b.minimum[a] = coordinate(random);
            b.maximum[a] = b.minimum[a] + (pick(random) < 80 ? 0 : extent(random));
        }
        return b;
    };
    for (int step = 0; step < 3000; ++step) {
        Item& item = items[size_t(pick(random))];
        const int a = action(random);
        if (a < 7) {
            // Insert or move: a move near the old place climbs only as needed.
            CellBox cells = randomBox();
            if (item.live && a < 3)
                for (int k = 0; k < 3; ++k) {
                    cells.minimum[k] = item.cells.minimum[k] + (pick(random) % 3 - 1);
                    cells.maximum[k] = cells.minimum[k] + item.cells.maximum[k] - item.cells.minimum[k];
                }
            const Tree* before = item.node;
            const Tree::ItemNode* entryBefore = item.entry;
            ASSERT_TRUE(Tree::place(root, cells, 512.0f, false, &item, item.node, item.entry, spares));
            if (item.node == before) {
                EXPECT_EQ(item.entry, entryBefore) << "staying in its node keeps the link";
            }
            item.cells = cells;
            item.live = true;
        } else {
            Tree::remove(root, item.node, item.entry, spares);
            item.live = false;
        }
        checkTree(root, items);
        if (::testing::Test::HasFailure())
            return;
    }
    for (Item& item : items) {
        Tree::remove(root, item.node, item.entry, spares);
        item.live = false;
    }
    checkTree(root, items);
    EXPECT_EQ(root, nullptr);
}

// The same traffic with nodes from the heap and with nodes the tree kept
// from those it gave up.
TEST(SceneOctree, RandomTrafficKeepsEveryInvariant)
{
    for (const bool keepNodes : {false, true}) {
        SCOPED_TRACE(keepNodes ? "kept nodes" : "heap nodes");
        Tree::Spares spares;
        randomTraffic(keepNodes ? &spares : nullptr);
        if (keepNodes) {
            EXPECT_GT(spares.count(), 0);
            EXPECT_LE(spares.count(), Tree::Spares::kept);
        }
    }
}

TEST(SceneOctree, HugeAndEmptyBoxesStayBounded)
{
    // Corners from any coordinates pass the cell rule; the tree stays finite
    // and shallow with items at both ends of the bounded range.
    const float values[] = {FLT_MAX, -FLT_MAX, NAN, INFINITY, 0.0f, -5e9f, 5e9f};
    std::vector<Item> items(std::size(values) * std::size(values));
    Tree* root = nullptr;
    size_t n = 0;
    for (float low : values)
        for (float high : values) {
            Item& item = items[n++];
            item.cells = SceneCells::truncatedBox({low, 0.0f, high}, {high, low, low}, 512.0f);
            ASSERT_TRUE(Tree::place(root, item.cells, 512.0f, false, &item, item.node, item.entry));
            item.live = true;
        }
    checkTree(root, items);
    EXPECT_LE(root->size, 16 * SceneCells::cellLimit) << "far from 32-bit overflow";
    for (Item& item : items) {
        Tree::remove(root, item.node, item.entry);
        item.live = false;
    }
    EXPECT_EQ(root, nullptr);
}

TEST(SceneOctree, DestroyingARootThatOwnsItemsDeletesThem)
{
    int deletions = 0;
    Tree* root = nullptr;
    for (int i = 0; i < 5; ++i) {
        Item* item = new Item;
        item->deletions = &deletions;
        ASSERT_TRUE(Tree::place(root, box(i * 7, 0, -i, i * 7, 0, -i), 2048.0f, true, item, item->node, item->entry));
    }
    EXPECT_TRUE(root->deleteItems);
    EXPECT_TRUE(root->children[0] || root->children[1] || root->children[4] || root->children[5]);
    delete root;
    EXPECT_EQ(deletions, 5);
}

}
