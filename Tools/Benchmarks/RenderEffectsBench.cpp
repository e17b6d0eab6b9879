// Prints the cost of the render device's effects at 1024 x 768 on the
// software renderer: the glow over a frame (device time included, the
// client's effect scene empty), and the time our code takes to issue the
// blur passes, a strip-effect pass of about 2,000 vertices and the six faces
// of an environment map with an empty client (the device's own work is
// queued, not waited for). Each figure is the minimum and the median over
// the frames measured. Needs a display.
#include "BenchDevice.h"
#include "BenchFigures.h"

#include "Render/DirectGraphics.h"
#include "Render/EnvMap.h"
#include "Render/GpuSmooth.h"
#include "Render/RenderTexture.h"
#include "Render/StripEffectManager.h"
#include "Render/SwapChain.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

class EmptyClient final : public D3D::SwapChainInterface, public EnvMap::Interface
{
};

// Ribbons of strip pieces, 996 vertices per item.
class Ribbons final : public StripEffectItem
{
public:
    void writeVertices(StripEffectRing& ring) override
    {
        for (int p = 0; p < 166; ++p) {
            StripVertex* v = ring.reserve(StripEffectRing::pieceVertices, StripEffectRing::pieceTriangles);
            if (!v)
                return;
            for (int i = 0; i < 6; ++i) {
                v[i].position = {float(p) * 0.1f + float(i / 2) * 0.05f, float(i % 2), 5.0f};
                v[i].normal = {0.0f, 0.0f, -1.0f};
                v[i].u = float(i / 2) * 0.5f;
                v[i].v = float(i % 2);
            }
        }
    }
};

// The frame is not presented: only the passes are timed.
void endFrame(D3D::Device::SwapChain& chain)
{
    D3D::releaseInterface(chain.targets[0].surface);
}

}

int main(int argc, char** argv)
{
    EmptyClient client;
    HWND window = nullptr;
    D3D::Device::SwapChain* opened = BenchDevice::open(L"RenderEffectsBench", 1024, 768, client, window);
    if (!opened)
        return 1;
    D3D::Device::SwapChain& chain = *opened;
    D3D::Device& record = gDirectGraphics.record;
    // "8bit": the blur in A8R8G8B8 targets, as on a device without float blending.
    if (argc > 1 && std::strcmp(argv[1], "8bit") == 0)
        gDirectGraphics.floatTargetBlend = 0;
    IDirect3DQuery9* query = nullptr;
    gDevice->CreateQuery(D3DQUERYTYPE_EVENT, &query);
    GpuSmooth::configure(256, record.postEffect, 120, 170);
    std::printf("back buffer                 %u x %u, pass format %s\n", chain.presentParameters.BackBufferWidth,
                chain.presentParameters.BackBufferHeight,
                record.postEffect.smoother->format == D3DFMT_A16B16G16R16F ? "A16B16G16R16F" : "A8R8G8B8");

    // Seconds per frame of pass, drawn inside a scene of its own; with the
    // device's work included (waited for) or only the issuing of it.
    const auto timed = [&](bool withDevice, int frames, const auto& pass) {
        std::vector<double> samples;
        for (int i = 0; i < frames; ++i) {
            chain.beginFrame();
            BenchDevice::finish(query);
            gDevice->BeginScene();
            const double start = BenchDevice::seconds();
            pass();
            if (withDevice) {
                gDevice->EndScene();
                BenchDevice::finish(query);
            }
            samples.push_back(BenchDevice::seconds() - start);
            if (!withDevice)
                gDevice->EndScene();
            endFrame(chain);
        }
        return BenchFigures::of(std::move(samples));
    };
    constexpr bool device = true, issuing = false;
    constexpr double ms = 1000.0;
    GpuSmooth& smoother = *record.postEffect.smoother;
    const TextureRef& scene = record.postEffect.target->renderTexture;

    BenchFigures::print("glow per frame (device included)", timed(device, 60, [&] {
                            D3D::Device::renderPostEffect(chain, record.postEffect, &client);
                        }),
                        ms, "ms");
    BenchFigures::print("  its blur passes (device included)",
                        timed(device, 60, [&] { smoother.run(scene, 0, false, false); }), ms, "ms");
    // For comparison: one plain textured pass over the whole back buffer.
    BenchFigures::print("  a plain full-screen pass (device included)", timed(device, 60, [&] {
                            smoother.bindResult();
                            drawScreenRect(1024, 768, 256, 256, 0.0f);
                            gDevice->SetTexture(0, nullptr);
                        }),
                        ms, "ms");
    // The floor of any full-screen pass here: colour only, no texture.
    BenchFigures::print("  an untextured full-screen pass (device included)", timed(device, 60, [] {
                            struct Corner
                            {
                                float x, y, z, rhw;
                                uint32_t colour;
                            };
                            const Corner quad[4] = {{-0.5f, -0.5f, 0.0f, 1.0f, 0xFF808080},
                                                    {1023.5f, -0.5f, 0.0f, 1.0f, 0xFF808080},
                                                    {-0.5f, 767.5f, 0.0f, 1.0f, 0xFF808080},
                                                    {1023.5f, 767.5f, 0.0f, 1.0f, 0xFF808080}};
                            gDevice->SetTexture(0, nullptr);
                            gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
                            gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Corner));
                        }),
                        ms, "ms");
    BenchFigures::print("blur passes, issuing", timed(issuing, 200, [&] { smoother.run(scene, 0, false, false); }), ms,
                        "ms");

    Ribbons ribbons[2];
    StripEffectGroup groups[2];
    for (int g = 0; g < 2; ++g) {
        groups[g].items.append(&ribbons[g]);
        chain.stripEffects->groups.append(&groups[g]);
    }
    BenchFigures::print("strip pass (1,992 vertices), issuing",
                        timed(issuing, 200, [&] { chain.stripEffects->render(); }), ms, "ms");
    chain.stripEffects->groups.clear(false);

    EnvMap map(&chain, &client);
    map.size = 256;
    map.kind = EnvMap::autoMipmapped;
    EnvMap::restore(map);
    BenchFigures::print("six faces, issuing", timed(issuing, 200, [&] { EnvMap::render(map, {0.0f, 10.0f, 0.0f}); }),
                        ms, "ms");
    EnvMap::release(map);

    if (query)
        query->Release();
    gDirectGraphics.release();
    DestroyWindow(window);
    return 0;
}
