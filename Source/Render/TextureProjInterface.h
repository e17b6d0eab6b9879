#pragma once

class TextureProj;

// A receiver of texture projections (the device's scene-wide list, the
// terrain, the meadow, the entity manager): the projection registers with it
// when it starts and leaves when it ends. Removing a projection that was
// never added changes nothing. Main thread only.
class TextureProjInterface
{
public:
    virtual void addTexProj(TextureProj* projection) = 0;
    virtual void removeTexProj(TextureProj* projection) = 0;

    virtual ~TextureProjInterface() = default;
};
