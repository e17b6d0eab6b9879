#pragma once

#include "Audio/SoundInterface.h"

#include "Core/MemoryFactory.h"

namespace Audio {

// A plain (not positional) sound. One-shots come from a pool and go back to
// it by themselves; a sound kept by its owner is made directly.
class Sound2D : public SoundInterface
{
public:
    // A free-standing sound on file, listed, not pooled.
    explicit Sound2D(AudioFile* file = nullptr);
    ~Sound2D() override;

    // A pooled sound bound to file that recycles itself, or the shared dummy
    // when audio is off, there is no file, or the file's pool is spent.
    static Sound2D* create(AudioFile* file);
    static MemoryFactory<Sound2D, 16>& pool();
    static Sound2D& dummySound();

    bool is2D() const override { return true; }
    void recycle() override;

private:
    explicit Sound2D(DummyTag tag) : SoundInterface(tag) {}
};

}
