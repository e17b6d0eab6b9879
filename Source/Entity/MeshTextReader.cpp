// Mode 3: the text model. The whole text is scanned one character at a time,
// and statement letters count wherever the scan stands (inside any other
// statement too):
//   "#" or "g": the rest of the line is skipped (to the next CR or LF);
//   "v ": a position x, y, z, stored as (x, y, -z) through the transform;
//   "vt": a uv u, v, stored as (u, 1 - v); "vn": three numbers, unused;
//   "f ": a face to the end of the line: corners separated by spaces, each
//   "position[/uv[/normal]]" counting from 1.
// A number skips everything but digits, ".", "+", "-" and the line feed,
// then runs to the next space or line feed. A face of k corners (3 to 16)
// gives the triangles (0, i + 1, i + 2), every corner a vertex of its own with
// the face's normal from corners 0, 1 and 2; a corner without a uv number, or
// with one naming no uv read so far, gets uv (0, 0). A position number that
// names no position read so far, an empty one, and faces of more than 16
// corners make the model damaged. The last line needs no line feed.
#include "Entity/MeshReaders.h"

#include "Core/FileInterface.h"
#include "Core/Matrix.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t maxFaceCorners = 16;

class TextScanner
{
public:
    TextScanner(const char* text, size_t size) : text_(text), size_(size) {}

    bool atEnd() const { return position_ >= size_; }
    char at(size_t offset) const { return position_ + offset < size_ ? text_[position_ + offset] : 0; }
    void advance(size_t n) { position_ = std::min(size_, position_ + n); }

    // Moves to the next CR or LF (or the end).
    void skipLine()
    {
        while (position_ < size_ && text_[position_] != '\r' && text_[position_] != '\n')
            ++position_;
    }

    float number()
    {
        while (position_ < size_ && !startsNumber(text_[position_]))
            ++position_;
        const size_t start = position_;
        while (position_ < size_ && text_[position_] != ' ' && text_[position_] != '\n')
            ++position_;
        return float(std::strtod(std::string(text_ + start, position_ - start).c_str(), nullptr));
    }

    // The rest of the line (without its line feed); the scan moves to the
    // line feed.
    std::string_view line()
    {
        const size_t start = position_;
        while (position_ < size_ && text_[position_] != '\n')
            ++position_;
        return std::string_view(text_ + start, position_ - start);
    }

private:
    static bool startsNumber(char c) { return (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == '\n'; }

    const char* text_;
    size_t size_;
    size_t position_ = 0;
};

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// A corner's number field as the file counts it, minus 1; -1 for an empty field.
int32_t fieldIndex(std::string_view field)
{
    if (field.empty())
        return -1;
    return std::atoi(std::string(field).c_str()) - 1;
}

struct FaceCorner
{
    int32_t position;
    int32_t uv;
};

// Splits a face line into corners; false for an empty position field or
// more than 16 corners.
bool parseFace(std::string_view line, FaceCorner* corners, size_t& count)
{
    count = 0;
    size_t i = 0;
    while (i < line.size()) {
        if (isSeparator(line[i])) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < line.size() && !isSeparator(line[end]))
            ++end;
        const std::string_view corner = line.substr(i, end - i);
        i = end;
        const size_t slash = corner.find('/');
        const std::string_view position = corner.substr(0, slash);
        std::string_view uv;
        if (slash != std::string_view::npos) {
            const std::string_view rest = corner.substr(slash + 1);
            uv = rest.substr(0, rest.find('/'));
        }
        if (position.empty() || count == maxFaceCorners)
            return false;
        corners[count++] = {fieldIndex(position), fieldIndex(uv)};
    }
    return true;
}

}

namespace MeshReaders {

Result readTextModel(MeshTools& mesh, FileInterface& stream, const matrix3d& transform)
{
    const uint32_t size = stream.remaining();
    const std::unique_ptr<uint8_t[]> text = readBlock(stream, size);
    if (!text)
        return Result::damaged;
    TextScanner scan(reinterpret_cast<const char*>(text.get()), size);
    std::vector<vec3d> positions;
    std::vector<vec2d> uvs;
    std::vector<Corner> corners;
    std::vector<vec3d> normals; // one per triangle
    vec3d minimum, maximum;
    while (!scan.atEnd()) {
        const char c = scan.at(0), next = scan.at(1);
        if (c == '#' || c == 'g') {
            scan.skipLine();
        } else if (c == 'v' && next == ' ') {
            scan.advance(2);
            const float x = scan.number(), y = scan.number(), z = scan.number();
            const vec3d p = transform.transformPoint(vec3d(x, y, -z));
            if (positions.empty())
                minimum = maximum = p;
            MeshGeometry::widen(minimum, maximum, p);
            positions.push_back(p);
        } else if (c == 'v' && next == 't') {
            scan.advance(2);
            const float u = scan.number(), v = scan.number();
            uvs.push_back(vec2d(u, 1.0f - v));
        } else if (c == 'v' && next == 'n') {
            scan.advance(2);
            scan.number();
            scan.number();
            scan.number();
        } else if (c == 'f' && next == ' ') {
            scan.advance(2);
            FaceCorner face[maxFaceCorners];
            size_t count = 0;
            if (!parseFace(scan.line(), face, count))
                return Result::damaged;
            if (count < 3)
                continue;
            Corner made[maxFaceCorners];
            for (size_t k = 0; k < count; ++k) {
                if (face[k].position < 0 || size_t(face[k].position) >= positions.size())
                    return Result::damaged;
                const bool hasUv = face[k].uv >= 0 && size_t(face[k].uv) < uvs.size();
                made[k] = {positions[size_t(face[k].position)], hasUv ? uvs[size_t(face[k].uv)] : vec2d()};
            }
            if (corners.size() + 3 * (count - 2) > maxUnsharedVertices)
                return Result::damaged;
            const vec3d normal = MeshGeometry::faceNormal(made[0].position, made[1].position, made[2].position);
            for (size_t k = 0; k + 2 < count; ++k) {
                corners.push_back(made[0]);
                corners.push_back(made[k + 1]);
                corners.push_back(made[k + 2]);
                normals.push_back(normal);
            }
        } else {
            scan.advance(1);
        }
    }
    if (!writeUnsharedTriangles(mesh, corners.data(), uint32_t(corners.size()), normals.data()))
        return Result::damaged;
    BoundingBox box;
    box.radius = box.radiusSq = 1.0f;
    MeshGeometry::setCorners(box, minimum, maximum);
    mesh.setBounds(box);
    return Result::done;
}

}
