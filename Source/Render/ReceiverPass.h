#pragma once

#include "Core/Matrix.h"

class TextureProj;

// A receiver's passes with the projections that reach it: having drawn
// itself, a receiver (the terrain, the meadow) draws its geometry once more
// under each of them, with its own vertices, transforms and depth:
//
//     ReceiverPass pass;
//     for (each projection p that reaches the geometry)
//         if (pass.begin(*p, view)) {
//             draw the geometry again;
//             pass.end(*p);
//         }
//
// While it lives the common receiver states are in force (camera-space
// texture coordinates through stage 0's matrix, blending on, no depth
// writes, no fog); its end puts back what they replaced. begin leaves stage
// 0 modulating and taking the texture's alpha and stage 1 off, then puts
// the projection's own states on top; end takes those off again. The stage
// operations begin sets, stage 0's texture and stage 0's texture matrix are
// the receiver's to restore after the passes. Main thread only.
class ReceiverPass
{
public:
    ReceiverPass();
    ~ReceiverPass();
    ReceiverPass(const ReceiverPass&) = delete;
    ReceiverPass& operator=(const ReceiverPass&) = delete;

    // The projection in force for geometry seen through view: a light's
    // texture matrix made for that view; a shadow's map on stage 0 and its
    // opacity as the alpha of a black texture factor. False, with nothing
    // set, for a disabled projection, one without its state blocks, or
    // while the common receiver states are missing (around a reset).
    bool begin(TextureProj& projection, const matrix3d& view);
    // The projection's own states taken off.
    void end(TextureProj& projection);

private:
    bool common_ = false;
};
