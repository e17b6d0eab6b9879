// The font globals exist for the whole test program, as the program's
// start-up makes them before any device: the head-up display's faces come
// from the global font.
#include "Menu/UIFont.h"

#include <gtest/gtest.h>

namespace {

class FontGlobals final : public testing::Environment
{
public:
    void SetUp() override { UserInterface::UIFont::initGlobals(); }
    void TearDown() override { UserInterface::UIFont::exitGlobals(); }
};

[[maybe_unused]] testing::Environment* const fontGlobals = testing::AddGlobalTestEnvironment(new FontGlobals);

}
