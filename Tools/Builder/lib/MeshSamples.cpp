#include "MeshSamples.h"

#include "Core/FileArray.h"

namespace MeshSamples {

const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};

vec3d corner(int k, float half)
{
    return vec3d(k & 1 ? half : -half, k & 2 ? half : -half, k & 4 ? half : -half);
}

namespace {

// The uv corners of every face, in texels of a 64 x 64 texture.
const MeshWriter::TexCoord faceTexCoords[4] = {{0, 0}, {64, 0}, {64, 64}, {0, 64}};

// Triangles (0, 1, 2) and (0, 2, 3) of every face over corner numbers.
std::vector<MeshWriter::Triangle> boxTriangles()
{
    std::vector<MeshWriter::Triangle> triangles;
    for (const auto& face : faces)
        for (int second : {1, 2})
            triangles.push_back({{int16_t(face[0]), int16_t(face[second]), int16_t(face[second + 1])},
                                 {0, int16_t(second), int16_t(second + 1)}});
    return triangles;
}

// Red, green and blue stripes over a white ground (R5G6B5).
std::vector<uint16_t> stripes(uint32_t side)
{
    std::vector<uint16_t> pixels;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            static const uint16_t colours[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};
            pixels.push_back(colours[(x / 8 + y / 16) % 4]);
        }
    return pixels;
}

bool saveOne(const String& path, bool (*write)(FileArray&))
{
    FileArray bytes(4096);
    return write(bytes) && FileInterface::saveToFile(bytes, path);
}

}

MeshWriter::Model model()
{
    MeshWriter::Model m;
    m.version = '5';
    m.scale = vec3d(0.01f, 0.01f, 0.01f);
    m.offset = vec3d(-1.0f, -1.0f, -1.0f);
    m.textures.push_back({2, 64, 64, stripes(64)});
    m.texCoords.assign(std::begin(faceTexCoords), std::end(faceTexCoords));
    m.triangles = boxTriangles();
    m.frameKind = 0;
    std::vector<std::array<uint16_t, 3>> vertices;
    for (int k = 0; k < 8; ++k)
        vertices.push_back({uint16_t(k & 1 ? 200 : 0), uint16_t(k & 2 ? 200 : 0), uint16_t(k & 4 ? 200 : 0)});
    m.frames.push_back(vertices);
    return m;
}

MeshWriter::FramedModel framedModel()
{
    MeshWriter::FramedModel m;
    m.skinWidth = 64;
    m.skinHeight = 64;
    m.skins = {"box"};
    m.texCoords.assign(std::begin(faceTexCoords), std::end(faceTexCoords));
    m.triangles = boxTriangles();
    m.vertexCount = 8;
    for (float size : {1.0f, 2.0f}) {
        MeshWriter::FramedModel::Frame frame;
        frame.scale = vec3d(size / 255.0f, size / 255.0f, size / 255.0f);
        frame.translation = vec3d(-size / 2, -size / 2, -size / 2);
        frame.name = size == 1.0f ? "small" : "large";
        for (int k = 0; k < 8; ++k)
            frame.vertices.push_back({uint8_t(k & 1 ? 255 : 0), uint8_t(k & 2 ? 255 : 0), uint8_t(k & 4 ? 255 : 0)});
        m.frames.push_back(frame);
    }
    return m;
}

MeshWriter::TextModel textModel()
{
    MeshWriter::TextModel m;
    m.name = "box";
    for (int k = 0; k < 8; ++k)
        m.positions.push_back(corner(k, 0.5f));
    m.uvs = {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}};
    m.normals = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}}; // the faces' outward normals
    for (int f = 0; f < 6; ++f) {
        std::vector<MeshWriter::TextModel::Corner> face;
        for (int c = 0; c < 4; ++c)
            face.push_back({faces[f][c], c, f});
        m.faces.push_back(face);
    }
    return m;
}

MeshWriter::Record record()
{
    MeshWriter::Record r;
    r.format = 274;
    r.box = {{}, 0.8660254f, 0.75f, corner(0, 0.5f), corner(7, 0.5f)};
    for (int f = 0; f < 6; ++f) {
        const uint16_t first = uint16_t(r.positions.size());
        const vec3d p0 = corner(faces[f][0], 0.5f);
        const vec3d normal = (corner(faces[f][1], 0.5f) - p0).cross(corner(faces[f][2], 0.5f) - p0).normalised();
        for (int c = 0; c < 4; ++c) {
            r.positions.push_back(corner(faces[f][c], 0.5f));
            r.normals.push_back(normal);
            r.uvs.push_back(vec2d(faceTexCoords[c].s / 64.0f, faceTexCoords[c].t / 64.0f));
        }
        for (uint16_t index : {0, 1, 2, 0, 2, 3})
            r.indices.push_back(uint16_t(first + index));
    }
    return r;
}

bool save(const String& folder)
{
    return saveOne(folder + L"Box1.mesh", [](FileArray& out) { return MeshWriter::writeModel(out, model()); }) &&
           saveOne(folder + L"Box2.mesh", [](FileArray& out) { return MeshWriter::writeFramedModel(out, framedModel()); }) &&
           saveOne(folder + L"Box3.mesh", [](FileArray& out) { return MeshWriter::writeTextModel(out, textModel()); }) &&
           saveOne(folder + L"Box4.mesh", [](FileArray& out) { return MeshWriter::writeRecord(out, record()); });
}

}
