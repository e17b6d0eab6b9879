#include "Application/Globals.h"

#include "Application/DialogTools.h"
#include "Application/GlobalSettings.h"
#include "Application/Korvanta.h"
#include "Application/Multimonitor.h"
#include "Application/OSVersion.h"
#include "Application/ShellWindows.h"
#include "Audio/Audio.h"
#include "Entity/CollisionQuery.h"
#include "Menu/UIFont.h"
#include "Render/EnvMap.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"
#include "Core/Language.h"
#include "Core/Math.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdlib>

ResourceManager* gResourceManager = nullptr;

namespace {

ShellWindows* gShellWindows = nullptr;

struct Step
{
    void (*create)();
    void (*destroy)(); // null: nothing to release at exit
};

const Step steps[] = {
    {[] { gTimer.init(); }, nullptr},
    {[] { gLanguage = new Language; },
     [] {
         delete gLanguage;
         gLanguage = nullptr;
     }},
    {[] {
         srand(timeGetTime());
         initFastMath();
     },
     nullptr},
    {[] { gApp = new Korvanta; },
     [] {
         delete gApp;
         gApp = nullptr;
     }},
    {[] { gSettings = new GlobalSettings(gApp ? gApp->appDataFolder : String()); },
     [] {
         delete gSettings;
         gSettings = nullptr;
     }},
    {[] { gResourceManager = new ResourceManager; },
     [] {
         delete gResourceManager;
         gResourceManager = nullptr;
     }},
    // The maps' owners delete them; the list only lets them go.
    {[] {}, [] { EnvMap::destroyAll(false); }},
    {[] { WinShell::gMonitors = new WinShell::Multimonitor; },
     [] {
         delete WinShell::gMonitors;
         WinShell::gMonitors = nullptr;
     }},
    // The window-property atom by which the editing pages' link windows find
    // their hyperlink object.
    {[] { DialogTools::HyperLink::addAtom(); }, [] { DialogTools::HyperLink::deleteAtom(); }},
    {[] { gShellWindows = new ShellWindows; },
     [] {
         delete gShellWindows;
         gShellWindows = nullptr;
     }},
    {[] { gOSVersion = new OSVersion(OSVersion::read()); },
     [] {
         delete gOSVersion;
         gOSVersion = nullptr;
     }},
    // The physics thread's collision query is a static object; its arrays go at exit.
    {[] {}, [] { gCollisionQuery.clear(); }},
    // The user interface's fonts: their faces, buffers and GDI surface go
    // at exit if the device's release has not taken them already.
    {[] { UserInterface::UIFont::initGlobals(); }, [] { UserInterface::UIFont::exitGlobals(); }},
    // The sound system's globals need nothing at start; at exit its event
    // thread stops and its files, pools and sound list go before the static
    // destructors run.
    {[] {}, [] { Audio::destroyAtExit(); }},
    // The way network is made by its static initialiser. At exit its ways,
    // modelers, projection records and pools go; a released device has taken
    // the pools' buffers and the modelers' blocks already, so nothing here
    // touches a released Direct3D object.
    {[] {},
     [] {
         WayModelerSet::destroy();
         gWayNetwork.clear();
     }},
};

constexpr int stepCount = int(sizeof(steps) / sizeof(steps[0]));
int created = 0;
bool exitRegistered = false;

} // namespace

void Globals::create()
{
    if (created > 0)
        return;
    for (const Step& step : steps) {
        step.create();
        ++created;
    }
    if (!exitRegistered) {
        exitRegistered = true;
        atexit(destroy);
    }
}

void Globals::destroy()
{
    while (created > 0) {
        --created;
        if (steps[created].destroy)
            steps[created].destroy();
    }
}
