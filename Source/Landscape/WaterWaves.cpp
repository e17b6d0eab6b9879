// One step of the waves of a macro: integer arithmetic on 16-bit cells,
// then the displayed heights and the sun's light on the slopes.
#include "Landscape/WaterArea.h"
#include "Landscape/WaterPhysics.h"

#include "Render/Light.h"

namespace {

float distanceSqXZ(const vec3d& a, float x, float z)
{
    const float dx = a.x - x, dz = a.z - z;
    return dx * dx + dz * dz;
}

}

void WaterPhysics::Macro::simulate(WaterPhysics& physics, const vec3d& camera, const LightRecord& light)
{
    const int32_t n = physics.n;
    const float s = physics.owner->macroSize;
    const float factor = physics.macroFactor;
    const vec3d& c = box.center;
    const float nearness = distanceSqXZ(camera, c.x, c.z) * factor;
    const float fade = nearness < 1.0f ? 1.0f - nearness * nearness : 0.0f;

    // Sides next to far macros draw flat, so the grid meets their rectangles.
    auto farAt = [&](float dx, float dz) { return distanceSqXZ(camera, c.x + dx * s, c.z + dz * s) * factor >= 1.0f; };
    // Rows run against z: the first row is the macro's high-z side.
    const bool lowX = farAt(-1, 0), highX = farAt(1, 0), highZ = farAt(0, 1), lowZ = farAt(0, -1);
    const bool corners[4] = {farAt(-1, 1), farAt(1, 1), farAt(-1, -1), farAt(1, -1)};
    auto edge = [&](int32_t column, int32_t row) {
        const bool first = column == 0, last = column == n - 1, top = row == 0, bottom = row == n - 1;
        return (first && lowX) || (last && highX) || (top && highZ) || (bottom && lowZ) || (first && top && corners[0]) ||
               (last && top && corners[1]) || (first && bottom && corners[2]) || (last && bottom && corners[3]);
    };

    const int32_t current = physics.current, other = physics.other;
    const int32_t k1 = physics.shifts[0], k2 = physics.shifts[1], k3 = physics.shifts[2];
    const int32_t k4 = physics.shifts[3], k5 = physics.shifts[4], k6 = physics.noiseShift;
    const int32_t lastRow = physics.nx + 1, lastColumn = physics.nz + 1;
    // Heights of the other buffer; outside the grid's border there is none.
    auto height = [&](int32_t ix, int32_t iz) -> int32_t {
        return ix < 0 || iz < 0 || ix > lastRow || iz > lastColumn ? 0 : physics.cell(ix, iz).height[other];
    };
    for (int32_t column = 0; column < n; ++column)
        for (int32_t row = 0; row < n; ++row) {
            const int32_t ix = ix0 + column, iz = iz0 + row;
            Cell& cell = physics.cell(ix, iz);
            if (cell.stamp == 0 || cell.stamp == physics.frameStamp)
                continue;
            cell.stamp = physics.frameStamp;
            const int32_t h = cell.height[current];
            const int32_t w = cell.velocity;
            const int32_t around = height(ix - 1, iz) + height(ix + 1, iz) + height(ix, iz - 1) + height(ix, iz + 1);
            const int32_t noise = h < 4 ? (physics.random() - 16384) >> k6 : 0;
            const int32_t a = ((around >> k5) - h) >> k2;
            const int16_t w1 = int16_t(w - (w >> k1) + (h >> k3) - a - noise);
            const int16_t h1 = int16_t(h - h / k4 - w1);
            cell.velocity = w1;
            cell.height[current] = h1;

            if (edge(column, row)) {
                cell.displayed = 0;
                cell.colour = Color();
                continue;
            }
            cell.displayed = int16_t(float(h1) * fade);
            const int32_t slopeZ = height(ix - 1, iz - 1) + height(ix, iz - 1) + height(ix + 1, iz - 1) -
                                   (height(ix - 1, iz + 1) + height(ix, iz + 1) + height(ix + 1, iz + 1));
            const int32_t slopeX = height(ix - 1, iz - 1) + height(ix - 1, iz) + height(ix - 1, iz + 1) -
                                   (height(ix + 1, iz - 1) + height(ix + 1, iz) + height(ix + 1, iz + 1));
            float shade = (float(slopeZ) * light.direction.z + float(slopeX) * light.direction.x) * physics.lightGain +
                          physics.lightBias;
            shade *= fade;
            shade = shade > 255.0f ? 255.0f : shade >= 0.0f ? shade : 0.0f;
            auto byte = [](float v) { return uint8_t(int32_t(v)); };
            cell.colour = Color(byte(shade * light.diffuse[0]), byte(shade * light.diffuse[1]),
                                byte(shade * light.diffuse[2]), byte(shade * physics.alphaGain));
        }
}
