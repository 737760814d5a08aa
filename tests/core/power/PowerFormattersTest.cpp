#include "core/power/PowerFormatters.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct FormatCase {
    std::string (*format)(double);
    double value;
    const char* expected;
};

class PowerFormatterTexts : public testing::TestWithParam<FormatCase> {};

TEST_P(PowerFormatterTexts, MatchExactly) {
    const auto& c = GetParam();
    EXPECT_EQ(c.format(c.value), c.expected) << c.value;
}

INSTANTIATE_TEST_SUITE_P(Watts, PowerFormatterTexts,
                         testing::Values(FormatCase{PowerFormatters::watts, 0, "0.0 W"},
                                         FormatCase{PowerFormatters::watts, -3, "0.0 W"},
                                         FormatCase{PowerFormatters::watts, -0.0, "0.0 W"},
                                         FormatCase{PowerFormatters::watts, 23.44, "23.4 W"},
                                         FormatCase{PowerFormatters::watts, 99.94, "99.9 W"},
                                         FormatCase{PowerFormatters::watts, 100, "100 W"},
                                         FormatCase{PowerFormatters::watts, 140.4, "140 W"},
                                         FormatCase{PowerFormatters::watts, nan, "\u2014"},
                                         FormatCase{PowerFormatters::watts, inf, "\u2014"}));

INSTANTIATE_TEST_SUITE_P(VoltsAmpsTemperature, PowerFormatterTexts,
                         testing::Values(FormatCase{PowerFormatters::volts, 12.454, "12.45 V"},
                                         FormatCase{PowerFormatters::volts, -inf, "\u2014"},
                                         FormatCase{PowerFormatters::amps, 1.25, "+1.25 A"},
                                         FormatCase{PowerFormatters::amps, -0.5, "\u22120.50 A"},
                                         FormatCase{PowerFormatters::amps, -0.004, "0.00 A"},
                                         FormatCase{PowerFormatters::amps, 0.004, "0.00 A"},
                                         FormatCase{PowerFormatters::amps, 0.0051, "+0.01 A"},
                                         FormatCase{PowerFormatters::amps, nan, "\u2014"},
                                         FormatCase{PowerFormatters::temperature, 31.5,
                                                    "31.5 \u00B0C"},
                                         FormatCase{PowerFormatters::temperature, nan, "\u2014"}));

INSTANTIATE_TEST_SUITE_P(
    CompactMenuBar, PowerFormatterTexts,
    testing::Values(FormatCase{PowerFormatters::compactMenuBarWatts, 7.3, "7.3W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, 9.96, "10.0W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, 10.4, "10W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, 10.5, "11W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, 24.5, "25W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, -2, "0.0W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, nan, "\u2014W"},
                    FormatCase{PowerFormatters::compactMenuBarWatts, inf, "\u2014W"}));

TEST(PowerDurationFormatter, HoursMinutes) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {-5, "0m"}, {0, "0m"},     {45, "45m"}, {59, "59m"},
        {60, "1h"}, {65, "1h 5m"}, {120, "2h"}, {1501, "25h 1m"}};
    for (auto [minutes, text] : cases) {
        EXPECT_EQ(PowerDurationFormatter::hoursMinutes(minutes), text) << minutes;
    }
}

TEST(PowerDurationFormatter, Uptime) {
    const std::pair<double, const char*> cases[] = {
        {-1, "\u2014"},      {nan, "\u2014"},       {inf, "\u2014"},
        {0, "0m"},           {59.9, "0m"},          {720, "12m"},
        {3599, "59m"},       {14400, "4h 0m"},      {86399, "23h 59m"},
        {86400, "1d 0h 0m"}, {274320, "3d 4h 12m"}, {1e300, "6250000000000000d 0h 0m"}};
    for (auto [seconds, text] : cases) {
        EXPECT_EQ(PowerDurationFormatter::uptime(seconds), text) << seconds;
    }
}

} // namespace
} // namespace ventoral
