#pragma once
// The sample packages of the effect functions, made from code: the oil
// puddle a vehicle drops ("OilPuddle": the template alone, no mesh), a
// bonfire of three flames over a pile of logs with a looped crackle
// ("Bonfire") and the
// homing rocket ("Rocket": a body without collision geometry, three effect
// images, four sounds and one fire at its tail).

#include "FunctionsRecordWriter.h"
#include "ObjectPackageWriter.h"

namespace EffectPackageSamples {

ObjectPackageWriter::Package oilPuddle();
ObjectPackageWriter::Package bonfire();
ObjectPackageWriter::Package rocket();
// A bush ("Bush": a leafy box without collision geometry) with its leaf
// image (a leaf shape in alpha) and a rustle.
ObjectPackageWriter::Package bush();
FunctionsRecordWriter::Bush bushLeaves();

// The bonfire's and the rocket's function blocks, as the packages hold them.
FunctionsRecordWriter::Fire bonfireFlames();
FunctionsRecordWriter::Rocket rocketEffects();

}
