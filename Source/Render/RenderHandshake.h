#pragma once

#include <cstdint>

// The handshake between the off-screen renderers (environment-map faces,
// shadow maps) and the recorders of long-lived Direct3D state blocks, which
// must not record while a render is under way: a renderer raises the
// render-busy word and waits while a recorder asks for a pause; a recorder
// raises the pause-request word and waits while a render is busy.
//
// Both sides nest, and a side never waits for a word that its own thread
// raised: every user runs on the main thread today, and a recorder called
// from inside an environment-map face would otherwise wait for ever. A
// recorder on another thread withdraws its request while it waits, so the
// two sides never wait for each other. Waits poll every 10 ms.
namespace RenderHandshake {

// Scopes for the two sides.
class Render
{
public:
    Render();
    ~Render();
    Render(const Render&) = delete;
    Render& operator=(const Render&) = delete;
};

class Record
{
public:
    Record();
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
};

bool renderBusy();
bool pauseRequested();

}
