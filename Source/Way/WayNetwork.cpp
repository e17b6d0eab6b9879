#include "Way/WayNetwork.h"

#include "Way/WayModeler.h"

#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

#include <windows.h>

WayNetwork gWayNetwork;

WayNetwork::WayNetwork() : ownerThread_(GetCurrentThreadId())
{
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 0.0f;
}

WayNetwork::~WayNetwork() { clear(); }

void WayNetwork::beginChange()
{
    changing_.store(1, std::memory_order_seq_cst);
    while (remoteQueries_.load(std::memory_order_seq_cst) > 0)
        Sleep(0);
}

void WayNetwork::endChange()
{
    generation_.fetch_add(1, std::memory_order_seq_cst);
    changing_.store(0, std::memory_order_seq_cst);
}

Way::PointNode* WayNetwork::findPointNode(int32_t id) const
{
    Way::PointNode* found = nullptr;
    walk([&](Way::PointNode* node) {
        if (node->item->id != id)
            return true;
        found = node;
        return false;
    });
    return found;
}

Way::Modeler* WayNetwork::findModeler(const String& name) const
{
    for (Way::Modeler* modeler : modelers)
        if (modeler && modeler->name.sameText(name))
            return modeler;
    return modelers.empty() ? nullptr : modelers.front();
}

void WayNetwork::registerModeler(Way::Modeler* modeler)
{
    if (modeler)
        modelers.push_back(modeler);
}

void WayNetwork::clearWays()
{
    CRASH_TRACE();
    beginChange();
    segments.clear();
    hollowSegments.clear();
    indexHollows();
    // Deleting a segment unlinks its projection links from their records.
    ways.clearWith([](Way::PointList* list) { Way::deletePointList(list); });
    endChange();
}

void WayNetwork::clear()
{
    CRASH_TRACE();
    clearWays();
    projectionRecords.deleteAll();
    vertexPools.clear();
    indexPools.clear();
    modelers.clear();
}

void WayNetwork::indexSegments()
{
    segments.clear();
    hollowSegments.clear();
    walk([this](Way::PointNode* node) {
        if (Way::Segment* segment = node->item->segment) {
            segments.push_back(segment);
            if (segment->modeler && segment->modeler->lowersTerrain)
                hollowSegments.push_back(segment);
        }
        return true;
    });
    indexHollows();
}

void WayNetwork::releaseStateBlocks()
{
    for (Way::Modeler* modeler : modelers)
        if (modeler)
            modeler->releaseStateBlocks();
}

void WayNetwork::restoreStateBlocks()
{
    for (Way::Modeler* modeler : modelers)
        if (modeler)
            modeler->rebuildStateBlocks();
}

void WayNetwork::releaseDeviceObjects()
{
    CRASH_TRACE();
    for (Way::Segment* segment : segments) {
        segment->releaseMeshes();
        // The cleared list's nodes are ownerless: unlink leaves them alone.
        segment->projections.clearWith([this](Way::ProjectionLink* link) { unlink(link); });
    }
    releaseStateBlocks();
    vertexPools.clear();
    indexPools.clear();
}

bool loadWayFile(const String& path) { return gWayNetwork.load(path); }

bool saveWayFile(const String& path) { return gWayNetwork.save(path); }
