#pragma once

#include "Race/Game.h"

#include <cstdint>

// A gate of the course: its placed object and whether it is the target the
// race marked (Jamboree). The race's gate list holds them in course order.
class Game::Gate
{
public:
    Gate(Game* owner, Object* placed) : object(placed), game(owner) {}
    virtual ~Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    Object* object;
    Game* game;
    uint32_t marked = 0;
};
