#pragma once
// The spin function: an object of the package turns and sways by itself.
// Each frame its dynamic object's world matrix becomes a local motion (a
// turn growing with time and a sine offset on each axis) applied before the
// placed object's own transform.
//
// The template (function code 1) holds nine parameters; each dynamic object
// of the package gets one Instance (flag 0x1). Its block, a tagged stream:
//     1 amplitude x   2 frequency x (radians per time unit)
//     3 amplitude y   4 frequency y
//     5 amplitude z   6 frequency z
//     7 turn about y  8 turn about x  9 turn about z (degrees per time unit)
// one f32 each; time grows by 0.1 per frame at frame factor 1. The page is
// the editing dialogs' part. Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Application/DialogTools.h"

#include "Core/Matrix.h"

#include <cstdint>

class DynObject;
class FileInterface;

class ObjPkgManager::Functions::Spin final : public Template
{
public:
    class Instance;

    static constexpr uint32_t flag = 0x1;
    enum Parameter : int { amplitudeX, frequencyX, amplitudeY, frequencyY, amplitudeZ, frequencyZ, turnY, turnX,
                           turnZ, parameterCount };

    explicit Spin(Record* owner) : record(owner) {}

    // Reads the tagged block (other tags carry no field). True when it ended
    // at its tag 0 or where the data ends; false when a field is cut. A
    // value that is not finite keeps the parameter as it was.
    bool load(FileInterface& stream);
    // The spin of owner (which may be null); null when memory ran out.
    Instance* createInstance(DynObject* owner);

    // The page: one slider per parameter.
    INT_PTR handleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) override;

    Record* record;
    float parameters[parameterCount] = {};
    DialogTools::Slider sliders[parameterCount];
};

class ObjPkgManager::Functions::Spin::Instance final : public ObjectFuncInstInterface
{
public:
    Instance(Spin* spin, DynObject* owner) : spinTemplate(spin), owner(owner) {}

    // The local motion of this frame's time into the owner's world matrix,
    // before the placed object's transform; then the time moves on.
    void frameStep() override;

    Spin* spinTemplate;
    DynObject* owner;
    matrix3d local = matrix3d::identity();
    float time = 0.0f;
};
