#include "Objects/Fire.h"

void ObjPkgManager::Functions::Fire::markModified()
{
    // The page's sliders and controls follow the selection.
    selectFire(pickedOrSelected());
    refreshControls();
    modified = 1;
}
