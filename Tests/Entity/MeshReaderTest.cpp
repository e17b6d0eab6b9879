// The four model encodings: the builder's samples decoded value by value,
// the encodings' rules, damaged models and fuzzed samples.
#include "MeshTestSupport.h"

#include "../Core/StreamTestSupport.h"

#include "MeshSamples.h"

#include <cmath>
#include <functional>

namespace {

using MeshReadersCorner = std::pair<vec3d, vec2d>;

// The expected unshared corners of the 84- and 68-byte-header models: the
// stored coordinates scaled and offset, second and third axes exchanged.
std::vector<MeshReadersCorner> expectedCorners(const MeshWriter::Model& model)
{
    uint32_t width = model.textureWidth, height = model.textureHeight;
    for (const auto& texture : model.version == '5' ? model.textures : std::vector<MeshWriter::Model::Texture>{}) {
        width = texture.width;
        height = texture.height;
    }
    std::vector<MeshReadersCorner> corners;
    for (const MeshWriter::Triangle& t : model.triangles)
        for (int c = 0; c < 3; ++c) {
            const auto& xyz = model.frames[0][size_t(t.vertices[c])];
            const vec3d p(float(xyz[0]) * model.scale.x + model.offset.x, float(xyz[1]) * model.scale.y + model.offset.y,
                          float(xyz[2]) * model.scale.z + model.offset.z);
            const MeshWriter::TexCoord& st = model.texCoords[size_t(t.texCoords[c])];
            corners.push_back({vec3d(p.x, p.z, p.y), vec2d(float(st.s) / float(width), float(st.t) / float(height))});
        }
    return corners;
}

std::vector<MeshReadersCorner> expectedCorners(const MeshWriter::FramedModel& model)
{
    const MeshWriter::FramedModel::Frame& frame = model.frames.back();
    std::vector<MeshReadersCorner> corners;
    for (const MeshWriter::Triangle& t : model.triangles)
        for (int c = 0; c < 3; ++c) {
            const auto& xyz = frame.vertices[size_t(uint16_t(t.vertices[c]))];
            const vec3d p(xyz[0] * frame.scale.x + frame.translation.x, xyz[1] * frame.scale.y + frame.translation.y,
                          xyz[2] * frame.scale.z + frame.translation.z);
            const MeshWriter::TexCoord& st = model.texCoords[size_t(uint16_t(t.texCoords[c]))];
            corners.push_back({vec3d(p.x, p.z, p.y),
                               vec2d(float(st.s) / float(model.skinWidth), float(st.t) / float(model.skinHeight))});
        }
    return corners;
}

// The text model's faces as triangles (0, k + 1, k + 2): z negated, v flipped.
std::vector<MeshReadersCorner> expectedCorners(const MeshWriter::TextModel& model)
{
    std::vector<MeshReadersCorner> corners;
    for (const auto& face : model.faces)
        for (size_t k = 0; k + 2 < face.size(); ++k)
            for (size_t c : {size_t(0), k + 1, k + 2}) {
                const vec3d& p = model.positions[size_t(face[c].position)];
                const vec2d uv = face[c].uv >= 0 ? model.uvs[size_t(face[c].uv)] : vec2d();
                corners.push_back({vec3d(p.x, p.y, -p.z), face[c].uv >= 0 ? vec2d(uv.x, 1.0f - uv.y) : uv});
            }
    return corners;
}

vec3d unitCross(const vec3d& p0, const vec3d& p1, const vec3d& p2)
{
    return (p1 - p0).cross(p2 - p0).normalised();
}

// Vertex k is corner k, index k is k, every triangle's vertices carry the
// unit normal of faceCorners(t) (its own corners unless given).
void expectUnshared(EntityMesh& mesh, const std::vector<MeshReadersCorner>& corners,
                    const std::function<std::array<vec3d, 3>(size_t)>& faceCorners = nullptr)
{
    ASSERT_EQ(*mesh.getVertexCount(), int32_t(corners.size()));
    ASSERT_EQ(*mesh.getIndexCount(), int32_t(corners.size()));
    for (size_t k = 0; k < corners.size(); ++k) {
        const int i = int(k);
        ASSERT_EQ(*mesh.getIndex(i), k);
        ASSERT_EQ(position(mesh, i), corners[k].first) << "vertex " << k;
        ASSERT_EQ(uv(mesh, i), corners[k].second) << "vertex " << k;
        const size_t t = k / 3;
        const std::array<vec3d, 3> face = faceCorners ? faceCorners(t)
                                                      : std::array<vec3d, 3>{corners[3 * t].first, corners[3 * t + 1].first,
                                                                             corners[3 * t + 2].first};
        ASSERT_NEAR((normal(mesh, i) - unitCross(face[0], face[1], face[2])).length(), 0.0f, 1e-4f) << k;
    }
}

// The box of the 84- and 68-byte-header models: corners, centre, radius.
void expectCornerBox(EntityMesh& mesh, const std::vector<MeshReadersCorner>& corners)
{
    vec3d minimum = corners[0].first, maximum = minimum;
    for (const auto& corner : corners)
        MeshGeometry::widen(minimum, maximum, corner.first);
    const BoundingBox& box = *mesh.getBounds();
    EXPECT_EQ(box.minimum, minimum);
    EXPECT_EQ(box.maximum, maximum);
    EXPECT_EQ(box.center, (minimum + maximum) * 0.5f);
    EXPECT_EQ(box.radiusSq, (maximum - box.center).lengthSq());
    EXPECT_NEAR(box.radius, std::sqrt(box.radiusSq), 1e-4f);
}

TEST(MeshReaders, ModelSampleDecodesToItsValues)
{
    const MeshWriter::Model model = MeshSamples::model();
    const std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeModel, model);
    EntityMesh mesh(String(L"box"));
    EXPECT_EQ(decode(mesh, bytes, 1), bytes.size());
    const auto corners = expectedCorners(model);
    ASSERT_EQ(corners.size(), 36u);
    expectUnshared(mesh, corners);
    expectCornerBox(mesh, corners);
    EXPECT_EQ(mesh.getBounds()->minimum, vec3d(-1, -1, -1));
    EXPECT_FALSE(mesh.getTexture()->isBound()) << "without a device no texture, the geometry still loads";
}

TEST(MeshReaders, FramedModelSampleKeepsTheLastFrame)
{
    const MeshWriter::FramedModel model = MeshSamples::framedModel();
    ASSERT_EQ(model.frames.size(), 2u);
    const std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeFramedModel, model);
    EntityMesh mesh(String(L"box"));
    EXPECT_EQ(decode(mesh, bytes, 2), bytes.size());
    const auto corners = expectedCorners(model);
    expectUnshared(mesh, corners);
    expectCornerBox(mesh, corners);
    EXPECT_EQ(mesh.getBounds()->maximum, vec3d(1, 1, 1)) << "the second, larger frame";
}

TEST(MeshReaders, TextModelSampleGivesTwoTrianglesPerFace)
{
    const MeshWriter::TextModel model = MeshSamples::textModel();
    const std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeTextModel, model);
    EntityMesh mesh(String(L"box"));
    decode(mesh, bytes, 3);
    const auto corners = expectedCorners(model);
    ASSERT_EQ(corners.size(), 36u);
    // Both triangles of a face carry the normal of the face's first three corners.
    expectUnshared(mesh, corners, [&](size_t t) {
        const size_t first = (t / 2) * 6;
        return std::array<vec3d, 3>{corners[first].first, corners[first + 1].first, corners[first + 2].first};
    });
    const BoundingBox& box = *mesh.getBounds();
    EXPECT_EQ(box.minimum, vec3d(-0.5f, -0.5f, -0.5f));
    EXPECT_EQ(box.maximum, vec3d(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(box.center, vec3d());
    EXPECT_EQ(box.radius, 1.0f);
    EXPECT_EQ(box.radiusSq, 1.0f);
}

// The record written for a mesh of type M reads back whole: the stream ends
// where the record does.
template <class M>
void expectRecord(const char* name, MeshWriter::Record record, bool normals, bool uvs)
{
    SCOPED_TRACE(name);
    record.meshFormat = M::fvf;
    const std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeRecord, record);
    M mesh(String(L"box"));
    if (normals)
        for (int v = 0; v < 24; ++v)
            *mesh.getVertexData(v)->normal = vec3d(9, 9, 9);
    EXPECT_EQ(decode(mesh, bytes, 4), bytes.size());
    ASSERT_EQ(*mesh.getVertexCount(), int32_t(record.positions.size()));
    EXPECT_EQ(indicesOf(mesh), record.indices);
    for (size_t v = 0; v < record.positions.size(); ++v) {
        const VertexComponents& c = *mesh.getVertexData(int(v));
        ASSERT_EQ(*c.position, record.positions[v]);
        if (normals) {
            ASSERT_EQ(*c.normal, (record.format & 0x10) ? record.normals[v] : vec3d(9, 9, 9)) << v;
        }
        if (uvs) {
            ASSERT_EQ(*c.uv, (record.format & 0x100) ? record.uvs[v] : vec2d()) << v;
        }
    }
}

TEST(MeshReaders, RecordSampleReadsTheComponentsEveryMeshTypeShares)
{
    const MeshWriter::Record record = MeshSamples::record();
    expectRecord<EntityMesh>("format 274 into 274", record, true, true);
    expectRecord<JointMesh>("format 274 into 18", record, true, false);
    expectRecord<PointMesh>("format 274 into 2", record, false, false);
    MeshWriter::Record positions = record;
    positions.format = 2;
    expectRecord<EntityMesh>("format 2 into 274: normals and uv untouched", positions, true, true);
    MeshWriter::Record marked = record;
    marked.marker = true;
    expectRecord<EntityMesh>("after the marker byte", marked, true, true);

    EntityMesh mesh(String(L"box"));
    decode(mesh, bytesOf(MeshWriter::writeRecord, record), 4);
    const BoundingBox& box = *mesh.getBounds();
    EXPECT_EQ(box.center, record.box.center);
    EXPECT_NEAR((box.maximum - record.box.maximum).length(), 0.0f, 1e-3f);
    EXPECT_NEAR((box.minimum - (record.box.center * 2.0f - record.box.maximum)).length(), 0.0f, 1e-3f);
    EXPECT_EQ(box.radius, 1.0f);
    EXPECT_EQ(box.radiusSq, 1.0f);
}

// A vertex record holds what both formats have, so the same stored format
// makes records of another size for another mesh type.
TEST(MeshReaders, RecordVerticesHoldOnlyTheComponentsBothFormatsHave)
{
    const vec3d points[3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const auto recordOf = [](uint32_t format, const std::vector<float>& vertexFloats) {
        std::vector<uint8_t> bytes;
        const auto put = [&](const auto& value) {
            const auto* p = reinterpret_cast<const uint8_t*>(&value);
            bytes.insert(bytes.end(), p, p + sizeof(value));
        };
        put(format);
        for (float f : {0.0f, 0.0f, 0.0f, 1.0f, 1.0f, -9.0f, -9.0f, -9.0f, 9.0f, 9.0f, 9.0f})
            put(f);
        put(uint32_t(3));
        put(uint32_t(3));
        for (uint16_t i : {0, 1, 2})
            put(i);
        for (float f : vertexFloats)
            put(f);
        return bytes;
    };

    // Format 274 with three 12-byte vertices into a position-only mesh.
    std::vector<float> positions;
    for (const vec3d& p : points)
        positions.insert(positions.end(), {p.x, p.y, p.z});
    const std::vector<uint8_t> narrow = recordOf(274, positions);
    PointMesh mesh(String(L"points"));
    EXPECT_EQ(decode(mesh, narrow, 4), narrow.size());
    ASSERT_EQ(*mesh.getVertexCount(), 3);
    for (int v = 0; v < 3; ++v)
        EXPECT_EQ(position(mesh, v), points[v]) << v;

    // Whole 32-byte records for that mesh: read as 12-byte records, so the
    // second and third vertices come from the first record's normal and uv.
    std::vector<float> whole;
    for (const vec3d& p : points)
        whole.insert(whole.end(), {p.x, p.y, p.z, 0.5f, 0.6f, 0.7f, 0.25f, 0.75f});
    PointMesh wide(String(L"points"));
    EXPECT_EQ(decode(wide, recordOf(274, whole), 4), narrow.size());
    ASSERT_EQ(*wide.getVertexCount(), 3);
    EXPECT_EQ(position(wide, 0), points[0]);
    EXPECT_EQ(position(wide, 1), vec3d(0.5f, 0.6f, 0.7f));
    EXPECT_EQ(position(wide, 2), vec3d(0.25f, 0.75f, 4.0f));

    // The builder writes the shared components for the reading mesh's format.
    MeshWriter::Record record = MeshSamples::record();
    record.meshFormat = 2;
    const std::vector<uint8_t> written = bytesOf(MeshWriter::writeRecord, record);
    EXPECT_EQ(written.size(), 56 + 2 * record.indices.size() + 12 * record.positions.size());
    record.format = 0x152; // position, normal, colour, uv
    record.colours.assign(record.positions.size(), 0xFF102030u);
    record.meshFormat = 274;
    EXPECT_EQ(bytesOf(MeshWriter::writeRecord, record).size(),
              56 + 2 * record.indices.size() + 32 * record.positions.size());
}

TEST(MeshReaders, RecordBoxAndNormalsFollowTheTransform)
{
    // A quarter turn about y, scaled by 2, moved by (5, 0, 0).
    matrix3d t{};
    t.at(0, 2) = -2.0f;
    t.at(1, 1) = 2.0f;
    t.at(2, 0) = 2.0f;
    t.at(3, 0) = 5.0f;
    t.at(3, 3) = 1.0f;
    MeshWriter::Record record = MeshSamples::record();
    record.box = {{0.5f, 1.0f, 0.0f}, 1.0f, 1.0f, {}, {1.0f, 3.0f, 0.5f}};
    EntityMesh mesh(String(L"box"));
    decode(mesh, bytesOf(MeshWriter::writeRecord, record), 4, t);
    // The box that holds the stored box's eight corners carried through t.
    const vec3d half = record.box.maximum - record.box.center;
    vec3d minimum = t.transformPoint(record.box.center), maximum = minimum;
    for (int k = 0; k < 8; ++k) {
        const vec3d corner = MeshSamples::corner(k, 1.0f);
        MeshGeometry::widen(minimum, maximum,
                            t.transformPoint(record.box.center + vec3d(corner.x * half.x, corner.y * half.y, corner.z * half.z)));
    }
    EXPECT_NEAR((mesh.getBounds()->minimum - minimum).length(), 0.0f, 1e-3f);
    EXPECT_NEAR((mesh.getBounds()->maximum - maximum).length(), 0.0f, 1e-3f);
    for (int v = 0; v < 24; ++v) {
        ASSERT_EQ(position(mesh, v), t.transformPoint(record.positions[size_t(v)]));
        const vec3d n = record.normals[size_t(v)];
        ASSERT_NEAR((normal(mesh, v) - vec3d(n.z, n.y, -n.x)).length(), 0.0f, 1e-3f) << "turned, not scaled";
    }
}

// A mesh with content, to tell untouched from emptied.
void prefill(EntityMesh& mesh)
{
    for (int v = 0; v < 3; ++v)
        position(mesh, v) = vec3d(7, 7, float(v));
    mesh.addTriangle(0, 1, 2);
    *mesh.getVertexCount() = 3;
}

void patch32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value)
{
    std::memcpy(bytes.data() + offset, &value, 4);
}

TEST(MeshReaders, EncodingRules)
{
    MeshWriter::Model model = MeshSamples::model();

    // Not a model of the mode: the mesh stays as it was.
    for (int mode : {0, 5, -1}) {
        EntityMesh mesh(String(L"m"));
        prefill(mesh);
        decode(mesh, bytesOf(MeshWriter::writeModel, model), mode);
        EXPECT_EQ(*mesh.getVertexCount(), 3) << mode;
    }
    {
        EntityMesh mesh(String(L"m"));
        prefill(mesh);
        MeshTools::processMode(mesh, nullptr, matrix3d::identity(), 1);
        FileArray closed(16);
        closed.isOpen = false;
        MeshTools::processMode(mesh, &closed, matrix3d::identity(), 4);
        model.version = '6';
        decode(mesh, bytesOf(MeshWriter::writeModel, model), 1);
        EXPECT_EQ(*mesh.getVertexCount(), 3);
        EXPECT_EQ(position(mesh, 2), vec3d(7, 7, 2));
    }

    // Frames after the first are not read; version 3 reads no textures
    // whatever its header counts; a texture of type 3 changes the uv scale
    // and carries no pixels.
    model = MeshSamples::model();
    model.frames.push_back(model.frames[0]);
    model.frames.push_back(model.frames[0]);
    std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeModel, model);
    EntityMesh mesh(String(L"m"));
    EXPECT_EQ(decode(mesh, bytes, 1), bytes.size() - 2 * (4 + 8 + 16 + 8 * 4)) << "stops after the first frame";
    expectUnshared(mesh, expectedCorners(model));
    model = MeshSamples::model();
    model.version = '3';
    model.textureWidth = 32;
    model.textureHeight = 128;
    bytes = bytesOf(MeshWriter::writeModel, model);
    patch32(bytes, 48, 5);
    decode(mesh, bytes, 1);
    expectUnshared(mesh, expectedCorners(model));
    model = MeshSamples::model();
    model.textures.push_back({3, 128, 32, {}});
    decode(mesh, bytesOf(MeshWriter::writeModel, model), 1);
    EXPECT_EQ(uv(mesh, 1), vec2d(0.5f, 0.0f)) << "64 / 128";
    expectUnshared(mesh, expectedCorners(model));

    // 16-bit frame records.
    model = MeshSamples::model();
    model.frameKind = 1;
    for (auto& xyz : model.frames[0])
        xyz[1] = uint16_t(xyz[1] * 300);
    decode(mesh, bytesOf(MeshWriter::writeModel, model), 1);
    expectUnshared(mesh, expectedCorners(model));
    EXPECT_EQ(mesh.getBounds()->maximum.z, 599.0f);

    // A transform applies after the axis swap.
    model = MeshSamples::model();
    matrix3d moved = matrix3d::identity();
    moved.m[13] = 10.0f;
    decode(mesh, bytesOf(MeshWriter::writeModel, model), 1, moved);
    EXPECT_EQ(position(mesh, 0), expectedCorners(model)[0].first + vec3d(0, 10, 0));

    // An empty model: no vertices and an all-zero box.
    model.triangles.clear();
    decode(mesh, bytesOf(MeshWriter::writeModel, model), 1);
    EXPECT_EQ(*mesh.getVertexCount(), 0);
    EXPECT_EQ(mesh.getBounds()->radius, 0.0f);
}

TEST(MeshReaders, TextStatementsAndFaces)
{
    struct Case
    {
        std::string text;
        std::vector<MeshReadersCorner> corners;
    };
    const vec3d a(1, 2, -3), b(4, 5, -6), c(7, 8, -9), d(1, 1, -1);
    const std::string points = "v 1 2 3\nv 4 5 6\nv 7 8 9\nv 1 1 1\n";
    const std::vector<Case> cases = {
        {"v 1 2 3\nv 4 5 6\nv 7 8 9\nf 1 2 3\n", {{a, {}}, {b, {}}, {c, {}}}},
        {"v 1 2 3\r\nv 4 5 6\r\nv 7 8 9\r\nf 1 2 3\r\n", {{a, {}}, {b, {}}, {c, {}}}},
        {"v 1 2 3\nv 4 5 6\nv 7 8 9\nf 1 2 3", {{a, {}}, {b, {}}, {c, {}}}}, // no final line feed
        {"vt 0.25 0.75\nvt 1.5 -0.5\nv 1 2 3\nv 4 5 6\nv 7 8 9\nf 1/1 2/2 3/5\n",
         {{a, {0.25f, 0.25f}}, {b, {1.5f, 1.5f}}, {c, {}}}},
        {points + "f 1 2 3 4\n", {{a, {}}, {b, {}}, {c, {}}, {a, {}}, {c, {}}, {d, {}}}},
        {points + "f 1 2\nf 1\n", {}},
        {"v 1 2 3\nv 4 5 6\nv 7 8 9\nvn 0 0 1\nf 1//1 2//1 3//1\n", {{a, {}}, {b, {}}, {c, {}}}},
        {"# v 9 9 9\ng f 1 2 3\nv 1 2 3\nv 4 5 6\nv 7 8 9\nusemtl stone f 1 2 3\n", {{a, {}}, {b, {}}, {c, {}}}},
        {"mtllib v 1 2 3\nv 4 5 6\nv 7 8 9\ns off\nf 1 2 3\n", {{a, {}}, {b, {}}, {c, {}}}},
        {"v  x1 y2 z3\nv 4 5 6\nv 7 8 9\nf 1 2 3\n", {{a, {}}, {b, {}}, {c, {}}}},
        // "vn" reads three numbers: the third one here is the 9 of "v 9".
        {"v 1 2 3\nvn 0 0 v 9 9 9\nv 4 5 6\nv 7 8 9\nf 1 2 3\n", {{a, {}}, {b, {}}, {c, {}}}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        EntityMesh mesh(String(L"m"));
        decode(mesh, textBytes(test.text), 3);
        ASSERT_EQ(*mesh.getVertexCount(), int32_t(test.corners.size()));
        for (size_t k = 0; k < test.corners.size(); ++k) {
            EXPECT_EQ(position(mesh, int(k)), test.corners[k].first) << k;
            EXPECT_EQ(uv(mesh, int(k)), test.corners[k].second) << k;
        }
    }
}

// Damaged models leave the counts at 0; nothing is read or written outside
// the data.
// 21,845 unshared triangles are 65,535 vertices, the most 16-bit indices
// name: both frame encodings take them whole (one more is refused below).
TEST(MeshReaders, TheMostTrianglesSixteenBitIndicesHold)
{
    MeshWriter::Model model = MeshSamples::model();
    model.triangles.resize(21845, model.triangles[0]);
    MeshWriter::FramedModel framed = MeshSamples::framedModel();
    framed.triangles.resize(21845, framed.triangles[0]);
    const std::pair<int, std::vector<uint8_t>> cases[] = {
        {1, bytesOf(MeshWriter::writeModel, model)},
        {2, bytesOf(MeshWriter::writeFramedModel, framed)},
    };
    for (const auto& [mode, bytes] : cases) {
        EntityMesh mesh(String(L"m"));
        decode(mesh, bytes, mode);
        EXPECT_EQ(*mesh.getVertexCount(), 65535) << mode;
        EXPECT_EQ(*mesh.getIndexCount(), 65535) << mode;
        EXPECT_EQ(*mesh.getIndex(65534), 65534) << mode;
    }
}

TEST(MeshReaders, DamagedModelsLeaveTheMeshEmpty)
{
    struct Case
    {
        const char* name;
        int mode;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    const auto model = [&](const char* name, const std::function<void(MeshWriter::Model&)>& change) {
        MeshWriter::Model m = MeshSamples::model();
        change(m);
        cases.push_back({name, 1, bytesOf(MeshWriter::writeModel, m)});
    };
    const auto framed = [&](const char* name, const std::function<void(MeshWriter::FramedModel&)>& change) {
        MeshWriter::FramedModel m = MeshSamples::framedModel();
        change(m);
        cases.push_back({name, 2, bytesOf(MeshWriter::writeFramedModel, m)});
    };
    const auto record = [&](const char* name, const std::function<void(std::vector<uint8_t>&)>& change) {
        std::vector<uint8_t> bytes = bytesOf(MeshWriter::writeRecord, MeshSamples::record());
        change(bytes);
        cases.push_back({name, 4, bytes});
    };
    model("vertex index past the frame", [](auto& m) { m.triangles[3].vertices[1] = 8; });
    model("negative vertex index", [](auto& m) { m.triangles[0].vertices[0] = -1; });
    model("uv index past the table", [](auto& m) { m.triangles[5].texCoords[2] = 4; });
    model("texture of one texel row", [](auto& m) { m.textures[0] = {2, 64, 1, std::vector<uint16_t>(64)}; });
    model("zero uv divisor", [](auto& m) { m.textures.push_back({3, 0, 64, {}}); });
    model("over 21,845 triangles", [](auto& m) { m.triangles.resize(21846, m.triangles[0]); });
    framed("vertex index past the frame", [](auto& m) { m.triangles[2].vertices[0] = 8; });
    framed("uv index past the table", [](auto& m) { m.triangles[2].texCoords[0] = 4; });
    framed("over 32 skins", [](auto& m) { m.skins.resize(33, "skin"); });
    framed("zero skin width", [](auto& m) { m.skinWidth = 0; });
    framed("negative skin width", [](auto& m) { m.skinWidth = uint32_t(-64); });
    framed("no frame", [](auto& m) { m.frames.clear(); });
    framed("over 21,845 triangles", [](auto& m) { m.triangles.resize(21846, m.triangles[0]); });
    record("index past the vertex count", [](auto& b) { b[4 + 44 + 8 + 10] = 24; });
    record("over 65,535 vertices", [](auto& b) { patch32(b, 4 + 44 + 4, 65536); });
    record("inflated index count", [](auto& b) { patch32(b, 4 + 44, 0x7FFFFFFF); });
    for (const char* text : {"v 1 2 3\nf 1 2 4\n", "v 1 2 3\nf 1 0 1\n", "v 1 2 3\nf -1 1 1\n", "v 1 2 3\nf /1 1 1\n",
                             "f 1 2 3\nv 1 2 3\nv 1 2 3\nv 1 2 3\n",
                             "v 1 2 3\nf 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"})
        cases.push_back({text, 3, textBytes(text)});
    std::string many = "v 1 2 3\n";
    for (int f = 0; f < 4400; ++f)
        many += "f 1 1 1 1 1 1 1\n"; // five triangles each: over 65,535 corners
    cases.push_back({"over 65,535 corners", 3, textBytes(many)});
    // Every encoding cut short.
    cases.push_back({"cut model", 1, bytesOf(MeshWriter::writeModel, MeshSamples::model())});
    cases.push_back({"cut framed model", 2, bytesOf(MeshWriter::writeFramedModel, MeshSamples::framedModel())});
    cases.push_back({"cut record", 4, bytesOf(MeshWriter::writeRecord, MeshSamples::record())});
    for (size_t k = cases.size() - 3; k < cases.size(); ++k)
        cases[k].bytes.resize(cases[k].bytes.size() - 3);

    for (const Case& c : cases) {
        EntityMesh mesh(String(L"m"));
        prefill(mesh);
        decode(mesh, c.bytes, c.mode);
        EXPECT_EQ(*mesh.getVertexCount(), 0) << c.name;
        EXPECT_EQ(*mesh.getIndexCount(), 0) << c.name;
    }
}

// Every sample damaged many times over (fixed seed): each decode ends with a
// consistent mesh, and the package loader's next steps (tree, welding) run
// on it safely.
TEST(MeshReaders, FuzzedSamplesNeverBreakTheDecoders)
{
    const std::vector<std::pair<int, std::vector<uint8_t>>> samples = {
        {1, bytesOf(MeshWriter::writeModel, MeshSamples::model())},
        {2, bytesOf(MeshWriter::writeFramedModel, MeshSamples::framedModel())},
        {3, bytesOf(MeshWriter::writeTextModel, MeshSamples::textModel())},
        {4, bytesOf(MeshWriter::writeRecord, MeshSamples::record())},
    };
    std::mt19937 random(1616);
    for (const auto& [mode, bytes] : samples)
        for (int round = 0; round < 400; ++round) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " round " << round);
            EntityMesh mesh(String(L"m"));
            decode(mesh, mutate(bytes, random), mode);
            expectConsistent(mesh);
            MeshTools::buildTriangleTree(mesh);
            MeshTools::weldVertices(mesh);
            expectConsistent(mesh);
        }
}

}
