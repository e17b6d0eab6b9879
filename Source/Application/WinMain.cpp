#include "Application/CrashProtection.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"

#include "Core/CrashGuard.h"

#include <windows.h>

namespace {

struct Run {
    HINSTANCE instance;
    int showCommand;
    int result;
};

void runApplication(void* context)
{
    Run* run = static_cast<Run*>(context);
    run->result = gApp ? gApp->run(run->instance, run->showCommand) : -1;
}

}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    Globals::create();

    if (gApp) {
        CrashProtection::configure(gApp->programName, gApp->version, Korvanta::shutdownHook);
        CrashProtection::setLocalFolder(gApp->appDataFolder);
    }

    // A crash inside the run is reported and has shut the application down
    // by the time the guard returns; the program then ends normally.
    Run run{instance, showCommand, 0};
    if (!CrashGuard::run(runApplication, &run))
        run.result = 0;

    delete gApp;
    gApp = nullptr;
    return run.result;
}
