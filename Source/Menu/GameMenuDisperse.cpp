#include "Menu/GameMenuDisperse.h"

#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <d3d9.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr float pi = 3.14159265f;
constexpr float toRadians = pi / 180.0f;

// Column c of the view matrix's rotation: 0 right, 1 up, 2 forward.
vec3d viewColumn(const matrix3d& view, int c)
{
    return {view.m[c], view.m[4 + c], view.m[8 + c]};
}

float approximateLength(const vec3d& v)
{
    return fastSqrt(v.lengthSq());
}

}

GameMenu::DisperseScreen::DisperseScreen(GameMenu& owner, int32_t turn, const TextureRef& texture)
    : Overlay(owner, 10, controlOpacity, controlFadeSpeed), direction(turn), picture(texture)
{
    CRASH_TRACE();
    enable();
    if (!indices.data() || !vertices.data() || !tiles.data()) {
        // Nothing to turn: the transition is over at once.
        finishedFlag = 1;
        return;
    }
    for (int32_t i = 0; i < tileCount; ++i) {
        uint16_t* index = indices.at(6 * i);
        const uint16_t first = uint16_t(4 * i);
        index[0] = first;
        index[1] = uint16_t(first + 1);
        index[2] = uint16_t(first + 2);
        index[3] = uint16_t(first + 2);
        index[4] = uint16_t(first + 1);
        index[5] = uint16_t(first + 3);
    }
    const Camera* view = camera();
    if (!view)
        return;
    const float W = screenWidth();
    const float H = screenHeight();
    const vec3d A = screenToPlane(*view, 0.0f, 0.0f);
    const vec3d B = screenToPlane(*view, 1.0f, 0.0f);
    const vec3d C = screenToPlane(*view, 0.0f, 1.0f);
    halfWidth = approximateLength(B - A) / float(columns) * 0.5f + 0.5f / W;
    halfHeight = approximateLength(C - A) * 0.0625f * 0.5f + 0.5f / H;
    const vec3d corner = B;
    const vec3d normal = -viewColumn(view->view, 2);

    for (int32_t row = 0; row < rows; ++row) {
        for (int32_t column = 0; column < columns; ++column) {
            const int32_t i = columns * row + column;
            const float left = float(column) / float(columns) - 0.5f / W;
            const float right = left + 1.0f / float(columns);
            const float top = float(row) * 0.0625f - 0.5f / H;
            const float bottom = top + 0.0625f;
            const float u[4] = {left, right, left, right};
            const float v[4] = {top, top, bottom, bottom};
            for (int32_t k = 0; k < 4; ++k) {
                Vertex& vertex = *vertices.at(4 * i + k);
                vertex.nx = normal.x;
                vertex.ny = normal.y;
                vertex.nz = normal.z;
                vertex.u = u[k];
                vertex.v = v[k];
            }
            const float q = float(std::rand()) / 32767.0f;
            const float z = (1.0f - 2.0f * q) * 360.0f;
            ElemState& tile = *tiles.at(i);
            if (direction == 0) {
                tile.end[0] = 180.0f;
                tile.end[2] = z;
            } else if (direction == 1) {
                tile.start[0] = 180.0f;
                tile.start[2] = z;
            }
            tile.delay = -delayPerUnit * approximateLength(tileCentre(*view, column, row) - corner);
            tile.progress = 0.0f;
        }
    }
}

GameMenu::DisperseScreen::~DisperseScreen() = default;

const Camera* GameMenu::DisperseScreen::camera() const
{
    return menu->swapChain();
}

float GameMenu::DisperseScreen::screenWidth() const
{
    const D3D::Device::SwapChain* chain = menu->swapChain();
    const float w = chain ? float(chain->presentParameters.BackBufferWidth) : 0.0f;
    return w > 0.0f ? w : 1.0f;
}

float GameMenu::DisperseScreen::screenHeight() const
{
    const D3D::Device::SwapChain* chain = menu->swapChain();
    const float h = chain ? float(chain->presentParameters.BackBufferHeight) : 0.0f;
    return h > 0.0f ? h : 1.0f;
}

vec3d GameMenu::DisperseScreen::tileCentre(const Camera& view, int32_t column, int32_t row) const
{
    return screenToPlane(view, float(column) / float(columns) - 0.5f / screenWidth() + 1.0f / 48.0f,
                         float(row) * 0.0625f - 0.5f / screenHeight() + 1.0f / 32.0f);
}

vec3d GameMenu::DisperseScreen::screenToPlane(const Camera& view, float u, float v)
{
    const float sx = view.projection.m[0];
    const float sy = view.projection.m[5];
    const vec3d local{sx != 0.0f ? (2.0f * u - 1.0f) / sx : 0.0f, sy != 0.0f ? -(2.0f * v - 1.0f) / sy : 0.0f, 1.0f};
    matrix3d rotation = view.view;
    rotation.m[12] = rotation.m[13] = rotation.m[14] = 0.0f;
    matrix3d inverse = matrix3d::identity();
    if (!rotation.inverseAffine(inverse))
        inverse = matrix3d::identity();
    vec3d d = inverse.transformVector(local);
    const float length = approximateLength(d);
    if (length > 0.0f)
        d = d / length;
    const vec3d n = viewColumn(view.view, 2);
    const vec3d p = view.position;
    const float nd = n.dot(d);
    const float t = nd != 0.0f ? (n.dot(p) - n.dot(p + n * planeDistance)) / nd : 0.0f;
    return p - d * t;
}

void GameMenu::DisperseScreen::anglesOf(const ElemState& tile, float out[3]) const
{
    if (tile.progress >= 1.0f) {
        std::copy(tile.end, tile.end + 3, out);
        return;
    }
    const float e = (1.0f - std::cos(pi * tile.progress)) * 0.5f;
    for (int k = 0; k < 3; ++k)
        out[k] = (1.0f - e) * tile.start[k] + e * tile.end[k];
}

void GameMenu::DisperseScreen::advance(uint32_t now, float frameFactor)
{
    if (!tiles.data())
        return;
    if (startTime == 0)
        startTime = now;
    const uint32_t elapsed = now - startTime;

    int32_t done = 0;
    for (int32_t i = 0; i < tileCount; ++i)
        done += tiles.at(i)->progress == 1.0f;
    finishedFlag = done == tileCount ? 1 : 0;

    const Camera* view = camera();
    if (!view)
        return;
    const vec3d right = viewColumn(view->view, 0);
    const vec3d up = viewColumn(view->view, 1);
    const vec3d back = -viewColumn(view->view, 2);

    for (int32_t i = 0; i < tileCount; ++i) {
        ElemState& tile = *tiles.at(i);
        if (tile.progress < 1.0f) {
            const float speed = std::clamp((tile.delay + float(elapsed) * 0.001f) * 10.0f, 0.0f, 1.0f);
            tile.progress = std::clamp(tile.progress + frameFactor * 0.05f * speed, 0.0f, 1.0f);
        }
        float angles[3];
        anglesOf(tile, angles);
        const float ax = angles[0] * toRadians;
        const float az = angles[2] * toRadians;
        const float cx = std::cos(ax), sx = std::sin(ax);
        const float cz = std::cos(az), sz = std::sin(az);
        // The tile's axes in the camera's right, up and backward basis.
        const vec3d xAxis = right * cz + up * sz;
        const vec3d yAxis = right * (-cx * sz) + up * (cx * cz) + back * sx;
        const vec3d centre = tileCentre(*view, i % columns, i / columns);
        const vec3d across = xAxis * halfWidth;
        const vec3d down = yAxis * halfHeight;
        const vec3d corners[4] = {centre - across + down, centre + across + down, centre - across - down,
                                  centre + across - down};
        for (int32_t k = 0; k < 4; ++k) {
            Vertex& vertex = *vertices.at(4 * i + k);
            vertex.x = corners[k].x;
            vertex.y = corners[k].y;
            vertex.z = corners[k].z;
        }
    }
}

void GameMenu::DisperseScreen::draw()
{
    CRASH_TRACE();
    advance(raceNow(), gFrameFactor.load());
    IDirect3DDevice9* d = gDevice;
    const Camera* view = camera();
    if (!d || !view || !vertices.data())
        return;
    DWORD cull = 0, blend = 0;
    d->GetRenderState(D3DRS_CULLMODE, &cull);
    d->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    D3DMATRIX oldView{}, oldProjection{};
    d->GetTransform(D3DTS_VIEW, &oldView);
    d->GetTransform(D3DTS_PROJECTION, &oldProjection);

    D3DMATRIX identity{};
    identity._11 = identity._22 = identity._33 = identity._44 = 1.0f;
    d->SetTransform(D3DTS_WORLD, &identity);
    d->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(view->view.m));
    d->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(view->projection.m));
    // Turned tiles show their backs.
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetFVF(Vertex::format);
    d->SetTexture(0, picture.isBound() ? picture.texture()->texture : nullptr);
    d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4 * tileCount, 2 * tileCount, indices.data(), D3DFMT_INDEX16,
                              vertices.data(), sizeof(Vertex));

    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRS_CULLMODE, cull);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
    d->SetTransform(D3DTS_VIEW, &oldView);
    d->SetTransform(D3DTS_PROJECTION, &oldProjection);
    d->SetTexture(0, nullptr);
}
