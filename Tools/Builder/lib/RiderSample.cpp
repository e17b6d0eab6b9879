#include "RiderSample.h"

#include "MeshSamples.h"

#include "Core/FileArray.h"
#include "Core/Matrix.h"

#include <string>

namespace RiderSample {

// Bones hang along -y of their placement at zero angles; z 180 turns the
// spine up, z -90 and 90 turn the clavicles out to +x (the rider's right,
// x runs right) and -x (left).
const BoneDescription bones[boneCount] = {
    {-1, {0.0f, 0.0f, 0.0f}, 0.1f, 0.12f},   // 0 pelvis
    {0, {0.0f, 0.0f, 8.0f}, 0.85f, 0.06f},   // 1 left leg
    {0, {0.0f, 0.0f, -8.0f}, 0.85f, 0.06f},  // 2 right leg
    {0, {0.0f, 0.0f, 180.0f}, 0.5f, 0.1f},   // 3 spine
    {3, {0.0f, 0.0f, -90.0f}, 0.2f, 0.04f},  // 4 right clavicle
    {4, {0.0f, 0.0f, -90.0f}, 0.3f, 0.045f}, // 5 right upper arm
    {5, {0.0f, 0.0f, 0.0f}, 0.3f, 0.04f},    // 6 right forearm
    {6, {0.0f, 0.0f, 0.0f}, 0.1f, 0.035f},   // 7 right hand
    {3, {0.0f, 0.0f, 0.0f}, 0.25f, 0.1f},    // 8 head
    {3, {0.0f, 0.0f, 90.0f}, 0.2f, 0.04f},   // 9 left clavicle
    {9, {0.0f, 0.0f, 90.0f}, 0.3f, 0.045f},  // 10 left upper arm
    {10, {0.0f, 0.0f, 0.0f}, 0.3f, 0.04f},   // 11 left forearm
    {11, {0.0f, 0.0f, 0.0f}, 0.1f, 0.035f},  // 12 left hand
};

const vec3d rootPosition{0.0f, 1.0f, 0.0f};

namespace {

bool isLeaf(int b)
{
    for (const BoneDescription& other : bones)
        if (other.parent == b)
            return false;
    return true;
}

// Bone b's placement under its parent's rest placement, turned by angles.
matrix3d place(int b, const vec3d& angles, const matrix3d placements[boneCount])
{
    matrix3d m = matrix3d::fromAngles(angles);
    const int p = bones[b].parent;
    if (p < 0) {
        m.setRow(3, rootPosition);
        return m;
    }
    m = m * placements[p];
    m.setRow(3, placements[p].row(3) - placements[p].row(1) * bones[p].length);
    return m;
}

// The stored record of bone b and its children: a parent's children go in
// the reverse of their skeleton order, which the game's walk undoes.
MeshWriter::Skeleton::Bone boneRecord(int b, int firstVertex)
{
    MeshWriter::Skeleton::Bone record;
    record.angles = bones[b].angles;
    record.length = bones[b].length;
    for (int v = 0; v < 24; ++v)
        record.vertices.push_back({uint16_t(firstVertex + 24 * b + v), 0});
    for (int child = boneCount - 1; child > b; --child)
        if (bones[child].parent == b)
            record.children.push_back(boneRecord(child, firstVertex));
    return record;
}

// One frame from every bone's angles (and the root's position).
MeshWriter::Skeleton::Frame frameOf(const vec3d (&angles)[boneCount], const vec3d& root)
{
    MeshWriter::Skeleton::Frame frame;
    frame.header[11] = root.x;
    frame.header[12] = root.y;
    frame.header[13] = root.z;
    for (const vec3d& a : angles)
        frame.rotations.push_back(quaternion::fromMatrix(matrix3d::fromAngles(a)));
    return frame;
}

// The four poses: each bone's angles from its rest angles, and the root.
struct Pose
{
    const char* name;
    void (*change)(vec3d (&)[boneCount]);
    vec3d rootDrop;
};
const Pose poses[] = {
    {"Stand", [](vec3d(&)[boneCount]) {}, {}},
    {"Sit",
     [](vec3d(&a)[boneCount]) {
         a[1] = {-80.0f, 0.0f, 10.0f};
         a[2] = {-80.0f, 0.0f, -10.0f};
         a[3] = {-10.0f, 0.0f, 180.0f};
     },
     {0.0f, 0.25f, 0.0f}},
    // The spine tilted 20 degrees to the rider's left (-x) and right (+x).
    {"LeanLeft", [](vec3d(&a)[boneCount]) { a[3] = {0.0f, 0.0f, -160.0f}; }, {}},
    {"LeanRight", [](vec3d(&a)[boneCount]) { a[3] = {0.0f, 0.0f, 160.0f}; }, {}},
};

void poseAngles(const Pose& pose, vec3d (&angles)[boneCount])
{
    for (int b = 0; b < boneCount; ++b)
        angles[b] = bones[b].angles;
    pose.change(angles);
}

MeshWriter::Skeleton::Animation animation(const Pose& pose)
{
    vec3d angles[boneCount];
    poseAngles(pose, angles);
    return {pose.name, 1, {frameOf(angles, rootPosition - pose.rootDrop)}};
}

}

bool posePlacements(const char* name, matrix3d placements[boneCount])
{
    for (const Pose& pose : poses) {
        if (std::string(pose.name) != name)
            continue;
        vec3d angles[boneCount];
        poseAngles(pose, angles);
        for (int b = 0; b < boneCount; ++b) {
            placements[b] = place(b, angles[b], placements);
            if (b == 0)
                placements[0].setRow(3, rootPosition - pose.rootDrop);
        }
        return true;
    }
    return false;
}

void restPlacements(matrix3d placements[boneCount])
{
    for (int b = 0; b < boneCount; ++b)
        placements[b] = place(b, bones[b].angles, placements);
}

MeshWriter::Record record()
{
    matrix3d rest[boneCount];
    restPlacements(rest);
    MeshWriter::Record r;
    r.format = 274;
    r.marker = true;
    vec3d minimum(1e9f, 1e9f, 1e9f), maximum(-1e9f, -1e9f, -1e9f);
    for (int b = 0; b < boneCount; ++b) {
        // A leaf's vertices are bound to its placement with its own angles
        // at zero (the game reads the leaf's record before its angles take
        // effect); every other bone's to its rest placement.
        const matrix3d bind = isLeaf(b) ? place(b, {}, rest) : rest[b];
        const float w = bones[b].width;
        for (int f = 0; f < 6; ++f) {
            const uint16_t first = uint16_t(r.positions.size());
            vec3d local[4];
            for (int c = 0; c < 4; ++c) {
                // The unit box's corners over x and z in [-w, w], y from the
                // base (0) to the tip (-length).
                const vec3d k = MeshSamples::corner(MeshSamples::faces[f][c], 0.5f);
                local[c] = vec3d(k.x * 2.0f * w, (k.y - 0.5f) * bones[b].length, k.z * 2.0f * w);
            }
            const vec3d normal = bind.transformVector((local[1] - local[0]).cross(local[2] - local[0])).normalised();
            for (int c = 0; c < 4; ++c) {
                const vec3d p = bind.transformPoint(local[c]);
                r.positions.push_back(p);
                r.normals.push_back(normal);
                r.uvs.push_back(vec2d(c == 1 || c == 2 ? 1.0f : 0.0f, c >= 2 ? 1.0f : 0.0f));
                for (int a = 0; a < 3; ++a) {
                    minimum[a] = p[a] < minimum[a] ? p[a] : minimum[a];
                    maximum[a] = p[a] > maximum[a] ? p[a] : maximum[a];
                }
            }
            for (uint16_t index : {0, 1, 2, 0, 2, 3})
                r.indices.push_back(uint16_t(first + index));
        }
    }
    const vec3d center = (minimum + maximum) * 0.5f;
    r.box = {center, (maximum - center).length(), (maximum - center).lengthSq(), minimum, maximum};

    r.skeleton.rootPosition = rootPosition;
    r.skeleton.roots.push_back(boneRecord(0, 0));
    for (const Pose& pose : poses)
        r.skeleton.animations.push_back(animation(pose));
    return r;
}

bool save(const String& folder)
{
    FileArray bytes(4096);
    return MeshWriter::writeRecord(bytes, record()) && FileInterface::saveToFile(bytes, folder + L"Rider.mesh");
}

}
