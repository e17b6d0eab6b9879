#include "Landscape/CameraPath.h"

#include "Render/Camera.h"

void CameraPath::reset(float newSpeed)
{
    keyCount = 0;
    t = 0.0f;
    inverseLength = 0.0f;
    speed = newSpeed;
    finished = 0;
}

void CameraPath::build(const matrix3d& transform)
{
    if (keyCount >= maxKeys)
        return;
    const quaternion rotation = quaternion::fromMatrix(transform.row(0).normalised(), transform.row(1).normalised(),
                                                       transform.row(2).normalised());
    keys[keyCount++] = {transform.row(3), rotation};
}

vec3d CameraPath::curve(float at) const
{
    const float s = 1.0f - at;
    return control[0] * (s * s) + control[1] * (2.0f * at * s) + control[2] * (at * at);
}

matrix3d CameraPath::sample(float frameFactor)
{
    if (keyCount <= 0)
        return matrix3d::identity();
    for (int i = 0; i < maxKeys; ++i)
        control[i] = key(i).position;

    if (t == 0.0f) {
        float length = 0.0f;
        vec3d previous = curve(0.0f);
        for (int step = 1; step <= 20; ++step) {
            const vec3d next = curve(float(step) * 0.05f);
            length += (next - previous).length();
            previous = next;
        }
        // Coincident key points (up to rounding): there is nowhere to fly, so
        // the path is over instead of running with an infinite step.
        if (!(length > 1e-3f)) {
            inverseLength = 0.0f;
            t = 1.0f;
        } else {
            inverseLength = 1.0f / length;
        }
    }
    if (t >= 1.0f) {
        finished = 1;
        matrix3d last = key(2).rotation.toMatrix();
        last.m[12] = control[2].x;
        last.m[13] = control[2].y;
        last.m[14] = control[2].z;
        return last;
    }
    matrix3d out = quaternion::bezierBlend(key(0).rotation, key(1).rotation, key(2).rotation, t).toMatrix();
    const vec3d p = curve(t);
    out.m[12] = p.x;
    out.m[13] = p.y;
    out.m[14] = p.z;
    const float next = t + frameFactor * 0.7f * inverseLength * speed;
    t = next < 1.0f ? next : 1.0f;
    return out;
}

void CameraPath::updateView(Camera& camera, float frameFactor)
{
    if (keyCount <= 0)
        return;
    const matrix3d m = sample(frameFactor);
    // The view rotation is the transpose of the camera's rotation; update()
    // then puts -R p into the translation.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            camera.view.m[c * 4 + r] = m.m[r * 4 + c];
    camera.position = m.row(3);
    camera.update();
}
