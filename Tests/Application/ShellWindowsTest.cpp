#include "Application/ShellWindows.h"

#include <gtest/gtest.h>

// The search starts at the desktop; whatever it cannot find under Wine, it
// stops quietly with the later handles empty and leaves no helper behind.
TEST(ShellWindows, FindsTheShellOrStopsQuietlyAndLeavesNoHelperBehind)
{
    ShellWindows shell;
    EXPECT_EQ(shell.rootWindow, GetDesktopWindow());
    if (!shell.shellWindow) {
        EXPECT_EQ(shell.viewWindow, nullptr);
    }
    if (!shell.viewWindow) {
        EXPECT_EQ(shell.listWindow, nullptr);
    }
    EXPECT_EQ(FindWindowW(L"Pellwick Helper Window Class", nullptr), nullptr);
}
