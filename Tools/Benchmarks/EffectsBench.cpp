// Prints what the entity effects cost our code per frame, on its one thread
// at 1024 x 768 (the device's own work is queued for the driver's thread,
// not waited for): the particle pass over 2,000 particles in 10 systems,
// the particle pass with ten fires of 42 flames and with one rocket
// explosion (120 particles), the sprite pass over 100 sprites, and one rider pose (a blend of two frames, the frame applied, both arm
// chains solved) on a 20-bone skeleton. Minimum and median over the frames
// (and, for the pose, over runs of many poses). Needs a display.
#include "BenchFigures.h"
#include "BenchWindow.h"

#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Objects/Fire.h"
#include "Objects/Rocket.h"

#include "RiderSample.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"
#include "TextureRecord.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Drifts up and turns round its system's middle, as smoke does.
uint32_t drift(Particle& particle)
{
    particle.hidden = 0;
    particle.velocity = {0.01f * std::sin(particle.age * 0.1f), 0.02f, 0.01f * std::cos(particle.age * 0.1f)};
    particle.colour.a = uint8_t(255 - (uint32_t(particle.age) & 0xFF));
    return 1;
}

BoneAnim::Frame frameOf(BoneAnim& anim, const wchar_t* name)
{
    BoneAnim::Animation* animation = anim.findAnimation(String(name));
    return animation && animation->frame(0) ? *animation->frame(0) : BoneAnim::Frame();
}

}

int main()
{
    HWND window = BenchWindow::open(L"EffectsBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    chain.position = {0.0f, 2.0f, -20.0f};
    chain.Camera::update();
    gFrameFactor.store(1.0f);

    // Seconds of pass in each of frames frames, inside a scene of the frame.
    const auto timed = [&](int frames, const auto& pass) {
        std::vector<double> seconds;
        for (int i = 0; i < frames; ++i) {
            chain.beginFrame();
            gDevice->BeginScene();
            const double start = BenchWindow::now();
            pass();
            seconds.push_back(BenchWindow::now() - start);
            gDevice->EndScene();
            chain.present();
        }
        return BenchFigures::of(std::move(seconds));
    };

    // Particles are drawn only with a texture: one small texture stands in
    // for the effects' own (the fires find it by their built-in one's name,
    // which this program does not carry).
    TextureRef particleTexture;
    Texture::create(particleTexture, String(L"Fire01"), 8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED);
    std::vector<std::unique_ptr<ParticleSystem>> systems;
    for (int s = 0; s < 10; ++s) {
        systems.push_back(std::make_unique<ParticleSystem>(drift, D3DBLEND_SRCALPHA, chain, particleTexture, 200,
                                                           D3DBLEND_ONE, 1, true, false, false));
        int k = 0;
        for (auto* node = systems.back()->particles.head(); node; node = node->next, ++k) {
            node->item->position = {float(s) * 2.0f - 9.0f, float(k % 20) * 0.2f, float(k / 20) * 0.2f};
            node->item->width = node->item->height = 0.1f;
        }
        systems.back()->stopped = 0;
    }
    BenchFigures::print("particle pass, 2,000 in 10 systems (budget 400 us)",
                        timed(300, [&] { chain.particles->render(true); }), 1e6, "us");
    systems.clear();

    // Ten fires without an owner, side by side, their flicker stepped each
    // frame as their render preparation does.
    {
        ObjPkgManager::Functions::Fire fire(nullptr);
        std::vector<std::unique_ptr<ObjPkgManager::Functions::Fire::Instance>> fires;
        for (int i = 0; i < 10; ++i)
            fires.push_back(std::make_unique<ObjPkgManager::Functions::Fire::Instance>(fire, &chain, nullptr));
        BenchFigures::print("particle pass, ten fires of 42 (budget 100 us)", timed(300, [&] {
                                for (size_t i = 0; i < fires.size(); ++i) {
                                    matrix3d at = matrix3d::identity();
                                    at.setRow(3, {float(i) * 2.0f - 9.0f, 0.0f, 0.0f});
                                    fires[i]->update();
                                    fires[i]->beforeRender(at);
                                }
                                chain.particles->render(true);
                            }),
                            1e6, "us");
    }
    // One explosion's three systems, made anew whenever the last ended.
    {
        ObjPkgManager::Functions::Rocket rocket(nullptr);
        for (TextureRef& texture : rocket.textures)
            texture = particleTexture;
        const auto explosion = [&] {
            const ParticleSystem::Callback callbacks[3] = {&ObjPkgManager::Functions::Rocket::Instance::burstParticle,
                                                           &ObjPkgManager::Functions::Rocket::Instance::emberParticle,
                                                           &ObjPkgManager::Functions::Rocket::Instance::smokeParticle};
            const int32_t counts[3] = {25, 65, 30};
            for (int i = 0; i < 3; ++i) {
                auto* system = new ParticleSystem(callbacks[i], D3DBLEND_SRCALPHA, chain, rocket.textures[i],
                                                  counts[i], i == 2 ? D3DBLEND_INVSRCALPHA : D3DBLEND_ONE, 1, false,
                                                  true, true);
                system->emitterPosition = {0.0f, 2.0f, 0.0f};
                system->emitterDirection = {0.0f, 0.0f, -1.0f};
                system->emitterValues[0] = 2.0f;
                system->stopped = 0;
            }
        };
        // Its first 30 frames, while all three systems have particles.
        explosion();
        BenchFigures::print("particle pass, one explosion of 120 (budget 30 us)",
                            timed(30, [&] { chain.particles->render(true); }), 1e6, "us");
        chain.particles->destroyAll();
        chain.particles->createBuffers();
    }

    std::vector<std::unique_ptr<SpriteManager::Sprite>> sprites;
    for (int s = 0; s < 100; ++s) {
        sprites.push_back(std::make_unique<SpriteManager::Sprite>());
        SpriteManager::createSprite(*sprites.back(), chain, nullptr, String(), 1);
        sprites.back()->world.setRow(3, {float(s % 10) - 5.0f, float(s / 10), 0.0f});
        sprites.back()->textureRotation[0] = float(s);
    }
    BenchFigures::print("sprite pass, 100 sprites (budget 100 us)", timed(300, [&] { chain.sprites->render(); }), 1e6,
                        "us");
    sprites.clear();

    // The builder's rider with seven more bones (fingers and feet) makes 20.
    Mesh<EntityManager::MeshVertex, 274> rider(String(L"Rider"));
    FileArray bytes(4096);
    MeshWriter::writeRecord(bytes, RiderSample::record());
    bytes.seek(0, 0);
    MeshTools::processMode(rider, &bytes, matrix3d::identity(), 4);
    BoneAnim& anim = *rider.getBoneAnim();
    // The arm chains, taken before the added bones renumber the skeleton.
    BoneAnim::PoseChain left, right;
    anim.getThreeBones(left, 7, 6, 5);
    anim.getThreeBones(right, 12, 11, 10);
    for (Bone* end : {left.bones[0], left.bones[0], right.bones[0], right.bones[0], anim.getBoneByIndex(1),
                      anim.getBoneByIndex(2), anim.getBoneByIndex(8)})
        anim.addBoneWithGeometry(*end, 0.05f, true);
    anim.boneCount = anim.countBones();
    const BoneAnim::Frame stand = frameOf(anim, L"Stand"), sit = frameOf(anim, L"Sit");
    left.enabled = right.enabled = 1;
    left.target = matrix3d::fromAngles({10.0f, 0.0f, 0.0f});
    left.target.setRow(3, {0.3f, 1.0f, 0.5f});
    right.target = matrix3d::fromAngles({10.0f, 0.0f, 0.0f});
    right.target.setRow(3, {-0.3f, 1.0f, 0.5f});
    const matrix3d world = matrix3d::identity();
    BoneAnim::Frame blended;
    constexpr int poses = 2000;
    const BenchFigures::Spread pose = BenchFigures::repeat(15, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < poses; ++i) {
            blended.blend(stand, sit, float(i % 100) * 0.01f, anim.boneCount);
            anim.applyFrame(blended);
            anim.computePose(left, world);
            anim.computePose(right, world);
        }
        return (BenchWindow::now() - start) / poses;
    });
    std::printf("  rider skeleton of %d bones\n", anim.boneCount);
    BenchFigures::print("rider pose: blend, apply, two solves (budget 5 us)", pose, 1e6, "us");

    particleTexture.release();
    BenchWindow::close(window);
    return 0;
}
