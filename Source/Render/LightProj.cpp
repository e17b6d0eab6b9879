#include "Render/LightProj.h"

#include "Render/Light.h"

#include <mmsystem.h>

#include <cmath>
#include <cstdlib>

namespace {

uint32_t systemClock()
{
    return uint32_t(timeGetTime());
}

bool finite(const matrix3d& m)
{
    for (float v : m.m)
        if (!std::isfinite(v))
            return false;
    return true;
}

}

LightProj::Flicker::Flicker(uint32_t (*clock)(), int (*random)())
    : clock_(clock ? clock : systemClock), random_(random ? random : std::rand)
{
}

void LightProj::Flicker::update(float s)
{
    constexpr float pi = 3.14159265f;
    const uint32_t now = clock_();
    if (now - lastStep > 200) {
        lastStep = now;
        for (int c = 0; c < 2; ++c) {
            const float towards = random_() % 2 == 0 ? 1.0f : -1.0f;
            walk[c] += (towards - walk[c]) * 0.2f;
            angle[c] = std::copysign(std::pow(std::fabs(walk[c]), 0.8f), walk[c]) * pi;
        }
    }
    for (int c = 0; c < 2; ++c)
        phase[c] += std::sin(angle[c]) * 0.18f;
    const float a = s * 0.1f;
    offset = {a * std::sin(phase[0]) * std::sin(phase[1]), a * std::cos(phase[0]),
              a * std::sin(phase[0]) * std::cos(phase[1])};
    intensityFactor = s * 0.3f * (std::sin(phase[1]) + 1.0f) * 0.5f + (1.0f - s * 0.3f);
}

LightProj::LightProj(float blur) : TextureProj(this), map(*this, ShadowMap::noTargets, blur, 0, 0, 0.03f, 0.01f)
{
    shadowMap = &map;
    light.Type = D3DLIGHT_POINT;
    light.Ambient = {0.0f, 0.0f, 0.0f, 1.0f};
    light.Range = 10000.0f;
    light.Attenuation0 = 1.0f;
    createStateBlocks();
}

LightProj::~LightProj()
{
    if (lightIndex) {
        Light wrapped;
        wrapped.light = light;
        wrapped.lightIndex = lightIndex;
        Light::release(wrapped);
        lightIndex = 0;
    }
}

void LightProj::update()
{
    const float reach = range + 0.01f;
    const bool usable = std::isfinite(range) && reach - 1.0f > 0.0f && finite(transform) &&
                        (kind == 0 || (std::isfinite(coneAngle) && coneAngle > 0.0f && coneAngle < 180.0f));
    if (!usable) {
        disabled = 1;
        return;
    }
    projection = {};
    view = inverseAffine(transform);
    const vec3d position = transform.row(3);
    if (kind == 0) {
        projection.at(0, 0) = projection.at(1, 1) = 2.0f / (2.0f * range);
        projection.at(2, 2) = 1.0f / (reach - 1.0f);
        projection.at(3, 2) = 1.0f / (1.0f - reach);
        projection.at(3, 3) = 1.0f;
        const vec3d axes[6] = {{0, 0, 1}, {0, 0, -1}, {-1, 0, 0}, {0, -1, 0}, {1, 0, 0}, {0, 1, 0}};
        for (int i = 0; i < 6; ++i) {
            ConvexVolume::Plane& plane = volume.planes[i];
            plane.normal = -axes[i];
            plane.point = position + axes[i] * range;
            plane.distance = plane.normal.dot(plane.point);
        }
        volume.count = 6;
    } else {
        const float half = coneAngle * 0.008726646f;
        const float farPlane = range * 1.3f;
        projection.at(0, 0) = projection.at(1, 1) = std::cos(half) / std::sin(half);
        projection.at(2, 2) = farPlane / (farPlane - 0.1f);
        projection.at(3, 2) = -projection.at(2, 2) * 0.1f;
        projection.at(2, 3) = 1.0f;
        // A cone too narrow for single precision (its half angle rounds to 0).
        if (!finite(projection)) {
            projection = {};
            disabled = 1;
            return;
        }
        volume.setFromMatrix(view * projection);
    }
    light.Position = {position.x, position.y, position.z};
    changed = 1;
}

void LightProj::applyForView(const matrix3d& receiverView)
{
    if (!disabled)
        computeMatrices(transform, receiverView);
    apply();
}

void LightProj::setShaderStates()
{
    gDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    gDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}
