// Records and references without a device: records made here have no
// Direct3D objects.
#include <TextureRecord.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

Texture* makeRecord()
{
    Texture* record = new Texture;
    record->listNode = TextureList::append(record);
    return record;
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
    Texture* a = makeRecord();
    Texture* b = makeRecord();
    TextureRef first, second;
    first.bind(a);
    second.bind(a);
    auto* node = second.node();
    second.bind(a); // rebinding to the same record keeps the node
    EXPECT_EQ(second.node(), node);
    second.release();
    first.bind(a); // first is a's last reference: a must survive
    EXPECT_EQ(a->references.count(), 1);
    EXPECT_EQ(TextureList::records().count(), 2);

    // Rebinding the last reference elsewhere destroys the first record.
    first.bind(b);
    EXPECT_EQ(TextureList::records().count(), 1);
    first.bind(&Texture::empty);
    EXPECT_EQ(TextureList::records().count(), 0);
}

TEST_F(TextureRecords, CopiesBindAnewAndMovesKeepTheNodePointingAtTheReference)
{
    Texture* record = makeRecord();
    std::vector<TextureRef> refs(1);
    refs[0].bind(record);
    // Growing the vector moves and copies references to new addresses.
    for (int i = 0; i < 40; ++i)
        refs.push_back(refs[size_t(i)]);
    EXPECT_EQ(record->references.count(), 41);
    expectConsistent(record);

    TextureRef moved(std::move(refs.back()));
    refs.pop_back();
    TextureRef other;
    other = moved;
    other = std::move(moved);
    EXPECT_FALSE(moved.isBound());
    EXPECT_EQ(record->references.count(), 41);
    expectConsistent(record);

    refs.clear();
    EXPECT_EQ(TextureList::records().count(), 1);
    other = TextureRef();
    EXPECT_EQ(TextureList::records().count(), 0);
}

TEST_F(TextureRecords, ReleasingAllLeavesBoundReferencesEmptyAndReleasable)
{
    TextureRef a, b;
    a.bind(makeRecord());
    b.bind(a.texture());
    makeRecord();
    Texture::releaseAll();
    EXPECT_EQ(TextureList::records().count(), 0);
    EXPECT_EQ(b.texture(), &Texture::empty);
    EXPECT_EQ(a.release(), nullptr);
}

}

// A record taken out of its list but kept forgets the node it had: the list
// freed it, and the record's release must not reach it again.
TEST_F(TextureRecords, ARecordTakenOutOfItsListForgetsItsNode)
{
    Texture* record = makeRecord();
    EXPECT_EQ(TextureList::removeFromOwner(record->listNode, false), record);
    EXPECT_EQ(record->listNode, nullptr);
    EXPECT_EQ(TextureList::records().count(), 0);
    Texture::destroy(record);
}
