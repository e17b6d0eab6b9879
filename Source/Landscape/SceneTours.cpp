// Camera tours over the level's camera objects: the menu background flights
// and the race's start view.
#include "Landscape/Scene.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Render/SwapChain.h"

#include "Core/Math.h"
#include "Core/Timer.h"

namespace {

// The object functions of the race's player vehicle.
constexpr uint32_t vehicleCameraFlag = 0x4;
constexpr uint32_t headUpDisplayFlag = 0x20;

// Camera numbers are the objects' state bytes.
int32_t cameraNumber(int32_t n) { return n < 0 ? 0 : n > 255 ? 255 : n; }

// The object's transform with its view leaned (90 - tilt) degrees down about
// its own horizontal axis.
matrix3d tiltedKey(const Scene::CameraObject& object)
{
    const float a = (90.0f - float(object.tilt)) * 0.017453292f;
    const float c = floatCos(a), s = floatSin(a);
    const vec3d up = object.transform.row(1).normalised();
    const vec3d ahead = object.transform.row(2).normalised();
    const vec3d tiltedUp = up * c + ahead * s;
    const vec3d tiltedAhead = ahead * c - up * s;
    matrix3d key = object.transform;
    key.m[4] = tiltedUp.x;
    key.m[5] = tiltedUp.y;
    key.m[6] = tiltedUp.z;
    key.m[8] = tiltedAhead.x;
    key.m[9] = tiltedAhead.y;
    key.m[10] = tiltedAhead.z;
    return key;
}

}

const Scene::CameraObject* Scene::findCameraObject(DynArray<CameraObject>& objects, int32_t count, int32_t n)
{
    for (int32_t i = 0; i < count; ++i)
        if (const CameraObject* object = objects.at(i); object && object->number == n)
            return object;
    return nullptr;
}

DynObject* Scene::findFlaggedEntity() const
{
    EntityManager* entities = swapChain ? swapChain->entities : nullptr;
    if (!entities)
        return nullptr;
    DynObject* withDisplay = nullptr;
    for (auto* node = entities->entities.head(); node; node = node->next) {
        auto* object = dynamic_cast<DynObject*>(node->item);
        if (!object || !object->functions)
            continue;
        if (object->functions->mask & vehicleCameraFlag)
            return object;
        if (!withDisplay && (object->functions->mask & headUpDisplayFlag))
            withDisplay = object;
    }
    return withDisplay;
}

void Scene::setCameraMode(int32_t first, int32_t last, float speed)
{
    if (!cameraObjects)
        return;
    DynArray<CameraObject> objects(16);
    const int32_t count = cameraObjects->collect(objects);
    // The race code's flag word of the camera package.
    if (cameraType)
        cameraType->raceFlag = 1;
    cameraPath.reset(speed);
    first = cameraNumber(first);
    last = cameraNumber(last);
    const int32_t step = first <= last ? 1 : -1;
    for (int32_t n = first;; n += step) {
        if (const CameraObject* object = findCameraObject(objects, count, n))
            cameraPath.build(tiltedKey(*object));
        if (n == last)
            break;
    }
    camera.path = &cameraPath;
    // The race's camera on the player's vehicle stops driving the view.
    if (camera.mode == SceneCamera::vehicleMode)
        if (DynObject* followed = findFlaggedEntity(); followed && followed->functions) {
            followed->functions->remove(vehicleCameraFlag);
            followed->functions->remove(headUpDisplayFlag);
        }
    camera.mode = SceneCamera::pathMode;
    if (swapChain)
        cameraPath.updateView(*swapChain, gFrameFactor.load());
}

void Scene::placeCameraAtStart()
{
    if (!cameraObjects || !swapChain)
        return;
    DynArray<CameraObject> objects(16);
    const int32_t count = cameraObjects->collect(objects);
    if (const CameraObject* start = findCameraObject(objects, count, 0))
        swapChain->position = start->transform.row(3);
}

void Scene::runTours()
{
    CameraPath* path = camera.path;
    if (!path)
        return;
    if (tourA && tourA <= 3 && path->finished) {
        const uint32_t next = tourA == 3 ? 1 : tourA + 1;
        const int32_t first = int32_t(tourA - 1) * 3;
        setCameraMode(first, first + 2, 3.0f);
        tourA = next;
    }
    if (tourB && tourB < 4 && path->finished) {
        const int32_t first = 9 + int32_t(tourB - 1) * 3;
        setCameraMode(first, first + 2, 1.0f);
        tourB += 1;
    } else if (tourB == 4 && !path->finished) {
        path->speed = 1.0f - path->t;
    }
}
