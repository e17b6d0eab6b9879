#include "Audio/Audio.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundEventHandler.h"
#include "Render/Camera.h"
#include "Render/D3DDevice.h"

#include <mmsystem.h>

#include <cmath>

namespace Audio {

System gSystem;

namespace {

bool finite(const vec3d& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// GCC has no structured exception guard: instead of catching a fault, the
// listener takes the camera only when there is one with usable values.
void moveListener()
{
    const Camera* camera = gCamera;
    if (!gSystem.listener || !camera || !finite(camera->position) || !finite(camera->forward) ||
        !finite(camera->up))
        return;
    IDirectSound3DListener* listener = gSystem.listener;
    listener->SetPosition(camera->position.x, camera->position.y, camera->position.z, DS3D_DEFERRED);
    listener->SetOrientation(camera->forward.x, camera->forward.y, camera->forward.z, camera->up.x, camera->up.y,
                             camera->up.z, DS3D_DEFERRED);
    listener->CommitDeferredSettings();
}

}

void init(HWND window)
{
    if (gSystem.device)
        return;
    if (FAILED(DirectSoundCreate8(&DSDEVID_DefaultPlayback, &gSystem.device, nullptr))) {
        gSystem.device = nullptr;
        return;
    }
    if (FAILED(gSystem.device->SetCooperativeLevel(window, DSSCL_PRIORITY)))
        return;

    DSBUFFERDESC description{};
    description.dwSize = sizeof(description);
    description.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME;
    if (FAILED(gSystem.device->CreateSoundBuffer(&description, &gSystem.primary, nullptr))) {
        gSystem.primary = nullptr;
        return;
    }
    const WAVEFORMATEX format = pcmFormat(2, 44100, 16);
    if (FAILED(gSystem.primary->SetFormat(&format)))
        return;
    if (FAILED(gSystem.primary->QueryInterface(IID_IDirectSound3DListener,
                                               reinterpret_cast<void**>(&gSystem.listener))))
        gSystem.listener = nullptr;

    // Enabled before the files are visited: making buffers needs it, and the
    // files loaded while audio was off get theirs now.
    gSystem.created = 1;
    gSystem.enabled = 1;
    for (auto* node = AudioFile::list().head(); node; node = node->next)
        node->item->createBuffers();
}

void update()
{
    updateAt(timeGetTime());
}

void updateAt(uint32_t now)
{
    if (!isEnabled())
        return;
    moveListener();
    SoundInterface::updateAll();
    if (now - gSystem.lastStreamStep >= gSystem.streamInterval) {
        gSystem.lastStreamStep = now;
        for (auto* node = AudioFile::list().head(); node; node = node->next)
            node->item->shrinkPool();
    }
}

void releaseAll()
{
    // Pooled sounds go with their pools; the others are stopped and detached
    // as their files go, and stay listed for their owners to delete.
    Sound2D::pool().clear();
    Sound3D::pool().clear();
    AudioFile::releaseAll();
}

void release()
{
    releaseAll();
    D3D::releaseInterface(gSystem.listener);
    D3D::releaseInterface(gSystem.primary);
    D3D::releaseInterface(gSystem.device);
    gSystem.enabled = 0;
}

void destroyAtExit()
{
    gSoundEvents.stop();
    AudioFile::releaseAll();
    Sound3D::pool().clear();
    Sound2D::pool().clear();
    SoundInterface::clearList(false);
}

}
