// The builder's package part samples read back field by field, every cut
// of their blocks, and damaged copies (fixed seed): no crash, hang or
// unbounded allocation, and only values the parts accept.
#include "ObjectsTestSupport.h"

#include "Objects/PackageGeometry.h"
#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"
#include "Objects/PhysicsRecord.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>

using namespace ObjectsTests;

namespace {

// Damaged copies of bytes: flipped bytes, huge words, cuts, repeated runs.
std::vector<Bytes> damaged(const Bytes& bytes, uint32_t seed, int count)
{
    std::mt19937 random(seed);
    std::vector<Bytes> out;
    for (int n = 0; n < count; ++n) {
        Bytes copy = bytes;
        const auto at = [&] { return size_t(random() % copy.size()); };
        switch (n % 4) {
        case 0:
            for (int k = 0; k < 1 + n % 5; ++k)
                copy[at()] ^= uint8_t(1 + random() % 255);
            break;
        case 1: {
            const size_t i = at() & ~size_t(3);
            const uint32_t word = n % 8 == 1 ? 0x7FFFFFF0u : 0xFFFFFFFFu - uint32_t(random() % 16);
            if (i + 4 <= copy.size())
                std::memcpy(&copy[i], &word, 4);
            break;
        }
        case 2: copy.resize(at()); break;
        default: {
            const size_t from = at(), length = std::min(copy.size() - from, size_t(1 + random() % 64));
            copy.insert(copy.begin() + long(at()), copy.begin() + long(from), copy.begin() + long(from + length));
            break;
        }
        }
        out.push_back(std::move(copy));
    }
    return out;
}

bool sane(const vec3d& v, float limit)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::fabs(v.x) <= limit &&
           std::fabs(v.y) <= limit && std::fabs(v.z) <= limit;
}

}

TEST(PackageParts, TheSampleMeshReadsBackFieldByField)
{
    const PackagePartWriter::Mesh want = PackagePartSamples::box();
    const auto stream = streamOf(bytesOf(PackagePartWriter::writeMesh, want));
    FileTable files(PackagePartSamples::files());
    ObjPkgManager::Mesh mesh(&files);
    ASSERT_TRUE(mesh.load(*stream));
    EXPECT_EQ(stream->remaining(), 0u);
    EXPECT_EQ(narrow(mesh.displayName), want.displayName);
    EXPECT_EQ(narrow(mesh.textureName), want.textureName);
    EXPECT_EQ(files.lookups, 1);
    EXPECT_EQ(mesh.textureMipLevels, want.textureMipLevels);
    EXPECT_EQ(mesh.position, want.position);
    EXPECT_EQ(mesh.rotation, want.rotation);
    EXPECT_EQ(mesh.scale, want.scale);
    expectSettings(mesh.shader, want.shader);
    EXPECT_EQ(narrow(*mesh.getName()), want.name);
    ASSERT_EQ(mesh.geometries.count(), int32_t(want.geometries.size()));
    auto* node = mesh.geometries.head();
    for (const PackagePartWriter::Geometry& g : want.geometries) {
        EXPECT_EQ(node->item->position, g.position);
        EXPECT_EQ(node->item->size, g.size);
        EXPECT_EQ(node->item->rotation, g.rotation);
        EXPECT_EQ(node->item->kind, g.kind);
        EXPECT_EQ(node->item->mesh, &mesh);
        node = node->next;
    }
    ASSERT_EQ(*mesh.getVertexCount(), int32_t(want.body.positions.size()));
    ASSERT_EQ(*mesh.getIndexCount(), int32_t(want.body.indices.size()));
    for (size_t v = 0; v < want.body.positions.size(); ++v) {
        EXPECT_EQ(*mesh.getVertexData(int32_t(v))->position, want.body.positions[v]);
        EXPECT_EQ(*mesh.getVertexData(int32_t(v))->normal, want.body.normals[v]);
        EXPECT_EQ(*mesh.getVertexData(int32_t(v))->uv, want.body.uvs[v]);
    }
    EXPECT_EQ(std::memcmp(mesh.getIndices(), want.body.indices.data(), want.body.indices.size() * 2), 0);
}

TEST(PackageParts, TheSampleLightAndPhysicsRecordReadBackFieldByField)
{
    const PackagePartWriter::Light want = PackagePartSamples::spotLight();
    const auto stream = streamOf(bytesOf(PackagePartWriter::writeLight, want));
    FileTable files(PackagePartSamples::files());
    ObjPkgManager::Light light(&files, nullptr);
    ASSERT_TRUE(light.load(*stream));
    EXPECT_EQ(stream->remaining(), 0u);
    EXPECT_EQ(light.position, want.position);
    EXPECT_EQ(light.rotation, want.rotation);
    EXPECT_EQ(light.range, want.range);
    EXPECT_EQ(light.colour, want.colour);
    EXPECT_EQ(light.intensity, want.lightValue);
    EXPECT_EQ(light.coneAngle, want.coneAngle);
    EXPECT_EQ(light.value7, want.value7);
    EXPECT_EQ(files.lookups, 1) << "tag 8 looks its file up at once";
    EXPECT_EQ(light.value9, want.value9);
    EXPECT_EQ(light.kind, want.projectionKind);
    EXPECT_EQ(light.value11, want.value11);
    EXPECT_EQ(light.flag, want.lightFlag);
    EXPECT_EQ(light.value13, want.value13);

    const PackagePartWriter::PhysicsRecord physics = PackagePartSamples::physics();
    ObjPkgManager::PhysicsRecord record(&files);
    const auto physicsStream = streamOf(bytesOf(PackagePartWriter::writePhysicsRecord, physics));
    ASSERT_TRUE(record.load(*physicsStream));
    EXPECT_EQ(physicsStream->remaining(), 0u);
    EXPECT_EQ(record.value1, physics.value1);
    EXPECT_EQ(record.value2, physics.value2);
    EXPECT_EQ(record.value3, physics.value3);
    EXPECT_EQ(record.value4, physics.value4);
    EXPECT_EQ(record.value5, physics.value5);
    EXPECT_EQ(record.mass, physics.mass);
    EXPECT_EQ(record.noSound1, physics.noSound1);
    EXPECT_EQ(record.noSound2, physics.noSound2);
    EXPECT_EQ(record.sound1Option, physics.sound1Option);
    ASSERT_NE(record.sound1, nullptr);
    EXPECT_EQ(record.sound1->type, physics.sound1Option);
    ASSERT_EQ(record.sound1Data.size(), physics.sound1.size());
    EXPECT_EQ(std::memcmp(record.sound1Data.memory(), physics.sound1.data(), physics.sound1.size()), 0);
    EXPECT_EQ(record.sound2, nullptr);
}

TEST(PackageParts, EveryCutKeepsWhatWasReadAndNothingElse)
{
    const PackagePartWriter::Mesh meshSample = PackagePartSamples::box();
    const Bytes meshBytes = bytesOf(PackagePartWriter::writeMesh, meshSample);
    for (size_t cut = 0; cut < meshBytes.size(); ++cut) {
        ObjPkgManager::Mesh mesh(nullptr);
        mesh.load(*streamOf(Bytes(meshBytes.begin(), meshBytes.begin() + long(cut))));
        EXPECT_TRUE(mesh.position == vec3d() || mesh.position == meshSample.position) << cut;
        EXPECT_TRUE(mesh.rotation == vec3d() || mesh.rotation == meshSample.rotation) << cut;
        EXPECT_TRUE(mesh.scale == 1.0f || mesh.scale == meshSample.scale) << cut;
        EXPECT_TRUE(*mesh.getVertexCount() == 0 || *mesh.getVertexCount() == 24) << cut;
        EXPECT_LE(mesh.geometries.count(), 2) << cut;
        EXPECT_TRUE(mesh.shader.material.Power == 0.0f || mesh.shader.material.Power == 8.0f) << cut;
    }
    const PackagePartWriter::Light lightSample = PackagePartSamples::spotLight();
    const Bytes lightBytes = bytesOf(PackagePartWriter::writeLight, lightSample);
    // Where the light's entries end: two vectors, five words, the text, five
    // words; a cut anywhere else is inside a field.
    std::vector<size_t> ends{0, 16, 32};
    for (int i = 0; i < 5; ++i)
        ends.push_back(ends.back() + 8);
    ends.push_back(ends.back() + 8 + lightSample.textureName.size());
    for (int i = 0; i < 5; ++i)
        ends.push_back(ends.back() + 8);
    ASSERT_EQ(ends.back() + 4, lightBytes.size());
    for (size_t cut = 0; cut < lightBytes.size(); ++cut) {
        ObjPkgManager::Light light(nullptr, nullptr);
        const bool atEnd = std::find(ends.begin(), ends.end(), cut) != ends.end();
        EXPECT_EQ(light.load(*streamOf(Bytes(lightBytes.begin(), lightBytes.begin() + long(cut)))), atEnd) << cut;
        EXPECT_TRUE(light.range == 30.0f || light.range == lightSample.range) << cut;
        EXPECT_TRUE(light.coneAngle == 30.0f || light.coneAngle == lightSample.coneAngle) << cut;
    }
    const PackagePartWriter::PhysicsRecord physicsSample = PackagePartSamples::physics();
    const Bytes physicsBytes = bytesOf(PackagePartWriter::writePhysicsRecord, physicsSample);
    // Seven words, the sound (type, size, bytes), one word.
    std::vector<size_t> physicsEnds;
    for (size_t end = 0; end <= 56; end += 8)
        physicsEnds.push_back(end);
    physicsEnds.push_back(56 + 12 + physicsSample.sound1.size());
    physicsEnds.push_back(physicsEnds.back() + 8);
    ASSERT_EQ(physicsEnds.back() + 4, physicsBytes.size());
    for (size_t cut = 0; cut < physicsBytes.size(); ++cut) {
        ObjPkgManager::PhysicsRecord record(nullptr);
        const bool atEnd = std::find(physicsEnds.begin(), physicsEnds.end(), cut) != physicsEnds.end();
        EXPECT_EQ(record.load(*streamOf(Bytes(physicsBytes.begin(), physicsBytes.begin() + long(cut)))), atEnd)
            << cut;
        EXPECT_TRUE(record.mass == 0.5f || record.mass == physicsSample.mass) << cut;
        EXPECT_TRUE(!record.sound1 || record.sound1Data.size() == physicsSample.sound1.size()) << cut;
    }
}

TEST(PackageParts, DamagedBlocksEndCleanly)
{
    FileTable files(PackagePartSamples::files());
    int complete = 0;
    for (const Bytes& bytes : damaged(bytesOf(PackagePartWriter::writeMesh, PackagePartSamples::box()), 1, 1200)) {
        ObjPkgManager::Mesh mesh(&files);
        const auto stream = streamOf(bytes);
        complete += mesh.load(*stream);
        ASSERT_TRUE(sane(mesh.position, 1e7f) && sane(mesh.rotation, 1e6f)) << bytes.size();
        ASSERT_TRUE(std::isfinite(mesh.scale) && std::isfinite(mesh.shader.textureScale));
        ASSERT_LE(uint32_t(mesh.geometries.count()), stream->size() / 4);
        for (auto* node = mesh.geometries.head(); node; node = node->next)
            ASSERT_TRUE(sane(node->item->position, 1e7f) && sane(node->item->size, 1e4f));
        ASSERT_LE(*mesh.getVertexCount(), 65535);
        ASSERT_GE(mesh.shader.addressMode, 1u);
        ASSERT_LE(mesh.shader.addressMode, 5u);
    }
    for (const Bytes& bytes : damaged(bytesOf(PackagePartWriter::writeLight, PackagePartSamples::spotLight()), 2, 800)) {
        ObjPkgManager::Light light(&files, nullptr);
        complete += light.load(*streamOf(bytes));
        light.update();
        ASSERT_TRUE(sane(light.position, 1e7f) && std::isfinite(light.range) && std::isfinite(light.coneAngle));
        for (const vec3d& corner : light.corners)
            ASSERT_TRUE(light.disabled || sane(corner, 1e30f)) << light.kind << " " << light.coneAngle;
    }
    for (const Bytes& bytes :
         damaged(bytesOf(PackagePartWriter::writePhysicsRecord, PackagePartSamples::physics()), 3, 800)) {
        ObjPkgManager::PhysicsRecord record(&files);
        complete += record.load(*streamOf(bytes));
        ASSERT_TRUE(record.mass > 0.0f && std::isfinite(1.0f / record.mass));
        ASSERT_LE(record.sound1Data.size(), bytes.size());
    }
    EXPECT_GT(complete, 0) << "some damage leaves a readable block";
}
