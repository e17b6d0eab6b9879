#pragma once

#include "ProgressWriter.h"
#include "RecordsFileWriter.h"

#include <vector>

// Sample race data: the valley's records (ten laps and three races, best
// first) and a progress table of three championships.
namespace RaceSamples {

// The valley's reference lap: 1:23.45.
constexpr uint32_t valleyReferenceLap = 83450;

RecordsFileWriter::Records valleyRecords();
std::vector<ProgressWriter::Record> progressTable();

}
