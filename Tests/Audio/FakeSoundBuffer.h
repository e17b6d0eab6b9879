#pragma once
// A stand-in for a DirectSound buffer, for what DirectSound under Wine never
// does on its own: losing a buffer, refusing a lock. It holds its bytes
// followed by a canary area that no lock hands out.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <algorithm>
#include <cstdint>
#include <vector>

class FakeSoundBuffer final : public IDirectSoundBuffer8
{
public:
    static constexpr uint32_t canaryBytes = 1024;
    static constexpr uint8_t canary = 0xCD;

    explicit FakeSoundBuffer(uint32_t size) : size(size), bytes(size + canaryBytes, canary) {}

    bool canaryIntact() const
    {
        return std::all_of(bytes.begin() + size, bytes.end(), [](uint8_t b) { return b == canary; });
    }

    uint32_t size;
    std::vector<uint8_t> bytes;
    bool lost = false;
    int refusedRestores = 0; // Restore answers DSERR_BUFFERLOST this many times
    int restoreCalls = 0;
    bool failStatus = false;
    bool failLock = false;
    DWORD lockedBytes = 0;
    DWORD playCursor = 0;
    int stops = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD play, LPDWORD write) override
    {
        if (play)
            *play = playCursor;
        if (write)
            *write = playCursor;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolume(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPan(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override
    {
        *status = lost ? DSBSTATUS_BUFFERLOST : 0;
        return failStatus ? DSERR_INVALIDCALL : DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD n, LPVOID* first, LPDWORD firstBytes, LPVOID* second,
                                   LPDWORD secondBytes, DWORD) override
    {
        lockedBytes = n;
        if (failLock || lost || offset >= size || n > size)
            return DSERR_INVALIDCALL;
        // A range past the end wraps to the start, as in DirectSound.
        *first = bytes.data() + offset;
        *firstBytes = std::min<DWORD>(n, size - offset);
        if (second)
            *second = n > *firstBytes ? bytes.data() : nullptr;
        if (secondBytes)
            *secondBytes = n - *firstBytes;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetVolume(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        ++stops;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DS_OK; }
    HRESULT STDMETHODCALLTYPE Restore() override
    {
        ++restoreCalls;
        if (refusedRestores > 0) {
            --refusedRestores;
            return DSERR_BUFFERLOST;
        }
        lost = false;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFX(DWORD, LPDSEFFECTDESC, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AcquireResources(DWORD, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectInPath(REFGUID, DWORD, REFGUID, LPVOID*) override { return E_NOTIMPL; }
};
