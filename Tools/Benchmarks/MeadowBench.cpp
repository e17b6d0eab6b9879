// Prints what the meadow and the far field take on one core: the update and
// both render passes of the sample's two layers (grass and reeds) per frame,
// with the camera standing on the valley floor and with it driving along the
// valley; the far field's update when no picture is due, and a renewal of
// three pictures (far objects stood in by boxes); last, the reads of grass
// files that ask for much, and the grass's first frames with the valley's
// own water and grass and with each water and grass file that asks for
// much. Times are this thread's CPU time and wall time (the device's own
// threads draw the pixels); each figure is the minimum and the median of
// several runs.
// Needs a display and the game data ("Data\Map\Valley.tee" under the
// working folder or the build folder).
#include "../../Tests/Landscape/CostlyFiles.h"
#include "BenchFigures.h"
#include "BenchWindow.h"
#include "MeadowSamples.h"

#include "Landscape/GrasLayer.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

// Seconds of CPU this thread has used.
double threadTime()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1.0e-7;
    };
    return seconds(kernel) + seconds(user);
}

// Far objects: upright boxes around the valley, drawn as one face each.
struct Boxes final : HLod::Objects
{
    struct Vertex
    {
        vec3d position;
        uint32_t colour;
    };
    int32_t collectTouchingBox(const OrientedBox&, DynArray<Object>& out) override
    {
        for (int32_t i = 0; i < count; ++i) {
            Object& o = *out.at(i);
            o.box.maximum = {30.0f, 2000.0f, 30.0f};
            o.box.minimum = -o.box.maximum;
            o.transform = matrix3d::identity();
            o.transform.setRow(3, position(i));
            o.farField = 1;
        }
        return count;
    }
    void renderFarField(const BoundingBox&) override
    {
        IDirect3DDevice9* d = gDevice;
        d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        for (int32_t i = 0; i < count; ++i) {
            const vec3d c = position(i);
            const Vertex face[4] = {{{c.x - 30, c.y - 60, c.z}, 0xFF806040}, {{c.x - 30, c.y + 60, c.z}, 0xFF806040},
                                    {{c.x + 30, c.y - 60, c.z}, 0xFF806040}, {{c.x + 30, c.y + 60, c.z}, 0xFF806040}};
            d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, face, sizeof(Vertex));
        }
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
    }
    static vec3d position(int32_t i)
    {
        const float a = 6.2831853f * float(i) / float(count);
        return {900.0f * floatCos(a), 100.0f, 900.0f * floatSin(a)};
    }
    static constexpr int32_t count = 24;
};

void look(D3D::Device::SwapChain& chain, const vec3d& position, float yaw, float pitch)
{
    chain.position = position;
    chain.angles = {yaw, pitch, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

// Per-run figures (one entry per run) in unit; this thread's CPU time comes
// in the 10 ms ticks of the system clock, so over short runs the wall time
// of the calls is the finer measure (nothing in them waits).
struct Figures
{
    std::vector<double> cpu, wall;
    void print(const char* what, const char* unit = "ms") const
    {
        std::vector<double> c = cpu, w = wall;
        std::sort(c.begin(), c.end());
        std::sort(w.begin(), w.end());
        std::printf("%-38s wall min %.3f median %.3f %s, CPU min %.3f median %.3f %s\n", what, w.front(),
                    w[w.size() / 2], unit, c.front(), c[c.size() / 2], unit);
    }
};

// runs of frames: each frame moves the camera (when driving), then the
// meadow's update and its two passes are timed inside a whole frame.
Figures measure(D3D::Device::SwapChain& chain, Meadow& meadow, bool driving, int runs, int frames)
{
    Figures figures;
    const vec3d start{0.0f, 0.0f, -900.0f};
    float z = start.z;
    for (int run = 0; run < runs; ++run) {
        double cpu = 0.0, wall = 0.0;
        for (int i = 0; i < frames; ++i) {
            if (driving || i == 0) {
                z = driving ? z + 3.0f : start.z;
                if (z > 1100.0f)
                    z = start.z;
                const float x = driving ? 40.0f * floatSin(z * 0.004f) : 0.0f;
                look(chain, {x, gTerrain.getHeight(x, z, 2) + 12.0f, z}, driving ? 8.0f * floatCos(z * 0.004f) : 0.0f,
                     -8.0f);
            }
            chain.beginFrame();
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            gDevice->BeginScene();
            gTerrain.render(1);
            const double w0 = BenchWindow::now(), c0 = threadTime();
            meadow.update();
            meadow.render(1);
            meadow.render(0);
            const double w1 = BenchWindow::now(), c1 = threadTime();
            gDevice->EndScene();
            chain.present();
            cpu += c1 - c0;
            wall += w1 - w0;
        }
        figures.cpu.push_back(cpu * 1000.0 / frames);
        figures.wall.push_back(wall * 1000.0 / frames);
    }
    return figures;
}

}

int main()
{
    HWND window = BenchWindow::open(L"MeadowBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    if (!scene.load(BenchWindow::sampleLevel()) || !chain.meadow || chain.meadow->layers.count() != 2) {
        std::printf("no sample level with its meadow\n");
        return 1;
    }
    gFrameFactor.store(1.0f);
    Meadow& meadow = *chain.meadow;

    // Warm: every patch near the start made once.
    measure(chain, meadow, false, 1, 20);
    const Figures steady = measure(chain, meadow, false, 7, 100);
    uint32_t vertices = 0;
    for (auto* node = meadow.layers.head(); node; node = node->next)
        for (uint32_t i = 0; i < node->item->drawCount; ++i)
            vertices += (*node->item->drawList.at(int32_t(i)))->visibleCount * node->item->verticesPerBlade;
    const Figures driving = measure(chain, meadow, true, 7, 100);

    // The far field: boxes 4000 high make every panel tall enough to be
    // seen from a camera looking down, so a renewal draws three pictures.
    HLod& field = *chain.farField;
    Boxes boxes;
    field.objects = &boxes;
    look(chain, {0.0f, gTerrain.getHeight(0.0f, 0.0f, 2) + 40.0f, 0.0f}, 0.0f, -89.0f);
    field.rerender = 1;
    field.update();
    Figures idle, renewal;
    const uint32_t before = field.pictures;
    for (int run = 0; run < 7; ++run) {
        constexpr int updates = 200000;
        const double w0 = BenchWindow::now(), c0 = threadTime();
        for (int i = 0; i < updates; ++i) {
            gTimer.frameCount = i;
            field.update();
        }
        idle.cpu.push_back((threadTime() - c0) * 1.0e6 / updates);
        idle.wall.push_back((BenchWindow::now() - w0) * 1.0e6 / updates);
        constexpr int renewals = 20;
        double cpu = 0.0, wall = 0.0;
        for (int i = 0; i < renewals; ++i) {
            field.rerender = 1;
            const double w1 = BenchWindow::now(), c1 = threadTime();
            field.update();
            cpu += threadTime() - c1;
            wall += BenchWindow::now() - w1;
            chain.present();
        }
        renewal.cpu.push_back(cpu * 1000.0 / renewals);
        renewal.wall.push_back(wall * 1000.0 / renewals);
    }
    const uint32_t perRenewal = (field.pictures - before) / (7 * 20);
    field.objects = nullptr;

    std::printf("meadow of the sample (%d layers), %u grass vertices in view on the valley floor\n",
                meadow.layers.count(), vertices);
    steady.print("update + both passes, steady camera");
    driving.print("update + both passes, driving camera");
    std::printf("budgets: 2 ms steady, 4 ms driving\n");
    idle.print("HLod::update, no picture due", "us");
    renewal.print("HLod::update renewing pictures");
    std::printf("pictures per renewal: %u; budgets: 5 us without a renewal, 3 ms for three pictures\n", perRenewal);
    // The level tests' costly grass files, each read into a meadow of its
    // own: the read stops at the bound, before any image is decoded.
    for (const auto& [what, bytes] : CostlyFiles::of(L".mdw")) {
        const BenchFigures::Spread spread = BenchFigures::repeat(5, [&] {
            FileArray stream;
            LandscapeTestFiles::streamOf(stream, bytes);
            Meadow costly;
            const double start = BenchWindow::now();
            costly.read(stream);
            return BenchWindow::now() - start;
        });
        const std::string label = "read of a costly grass file (" + what + ")";
        BenchFigures::print(label.c_str(), spread, 1000.0, "ms");
    }
    // The first three frames on the valley floor with every patch placed
    // anew (each blade asks the water whether it stands in it): with the
    // valley's grass and water as the builder writes them, then with each
    // costly water file, each costly grass file and each water file at the
    // bounds in their place, read as the level's load reads them.
    FileArray valleyWater(1 << 16), valleyGrass(1 << 16);
    WaterFileWriter::write(WaterSamples::valley(), valleyWater);
    MeadowFileWriter::write(MeadowSamples::valley(), valleyGrass);
    const std::vector<uint8_t> ownWater = LandscapeTestFiles::bytesOf(valleyWater);
    const std::vector<uint8_t> ownGrass = LandscapeTestFiles::bytesOf(valleyGrass);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {{"the valley's own", {}}};
    for (const wchar_t* extension : {L".wtr", L".mdw"})
        for (auto& [what, bytes] : CostlyFiles::of(extension))
            files.push_back({std::string(extension == std::wstring(L".wtr") ? "water: " : "grass: ") + what,
                             std::move(bytes)});
    for (auto& [what, bytes] : CostlyFiles::atTheBounds())
        files.push_back({"water: " + what, std::move(bytes)});
    for (const auto& [what, bytes] : files) {
        const bool water = what.rfind("water", 0) == 0, grass = what.rfind("grass", 0) == 0;
        const BenchFigures::Spread spread = BenchFigures::repeat(3, [&] {
            FileArray stream;
            LandscapeTestFiles::streamOf(stream, water ? bytes : ownWater);
            gWater.clear();
            gWater.init();
            gWater.read(nullptr, stream);
            LandscapeTestFiles::streamOf(stream, grass ? bytes : ownGrass);
            meadow.read(stream);
            for (auto* node = meadow.layers.head(); node; node = node->next)
                node->item->applySettings();
            const Figures first = measure(chain, meadow, false, 1, 3);
            return first.wall[0] * 3.0 / 1000.0;
        });
        BenchFigures::print(("first three frames (" + what + ")").c_str(), spread, 1000.0, "ms");
    }
    scene.release();
    BenchWindow::close(window);
    return 0;
}
