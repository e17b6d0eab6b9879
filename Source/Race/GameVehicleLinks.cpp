// What a vehicle's race state asks of the object functions of its quad and
// of the race's other objects: the head-up display, the vehicle camera, the
// fires, the rockets, the oil puddles and the gates' marks.
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Objects/DynObject.h"
#include "Vehicle/QuadInstance.h"

Game::Gate::Gate(Game* owner, Object* placed) : object(placed), game(owner)
{
    if (object)
        object->observer = this;
}

Game::Gate::~Gate()
{
    if (object && object->observer == this)
        object->observer = nullptr;
}

void Game::Gate::instanceCreated(StaticEntity::Instance& instance)
{
    attachToEntity(dynamic_cast<DynObject*>(&instance));
}

void Game::Gate::attachToEntity(DynObject* dyn)
{
    (void)dyn;
}

void Game::Gate::setMarked(uint32_t on)
{
    marked = on;
}

void Game::Vehicle::showMessage(const wchar_t* key, uint32_t duration)
{
    (void)key, (void)duration;
}

void Game::Vehicle::hideMessage() {}

void Game::Vehicle::showCompass(bool show)
{
    (void)show;
}

void Game::Vehicle::showBeam() {}

void Game::Vehicle::showLapTimes(int32_t lapMs, int32_t differenceMs)
{
    (void)lapMs, (void)differenceMs;
}

void Game::Vehicle::updateRecordTexts(bool lap)
{
    (void)lap;
}

void Game::Vehicle::lookAlongQuad(QuadInstance& quad)
{
    (void)quad;
}

void Game::Vehicle::handToDriver()
{
    setCameraMode1();
}

void Game::Vehicle::setCameraMode1() {}

void Game::Vehicle::applyMotorFactor(QuadInstance& quad, float factor)
{
    (void)quad, (void)factor;
}

void Game::Vehicle::setDamageFires(uint32_t on)
{
    (void)on;
}

void Game::Vehicle::setNitroFlame(uint32_t on)
{
    (void)on;
}

void Game::Vehicle::launchRocket(DynObject& rocket, QuadInstance& quad)
{
    (void)rocket, (void)quad;
}

void Game::Vehicle::spillOil(DynObject& puddle, QuadInstance& quad)
{
    (void)puddle, (void)quad;
}
