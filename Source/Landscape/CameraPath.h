#pragma once

#include "Core/Matrix.h"
#include "Core/Quaternion.h"
#include "Core/Vector.h"

#include <cstdint>

class Camera;

// A camera flight through up to three key points (menu background tours, the
// race start): the position follows the second-degree Bezier curve over the
// three key positions, the rotation the same blend of the key rotations. The
// parameter t runs from 0 to 1 at speed x 0.7 world units per frame of the
// frame factor; at t = 1 the path is finished and stays on its last point
// until it is reset. Main thread only.
class CameraPath
{
public:
    static constexpr int maxKeys = 3;

    struct Key
    {
        vec3d position;
        quaternion rotation;
    };

    // No key points, t 0, not finished, the given speed.
    void reset(float newSpeed);
    // Appends a key point: the rotation from the transform's rows 0 to 2
    // (normalised, so a scaled transform gives the same rotation), the
    // position from row 3. A fourth key point is ignored.
    void build(const matrix3d& transform);
    // The camera transform at t (rotation rows 0 to 2, position in row 3),
    // then t advances by frameFactor x 0.7 x speed / length. With fewer than
    // three key points the last one stands in for the missing ones; a path of
    // length 0 is finished at once. Identity without key points.
    matrix3d sample(float frameFactor);
    // Samples the path into the camera's position and view; nothing without
    // key points.
    void updateView(Camera& camera, float frameFactor);

    Key keys[maxKeys];
    int32_t keyCount = 0;
    vec3d control[maxKeys]; // the key positions the curve runs through
    float t = 0.0f;
    float inverseLength = 0.0f;
    float speed = 0.0f;
    uint32_t finished = 0;

private:
    const Key& key(int i) const { return keys[i < keyCount ? i : keyCount - 1]; }
    vec3d curve(float at) const;
};
