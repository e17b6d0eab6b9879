#pragma once

// A procedural tree, grown from the parameter blocks and stored skeletons of
// a tree parameter stream (".tree") that object packages carry. Its parts are
// nested types, each defined in its own header:
//   Parameter, Bough::Param, Bough::ObjectParam, Branch::Param,
//   Foliage::Param, Branch::Leaf::Param  TreeParameters.h
//   Bone, Bough                          Bough.h
//   Branch, Foliage                      Branch.h, Foliage.h
// Everything here runs on the main thread. Random numbers come from the
// runtime's rand(), drawn in a fixed order and never seeded by tree code.
class Tree
{
public:
    class Parameter;
    class Bone;
    class Bough;
    class Branch;
    class Foliage;
};
