#pragma once
// Networks for the road tests: ways made with the content builder's writer
// and read by the game's reader into the global network, with the game's
// three modelers registered (no device: no state blocks, no textures).
#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"
#include "WayFileWriter.h"
#include "WaySamples.h"

#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace WayTestFiles {

using Route = WayFileWriter::Way;
using Point = WayFileWriter::Point;

inline std::vector<uint8_t> bytesOf(const std::vector<Route>& ways)
{
    FileArray out(256);
    WayFileWriter::write(ways, out);
    return std::vector<uint8_t>(out.memory(), out.memory() + out.size());
}

inline bool read(const std::vector<uint8_t>& bytes)
{
    FileArray stream(256);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return gWayNetwork.read(stream);
}

inline std::vector<uint8_t> written()
{
    FileArray out(256);
    gWayNetwork.write(out);
    return std::vector<uint8_t>(out.memory(), out.memory() + out.size());
}

// A point of a test way: 8 wide, a step every 2 units, no thinning.
inline Point point(float x, float z, const wchar_t* modeler = L"SimpleWayBorderPaver1", float width = 8.0f)
{
    Point p;
    p.position[0] = x;
    p.position[2] = z;
    p.width = width;
    p.heightOffset = 0.2f;
    p.stepsPerLength = 0.5f;
    p.name = String(modeler);
    return p;
}

// The sample course on flat ground.
inline std::vector<Route> flatSample()
{
    return WaySamples::valley([](float, float) { return 0.0f; });
}

// The segments of the network in walk order.
inline std::vector<::Way::Segment*> segments() { return gWayNetwork.segments; }

inline ::Way::Segment* segmentStartingAt(float x, float z)
{
    for (::Way::Segment* s : gWayNetwork.segments)
        if (s->startPoint().position.x == x && s->startPoint().position.z == z)
            return s;
    return nullptr;
}

// The global terrain from a map (freed with gTerrain.clear()).
inline bool loadGround(const TerrainMapWriter::Map& map)
{
    const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(map);
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    gTerrain.clear();
    return gTerrain.load(nullptr, TerrainTestMaps::settings(), stream);
}

// The game's modelers around every test; the network is emptied after it.
class Network : public testing::Test
{
protected:
    void SetUp() override { createWayModelerSet(); }
    void TearDown() override
    {
        WayModelerSet::destroy();
        gWayNetwork.clear();
        gTerrain.clear();
    }
};

}
