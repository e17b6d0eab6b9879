#pragma once

#include "ObjectPackageWriter.h"

// What the opponent drivers' tests and benchmark race on: a gate whose
// window the quads drive through, between two posts 40 apart that carry
// no collision geometry (the sample gate is a solid frame).
namespace DriverSamples {

ObjectPackageWriter::Package ringGate();

}
