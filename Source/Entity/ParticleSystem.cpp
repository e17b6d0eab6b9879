#include "Entity/ParticleSystem.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Timer.h"

#include <new>

ParticleSystem::ParticleSystem(Callback particleCallback, uint32_t source, D3D::Device::SwapChain& chain,
                               const TextureRef& textureTemplate, int32_t count, uint32_t destination,
                               uint32_t systemSetting, bool drawInReflections, bool orientedQuads,
                               bool deleteEmpty)
    : callback(particleCallback), sourceBlend(source), destinationBlend(destination), setting(systemSetting),
      oriented(orientedQuads ? 1 : 0), hiddenInReflections(drawInReflections ? 0 : 1),
      deleteWhenEmpty(deleteEmpty ? 1 : 0)
{
    if (textureTemplate.isBound())
        texture.bind(textureTemplate.texture());
    if (!chain.particles)
        return;
    for (int32_t i = 0; i < count; ++i) {
        Particle* particle = new (std::nothrow) Particle;
        if (!particle)
            break;
        particle->system = this;
        if (!particles.append(particle)) {
            delete particle;
            break;
        }
    }
    node = chain.particles->systems.append(this);
}

ParticleSystem::~ParticleSystem()
{
    texture.release();
    if (node && node->owner)
        node->owner->unlink(node);
    node = nullptr;
    particles.deleteAll();
}

ParticleManager::~ParticleManager()
{
    destroyAll();
}

void ParticleManager::destroyAll()
{
    ring.release();
    systems.clearWith([](ParticleSystem* system) {
        system->node = nullptr;
        if (system->deleteWhenEmpty)
            delete system;
    });
}

bool ParticleManager::createBuffers()
{
    const uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
    ring.createIndices(quad, int(VertexRing<ParticleVertex>::batchVertices));
    return ring.createVertices();
}

void ParticleManager::retire(SCList<ParticleSystem>::Node* node)
{
    ParticleSystem* system = systems.unlink(node);
    if (!system)
        return;
    system->node = nullptr;
    system->stopped = 1;
    if (system->deleteWhenEmpty)
        delete system;
}

void ParticleManager::flush()
{
    const uint32_t triangles = ring.endBatch();
    if (ring.vertices > 0)
        ring.drawBatch(triangles);
    ring.beginBatch();
}

bool ParticleManager::writeQuad(const Particle& particle, bool oriented, const vec3d& right, const vec3d& up)
{
    // A batch takes quads while it stays below its capacity.
    if (ring.open() && ring.vertices + 4 >= VertexRing<ParticleVertex>::batchVertices)
        flush();
    ParticleVertex* v = ring.reserve(4, 2);
    if (!v)
        return false;
    const vec3d r = (oriented ? particle.orientation.row(0) : right) * particle.width;
    const vec3d u = (oriented ? particle.orientation.row(1) : up) * particle.height;
    const float* t = particle.textureTransform;
    const uint32_t colour = particle.colour.argb();
    // The index list takes each quad as a strip (0, 1, 2 and 2, 1, 3): top
    // left, bottom left, top right, bottom right, with texture corners
    // -0.5 and 0.5 about the middle.
    const struct
    {
        float side, rise;
    } corners[4] = {{-1.0f, 1.0f}, {-1.0f, -1.0f}, {1.0f, 1.0f}, {1.0f, -1.0f}};
    for (int c = 0; c < 4; ++c) {
        const float cu = 0.5f * corners[c].side, cv = -0.5f * corners[c].rise;
        v[c].position = particle.position + r * corners[c].side + u * corners[c].rise;
        v[c].colour = colour;
        v[c].u = 0.5f + cu * t[0] + cv * t[3];
        v[c].v = 0.5f + cu * t[1] + cv * t[4];
    }
    return true;
}

void ParticleManager::render(bool advance)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || !ring.vertexBuffer || systems.count() == 0)
        return;
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 8);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));

    const float step = gFrameFactor.load(std::memory_order_relaxed);
    const bool mirrored = gDirectGraphics.record.mirrored != 0;
    const vec3d right = gCamera ? gCamera->right : vec3d(1.0f, 0.0f, 0.0f);
    const vec3d up = gCamera ? gCamera->up : vec3d(0.0f, 1.0f, 0.0f);
    for (auto* node = systems.head(); node;) {
        auto* next = node->next;
        ParticleSystem* system = node->item;
        if (!system || system->stopped || (mirrored && system->hiddenInReflections)) {
            node = next;
            continue;
        }
        if (system->particles.count() == 0) {
            retire(node);
            node = next;
            continue;
        }
        // Without its texture (a cut package) a system still lives, but
        // draws nothing rather than the device's stand-in pattern.
        const bool drawn = system->texture.isBound();
        TextureDevice::bindTexture(0, system->texture.texture());
        d->SetRenderState(D3DRS_SRCBLEND, system->sourceBlend);
        d->SetRenderState(D3DRS_DESTBLEND, system->destinationBlend);
        d->SetFVF(ParticleVertex::format);
        ring.beginBatch();
        for (auto* p = system->particles.head(); p;) {
            auto* following = p->next;
            Particle& particle = *p->item;
            if (advance) {
                if (system->callback && !system->callback(particle)) {
                    delete system->particles.unlink(p);
                    p = following;
                    continue;
                }
                if (!particle.frozen) {
                    particle.age += step;
                    particle.position += particle.velocity * step;
                }
            }
            if (drawn && !particle.hidden)
                writeQuad(particle, system->oriented != 0, right, up);
            p = following;
        }
        const uint32_t triangles = ring.endBatch();
        if (ring.vertices > 0)
            ring.drawBatch(triangles);
        // A system its callbacks emptied goes in the same pass.
        if (system->particles.count() == 0)
            retire(node);
        node = next;
    }

    if (gCamera && gCamera->fogEnabled)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHAREF, 0);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}
