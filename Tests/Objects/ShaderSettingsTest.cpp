// Package shader settings without a device: defaults, values the block
// refuses, and what apply writes into a sub-entity's state record.
#include "ObjectsTestSupport.h"

#include "Objects/ShaderSettings.h"

#include "Render/Shader.h"

#include <cmath>

using namespace ObjectsTests;
using ShaderSettings = ObjPkgManager::ShaderSettings;

TEST(ShaderSettings, DefaultsAndRefusedValues)
{
    // The writer's defaults are the reader's.
    ShaderSettings settings;
    expectSettings(settings, PackagePartWriter::ShaderSettings{});
    EXPECT_FALSE(settings.reflects());

    // An unknown address mode, a material holding NaN and an infinite scale
    // keep what was held; the one-byte fields are one byte.
    PackagePartWriter::Material broken;
    broken.power = std::nanf("");
    BlockBytes block;
    block << 1u << 9u << 2u << broken << 8u << INFINITY << 3u << uint8_t(200) << 5u << uint8_t(7) << 10u << 4u << 0u;
    ASSERT_TRUE(settings.load(*streamOf(block.bytes)));
    EXPECT_EQ(settings.addressMode, uint32_t(D3DTADDRESS_CLAMP));
    EXPECT_EQ(settings.material.Power, 0.0f);
    EXPECT_EQ(settings.textureScale, 1.0f);
    EXPECT_EQ(settings.alphaRef, 200);
    EXPECT_EQ(settings.reflectionAmount, 7);
    EXPECT_EQ(settings.value10, 4u);
    EXPECT_FALSE(settings.load(*streamOf({2, 0, 0, 0, 1, 2, 3}))) << "a material cut short";
}

TEST(ShaderSettings, TheStateRecordTakesCullingScaleAndReflection)
{
    struct Case
    {
        uint32_t mode;
        uint8_t amount;
        uint32_t cull;
        float scale;
        bool reflection;
    };
    for (const Case c : {Case{0, 0, 1, 1.0f, false}, Case{0, 40, 0, 2.0f, true}, Case{1, 0, 1, 0.5f, true},
                         Case{2, 40, 0, 1.0f, false}}) {
        ShaderSettings settings;
        settings.reflectionMode = c.mode;
        settings.reflectionAmount = c.amount;
        settings.cullBackFaces = c.cull;
        settings.textureScale = c.scale;
        Shader record;
        record.transformFlags[0] = 77;
        settings.apply(nullptr, &record);
        EXPECT_EQ(record.reflection, uint32_t(c.reflection)) << c.mode << " " << int(c.amount);
        EXPECT_EQ(record.cullMode, c.cull ? Shader::cullFront : Shader::cullNone);
        EXPECT_EQ(record.cullMode, c.cull ? uint32_t(D3DCULL_CCW) : uint32_t(D3DCULL_NONE));
        EXPECT_EQ(record.transformFlags[0], c.scale != 1.0f ? uint32_t(D3DTTFF_COUNT2) : 0u);
        EXPECT_EQ(record.textureTransforms[0].at(0, 0), c.scale);
        EXPECT_EQ(record.textureTransforms[0].at(1, 1), c.scale);
        EXPECT_EQ(record.textureTransforms[0].at(2, 2), 1.0f);
    }
}
