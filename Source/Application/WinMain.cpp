#include "Application/Globals.h"
#include "Application/Korvanta.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    Globals::create();

    // The crash protection's guard wraps this one call.
    int result = gApp ? gApp->run(instance, showCommand) : -1;

    delete gApp;
    gApp = nullptr;
    return result;
}
