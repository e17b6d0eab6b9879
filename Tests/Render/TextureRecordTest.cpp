// Records, references and the list without a device: records made here have
// no Direct3D objects.
#include <TextureRecord.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

Texture* makeRecord(const wchar_t* name)
{
    Texture* record = new Texture;
    record->listNode = TextureList::append(record);
    if (name)
        record->name = new String(name);
    return record;
}

bool listed(const Texture* record)
{
    for (auto* node = TextureList::records().head(); node; node = node->next)
        if (node->item == record)
            return true;
    return false;
}

// Every node of the record's list points back at a reference bound to it.
void expectConsistent(const Texture* record)
{
    for (auto* node = record->references.head(); node; node = node->next) {
        ASSERT_NE(node->item, nullptr);
        EXPECT_EQ(node->item->node(), node);
        EXPECT_EQ(node->item->texture(), record);
    }
}

class TextureRecords : public testing::Test
{
protected:
    void TearDown() override { Texture::releaseAll(); }
};

TEST_F(TextureRecords, RecordLivesWhileAReferenceIsBound)
{
    TextureRef unbound;
    EXPECT_EQ(unbound.texture(), &Texture::empty);
    EXPECT_FALSE(unbound.isBound());
    EXPECT_EQ(unbound.release(), nullptr);

    Texture* a = makeRecord(L"a");
    Texture* b = makeRecord(L"b");
    TextureRef first, second;
    first.bind(a);
    second.bind(a);
    EXPECT_EQ(a->references.count(), 2);
    auto* node = second.node();
    second.bind(a); // rebinding to the same record keeps the node
    EXPECT_EQ(second.node(), node);
    EXPECT_EQ(second.release(), &second);
    first.bind(a); // first is a's last reference: a must survive
    EXPECT_TRUE(listed(a));
    EXPECT_EQ(first.texture(), a);
    EXPECT_TRUE(listed(a));
    EXPECT_EQ(a->references.count(), 1);

    // Rebinding the last reference elsewhere destroys the first record.
    first.bind(b);
    EXPECT_FALSE(listed(a));
    EXPECT_EQ(first.texture(), b);
    first.bind(&Texture::empty);
    EXPECT_FALSE(first.isBound());
    EXPECT_FALSE(listed(b));
    EXPECT_EQ(TextureList::records().count(), 0);
}

TEST_F(TextureRecords, LookupByNameIsExactAndTheOldestWins)
{
    Texture* older = makeRecord(L"Data\\grass.png");
    Texture* newer = makeRecord(L"Data\\grass.png");
    makeRecord(L"");
    makeRecord(nullptr);
    TextureRef holdNewer;
    holdNewer.bind(newer);

    TextureRef ref;
    EXPECT_FALSE(Texture::findByName(ref, String(L"data\\grass.png")));
    EXPECT_FALSE(Texture::findByName(ref, String(L"")));
    EXPECT_FALSE(ref.isBound());
    ASSERT_TRUE(Texture::findByName(ref, String(L"Data\\grass.png")));
    EXPECT_EQ(ref.texture(), older);
    auto* node = ref.node();
    ASSERT_TRUE(Texture::findByName(ref, String(L"Data\\grass.png")));
    EXPECT_EQ(ref.node(), node);
    EXPECT_EQ(older->references.count(), 1);

    ref.release(); // the older record goes with its last reference
    ASSERT_TRUE(Texture::findByName(ref, String(L"Data\\grass.png")));
    EXPECT_EQ(ref.texture(), newer);
    EXPECT_EQ(newer->references.count(), 2);
}

TEST_F(TextureRecords, CopiesBindAnewAndMovesKeepTheNodePointingAtTheReference)
{
    Texture* record = makeRecord(L"r");
    std::vector<TextureRef> refs(1);
    refs[0].bind(record);
    // Growing the vector moves and copies references to new addresses.
    for (int i = 0; i < 40; ++i)
        refs.push_back(refs[size_t(i)]);
    EXPECT_EQ(record->references.count(), 41);
    expectConsistent(record);

    TextureRef moved(std::move(refs.back()));
    refs.pop_back();
    EXPECT_FALSE(refs.empty());
    EXPECT_EQ(record->references.count(), 41);
    expectConsistent(record);

    TextureRef other;
    other = moved;
    other = std::move(moved);
    EXPECT_FALSE(moved.isBound());
    EXPECT_EQ(record->references.count(), 41);
    expectConsistent(record);

    refs.clear();
    EXPECT_TRUE(listed(record));
    other = TextureRef();
    EXPECT_FALSE(listed(record));
}

TEST_F(TextureRecords, ReleasingAllLeavesBoundReferencesEmptyAndReleasable)
{
    TextureRef a, b;
    a.bind(makeRecord(L"a"));
    b.bind(a.texture());
    auto* heap = new TextureRef;
    heap->bind(makeRecord(L"b"));
    makeRecord(L"never bound");
    EXPECT_EQ(TextureList::records().count(), 3);

    Texture::releaseAll();
    EXPECT_EQ(TextureList::records().count(), 0);
    EXPECT_FALSE(a.isBound());
    EXPECT_EQ(b.texture(), &Texture::empty);
    EXPECT_EQ(a.release(), nullptr);
    TextureRef::destroy(heap);
}

}
