// Prints the cost of the sun's shadows on the software renderer at
// 1024 x 768: nine frozen sectors per frame (update and map pass, the
// casters' own queries stubbed out), one live sector with a 1,000-triangle
// caster with and without blur (device time included), and the matrices of
// nine sectors and sixteen lights. Each figure is the minimum and the
// median over the frames (or rounds) measured. Needs a display.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "Render/DirectGraphics.h"
#include "Render/LightProj.h"
#include "Render/ShadowCasters.h"
#include "Render/ShadowManager.h"
#include "Render/SwapChain.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

class EmptyClient final : public D3D::SwapChainInterface
{
};

uint32_t now = 1000;

// Casters everywhere, free to ask about; drawn as a fan of 1,000 triangles
// round the middle of the map.
class Everywhere final : public ShadowCasters
{
public:
    Everywhere()
    {
        for (int i = 0; i < 1000; ++i) {
            const float a = float(i) * 0.0062831853f, b = float(i + 1) * 0.0062831853f;
            fan.push_back({0.0f, 10.0f, 0.0f});
            fan.push_back({std::cos(a) * 40.0f, 5.0f, std::sin(a) * 40.0f});
            fan.push_back({std::cos(b) * 40.0f, 5.0f, std::sin(b) * 40.0f});
        }
    }
    void addTexProj(TextureProj*) override {}
    void removeTexProj(TextureProj*) override {}
    int32_t findCastersInVolume(const ConvexVolume&, const void*, uint32_t* atRest) override
    {
        if (atRest)
            *atRest = moving ? 0 : 1;
        return 1;
    }
    uint32_t renderShadowCasters(const ConvexVolume&, uint32_t* atRest) override
    {
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
        gDevice->SetFVF(D3DFVF_XYZ);
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1000, fan.data(), sizeof(vec3d));
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        if (atRest && moving)
            *atRest = 0;
        return 1;
    }
    std::vector<vec3d> fan;
    bool moving = false;
};

class Flat final : public ShadowGround
{
public:
    void addTexProj(TextureProj*) override {}
    void removeTexProj(TextureProj*) override {}
    bool hasHeightData() override { return true; }
    bool intersectSegment(const vec3d& from, const vec3d& to, vec3d& hit) override
    {
        hit = from + (to - from) * (from.y / (from.y - to.y));
        return true;
    }
};

}

int main()
{
    EmptyClient client;
    HWND window = nullptr;
    D3D::Device::SwapChain* chain = BenchDevice::open(L"ShadowBench", 1024, 768, client, window);
    if (!chain)
        return 1;
    IDirect3DQuery9* query = nullptr;
    gDevice->CreateQuery(D3DQUERYTYPE_EVENT, &query);
    ShadowMap::clock = [] { return now; };
    Everywhere casters;
    Flat ground;
    chain->shadowCasters = &casters;
    chain->sun.direction = vec3d{0.3f, 0.8f, 0.2f}.normalised();
    chain->position = {100.0f, 40.0f, 100.0f};
    ShadowManager manager(chain, 800.0f, 165.0f);
    manager.ground = &ground;
    manager.setQuality(0.0f);

    // One frame of the shadows: update, then the maps inside a scene.
    const auto frame = [&](bool waitForDevice) {
        const double start = BenchDevice::seconds();
        manager.update();
        chain->beginFrame();
        gDevice->BeginScene();
        manager.renderStaticShadowMaps();
        gDevice->EndScene();
        if (waitForDevice)
            BenchDevice::finish(query);
        const double spent = BenchDevice::seconds() - start;
        D3D::releaseInterface(chain->targets[0].surface);
        return spent;
    };
    for (int i = 0; i < 3; ++i)
        frame(true);
    now += 1000;
    frame(true); // every map freezes
    int frozen = 0;
    for (int32_t i = 0; i < manager.sectorCount; ++i)
        frozen += (*manager.sectors.at(i))->map.state == ShadowMap::frozen;
    constexpr double ms = 1000.0;
    std::printf("frozen sectors              %d of %d\n", frozen, manager.sectorCount);
    BenchFigures::print("frozen frame (update, pass)", BenchFigures::repeat(500, [&] { return frame(false); }), ms,
                        "ms");

    casters.moving = true;
    for (float blur : {0.0f, 1.0f}) {
        manager.setQuality(blur);
        // One live sector: the others stay frozen (at rest, nothing moves there).
        for (int32_t i = 1; i < manager.sectorCount; ++i)
            (*manager.sectors.at(i))->disabled = 1;
        ShadowManager::ShadowSector* live = *manager.sectors.at(0);
        const BenchFigures::Spread spread = BenchFigures::repeat(40, [&] {
            chain->beginFrame();
            BenchDevice::finish(query);
            const double start = BenchDevice::seconds();
            gDevice->BeginScene();
            live->map.render(*chain);
            gDevice->EndScene();
            BenchDevice::finish(query);
            const double spent = BenchDevice::seconds() - start;
            D3D::releaseInterface(chain->targets[0].surface);
            return spent;
        });
        char label[64];
        std::snprintf(label, sizeof label, "live sector, blur %.1f (device included)", blur);
        BenchFigures::print(label, spread, ms, "ms");
    }

    std::vector<LightProj*> lights;
    for (int i = 0; i < 16; ++i) {
        lights.push_back(new LightProj(0.0f));
        lights.back()->kind = uint32_t(i % 2);
        lights.back()->transform.at(3, 0) = float(i);
    }
    int round = 0;
    BenchFigures::print("matrices, 9 sectors and 16 lights (queries stubbed)", BenchFigures::repeat(2000, [&] {
                            const double start = BenchDevice::seconds();
                            // The sector eyes stay, the texture matrices follow the camera.
                            chain->position.x += ++round % 2 ? 0.5f : -0.5f;
                            for (int32_t i = 0; i < manager.sectorCount; ++i)
                                if (ShadowManager::ShadowSector* s = *manager.sectors.at(i)) {
                                    s->place(chain->sun.direction);
                                    s->computeShadowMatrices(s->transform, chain->view, 1.1f / 512.0f);
                                }
                            for (LightProj* l : lights) {
                                l->update();
                                l->computeMatrices(l->transform, chain->view);
                            }
                            return BenchDevice::seconds() - start;
                        }),
                        ms, "ms");
    for (LightProj* l : lights)
        delete l;
    manager.releaseSectors();
    chain->shadowCasters = nullptr;
    if (query)
        query->Release();
    gDirectGraphics.release();
    DestroyWindow(window);
    return 0;
}
