// The package physics record: defaults, masses it refuses, sounds present
// only while their no-sound word is 0, a second reading releasing the first.
#include "ObjectsTestSupport.h"

#include "Objects/PhysicsRecord.h"

#include <cmath>
#include <limits>

using namespace ObjectsTests;
using PhysicsRecord = ObjPkgManager::PhysicsRecord;

TEST(PhysicsRecord, AnEmptyBlockKeepsTheDefaults)
{
    PhysicsRecord record(nullptr);
    EXPECT_TRUE(record.load(*streamOf({0, 0, 0, 0})));
    EXPECT_EQ(record.mass, 0.5f);
    EXPECT_EQ(1.0f / record.mass, 2.0f);
    EXPECT_EQ(record.value1, 1u);
    EXPECT_EQ(record.value2, 0.45f);
    EXPECT_EQ(record.noSound1, 1u);
    EXPECT_EQ(record.sound1, nullptr);
    EXPECT_EQ(record.sound2, nullptr);
}

TEST(PhysicsRecord, MassesThatBreakTheReciprocalKeepHalfAKilogram)
{
    const float infinity = std::numeric_limits<float>::infinity();
    for (float mass : {0.0f, -1.0f, std::nanf(""), infinity, -infinity, 1e-40f, 1e30f}) {
        PhysicsRecord record(nullptr);
        BlockBytes block;
        block << 6u << mass << 0u;
        EXPECT_TRUE(record.load(*streamOf(block.bytes)));
        EXPECT_EQ(record.mass, 0.5f) << mass;
    }
    PhysicsRecord record(nullptr);
    BlockBytes block;
    block << 6u << 3.5f << 0u;
    record.load(*streamOf(block.bytes));
    EXPECT_EQ(record.mass, 3.5f);
}

TEST(PhysicsRecord, ASoundIsReadOnlyWhileItsNoSoundWordIsZero)
{
    // Tag 8 under the default no-sound word 1 carries nothing: its type word
    // (13) is read as a tag (a later one, without a field), then value1.
    PhysicsRecord record(nullptr);
    BlockBytes block;
    block << 8u << 13u << 1u << 42u << 0u;
    EXPECT_TRUE(record.load(*streamOf(block.bytes)));
    EXPECT_EQ(record.sound1, nullptr);
    EXPECT_EQ(record.value1, 42u);

    // With the word cleared, a wav and an ogg; the sizes are the blocks'.
    BlockBytes sounds;
    sounds << 7u << 0u << 8u << 1u << 3u << uint8_t(1) << uint8_t(2) << uint8_t(3);
    sounds << 9u << 0u << 10u << 2u << 2u << uint8_t(4) << uint8_t(5) << 0u;
    ASSERT_TRUE(record.load(*streamOf(sounds.bytes)));
    ASSERT_NE(record.sound1, nullptr);
    ASSERT_NE(record.sound2, nullptr);
    EXPECT_EQ(record.sound1->type, 1u);
    EXPECT_EQ(record.sound2->type, 2u);
    EXPECT_EQ(record.sound1->source, &record.sound1Data);
    EXPECT_EQ(record.sound1->name.length(), 10);
    EXPECT_EQ(record.sound1Data.size(), 3u);
    EXPECT_EQ(record.sound2Data.memory()[1], 5);
    EXPECT_EQ(record.sound1Data.tell(), 0u) << "rewound for the sound system";

    // A second reading releases the first sounds (their bytes go with them).
    EXPECT_TRUE(record.load(*streamOf({0, 0, 0, 0})));
    EXPECT_EQ(record.sound1, nullptr);
    EXPECT_EQ(record.sound2, nullptr);
    EXPECT_EQ(record.sound1Data.size(), 0u);
    EXPECT_EQ(record.noSound1, 0u) << "fields read stay";

    // A sound block longer than the data ends the block.
    BlockBytes cut;
    cut << 8u << 1u << 1000u << 1u;
    EXPECT_FALSE(record.load(*streamOf(cut.bytes)));
    EXPECT_EQ(record.sound1Data.size(), 0u);
}
