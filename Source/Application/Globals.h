#pragma once

// The program's globals, made in one fixed order and released in the reverse
// order. C++ orders initialisers only within one file, and the application
// object needs the timer and the language object before it, and the settings
// need the application's folder; so one function makes them all, first thing
// in the entry function, and the exit handler it registers undoes them.
//
// Order: frame timer, language object, random seed and square-root tables,
// application object, global settings, resource manager, monitor list, shell
// windows, operating-system version record; at exit the way network and the
// sound system go first.
class ResourceManager;

// The named assets of "Data\Resource\Resource.res"; deleted by shutdown.
extern ResourceManager* gResourceManager;

class Globals
{
public:
    // Makes every global in order and registers destroy() to run at exit.
    // A second call does nothing.
    static void create();
    // Releases, in reverse order, every global still alive. A global already
    // released elsewhere (the application by the entry function, the language
    // object by shutdown) has a null pointer and is skipped.
    static void destroy();
};
