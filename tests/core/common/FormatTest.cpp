#include "core/common/Format.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

TEST(Format, FormatsLongTextsBeyondTheSmallBuffer) {
    std::string long_text(200, 'x');
    EXPECT_EQ(cformat("%s-%d", long_text.c_str(), 5), long_text + "-5");
    EXPECT_EQ(cformat("%.1f", 2.25), "2.2");
}

TEST(Format, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(roundHalfAway(2.5), 3.0);
    EXPECT_EQ(roundHalfAway(-2.5), -3.0);
    EXPECT_EQ(roundHalfAway(99.4), 99.0);
}

} // namespace
} // namespace ventoral
