#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstdint>

namespace Audio {

// A range of a DirectSound buffer locked for writing, unlocked when this
// goes. A range that runs past the buffer's end wraps into a second region.
class BufferLock
{
public:
    BufferLock(IDirectSoundBuffer8* buffer, uint32_t offset, uint32_t bytes) : buffer_(buffer)
    {
        void* a = nullptr;
        void* b = nullptr;
        if (buffer_ && SUCCEEDED(buffer_->Lock(offset, bytes, &a, &firstBytes, &b, &secondBytes, 0)) && a) {
            first = static_cast<uint8_t*>(a);
            second = static_cast<uint8_t*>(b);
        } else if (buffer_ && a) {
            buffer_->Unlock(a, firstBytes, b, secondBytes);
        }
        if (!first)
            firstBytes = secondBytes = 0;
    }
    ~BufferLock()
    {
        if (first)
            buffer_->Unlock(first, firstBytes, second, secondBytes);
    }
    BufferLock(const BufferLock&) = delete;
    BufferLock& operator=(const BufferLock&) = delete;

    bool locked() const { return first != nullptr; }

    uint8_t* first = nullptr;
    DWORD firstBytes = 0;
    uint8_t* second = nullptr;
    DWORD secondBytes = 0;

private:
    IDirectSoundBuffer8* buffer_;
};

}
