// Font weights of the windows, as the original platform gives them, shown readable.
#include "platform/gui/page_font.hpp"

#include <gtest/gtest.h>

namespace {

TEST(QtFontWeight, LightWeightsReadAsNormalOthersTakeTheNearestHundred) {
    const std::pair<int, QFont::Weight> cases[] = {
        {0, QFont::Normal},   {14, QFont::Normal},    {110, QFont::Normal}, {400, QFont::Normal},
        {500, QFont::Medium}, {600, QFont::DemiBold}, {700, QFont::Bold},   {1000, QFont::Black},
    };
    for (const auto& [windows, qt] : cases) EXPECT_EQ(QtFontWeight(windows), qt) << windows;
}

}  // namespace
