#include "icon_release.h"

#include <gtest/gtest.h>

namespace {

int g_shell1, g_shell2, g_stock, g_application;

enum IconKind { SHELL, OTHER_SHELL, STOCK, APPLICATION, NONE };

const void* Handle(IconKind kind)
{
    switch (kind) {
    case SHELL: return &g_shell1;
    case OTHER_SHELL: return &g_shell2;
    case STOCK: return &g_stock;
    case APPLICATION: return &g_application;
    case NONE: break;
    }
    return nullptr;
}

// Every pair of previous and newly shown icon; only a shell icon that is no longer shown goes.
TEST(IconReleaseTest, EveryPairOfPreviousAndShownIcon)
{
    const struct {
        IconKind previous;
        IconKind shown;
        bool release;
    } cases[] = {
        {SHELL, OTHER_SHELL, true}, {SHELL, STOCK, true},        {SHELL, APPLICATION, true},
        {SHELL, NONE, true},        {SHELL, SHELL, false}, // the same handle handed again
        {STOCK, SHELL, false},      {STOCK, STOCK, false},       {STOCK, APPLICATION, false},
        {STOCK, NONE, false},       {APPLICATION, SHELL, false}, {APPLICATION, STOCK, false},
        {APPLICATION, APPLICATION, false}, {APPLICATION, NONE, false}, {NONE, SHELL, false},
        {NONE, STOCK, false},       {NONE, APPLICATION, false},  {NONE, NONE, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShouldReleaseIcon(Handle(c.previous), Handle(c.shown), &g_stock, &g_application),
                  c.release)
            << c.previous << " -> " << c.shown;
}

} // namespace
