#include "icon_release.h"

#include <gtest/gtest.h>

namespace {

int g_shell1, g_shell2, g_stock, g_application;

// Every pair of previous and newly shown icon; only a shell icon that is no longer shown goes.
TEST(IconReleaseTest, EveryPairOfPreviousAndShownIcon)
{
    const void* const shell = &g_shell1;
    const void* const otherShell = &g_shell2;
    const void* const stock = &g_stock;
    const void* const app = &g_application;
    const struct { const void *previous, *shown; bool release; } cases[] = {
        {shell, otherShell, true}, {shell, stock, true}, {shell, app, true}, {shell, nullptr, true},
        {shell, shell, false}, // the same handle handed again
        {stock, shell, false}, {stock, stock, false}, {stock, app, false}, {stock, nullptr, false},
        {app, shell, false}, {app, stock, false}, {app, app, false}, {app, nullptr, false},
        {nullptr, shell, false}, {nullptr, stock, false}, {nullptr, app, false}, {nullptr, nullptr, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShouldReleaseIcon(c.previous, c.shown, stock, app), c.release)
            << c.previous << " -> " << c.shown;
}

} // namespace
