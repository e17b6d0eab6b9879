#pragma once
// A light that an object package carries: a projected light thrown from the
// light's position along its turn, with its range, cone, colour and texture
// from the package. The package makes one per light block and marks the
// first its main light; every change of position or turn recomputes the
// projection (update). Main thread only.

#include "Objects/ObjPkgManager.h"

#include "Render/LightProj.h"

#include "Core/Vector.h"

#include <cstdint>

class FileInterface;
class TextureRef;

class ObjPkgManager::Light final : public LightProj
{
public:
    // The projected light's defaults (a 30-degree cone of range 30 in warm
    // white), owned by package (which finds its embedded files; may be
    // null); texture, when given and bound, becomes the projected texture.
    // The projection is computed at once.
    Light(FileFinder* package, const TextureRef* texture);

    // Reads one light block (tags 1 to 13; later tags carry no field). Tag 8
    // names an embedded file that becomes the projected texture at once (a
    // name that matches none leaves the texture). True when the block ended
    // at its tag 0 or where the data ends between entries; false when a
    // field is cut. Non-finite or huge values keep what was held. The
    // projection is not recomputed: the package calls update.
    bool load(FileInterface& stream);

    // The projector from rotation (degrees; Ry Rx Rz) and position, then the
    // projection of the kind (0 box, 1 cone) and the four corners of its
    // volume. Other kinds compute nothing and switch the projection off.
    void update() override;

    // Drops the projected texture and takes texture's (none when null or
    // unbound); value7 becomes 0.
    void setTexture(const TextureRef* texture);

    uint32_t mainLight = 0;
    uint32_t value7 = 0;
    vec3d position;
    vec3d rotation;
    uint32_t value9 = 256;
    float value11 = 0.0f;
    uint32_t value13 = 0;
    FileFinder* package;
    // Where the volume's first plane meets its side planes 2 and 3, 3 and 4,
    // 4 and 5, 5 and 2.
    vec3d corners[4];

private:
    void loadTexture(const String& name);
    void computeCorners();
};
