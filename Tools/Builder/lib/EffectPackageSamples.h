#pragma once
// The sample packages of the effect functions, made from code: the oil
// puddle a vehicle drops ("OilPuddle": the template alone, no mesh), a
// bonfire of three flames over a pile of logs with a looped crackle
// ("Bonfire") and the
// homing rocket ("Rocket": a body without collision geometry, three effect
// images, four sounds and one fire at its tail).

#include "FunctionsRecordWriter.h"
#include "ImageFileWriter.h"
#include "ObjectPackageWriter.h"

namespace EffectPackageSamples {

ObjectPackageWriter::Package oilPuddle();
ObjectPackageWriter::Package bonfire();
ObjectPackageWriter::Package rocket();
// A bush ("Bush": a leafy box without collision geometry) with its leaf
// image (a leaf shape in alpha) and a rustle.
ObjectPackageWriter::Package bush();
FunctionsRecordWriter::Bush bushLeaves();

// The capture flag's cloth: the default grid on the vertical plane, its
// first column on the pole, with a two-colour image (flagImage: a red field
// with a white band along its left half, so that front and mirrored back
// tell apart).
FunctionsRecordWriter::Cloths flagCloth();
ImageFileWriter::Image flagImage();
// A banner stretched in the horizontal plane between two posts ("Banner"):
// the pin line holds its first column, pins C and D the far corners.
FunctionsRecordWriter::Cloths bannerCloth();
ObjectPackageWriter::Package banner();

// The bonfire's and the rocket's function blocks, as the packages hold them.
FunctionsRecordWriter::Fire bonfireFlames();
FunctionsRecordWriter::Rocket rocketEffects();

}
