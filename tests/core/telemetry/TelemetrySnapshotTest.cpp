#include "core/telemetry/TelemetrySnapshot.h"

#include <gtest/gtest.h>
#include <limits>

namespace ventoral {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TelemetrySnapshot snapshot(std::vector<std::pair<SensorCategory, double>> readings) {
    TelemetrySnapshot s;
    int n = 0;
    for (auto [category, value] : readings) {
        s.sensors.push_back({"s" + std::to_string(n++), "sensor", value, category});
    }
    return s;
}

struct SummaryCase {
    const char* label;
    std::vector<std::pair<SensorCategory, double>> readings;
    double cpu, gpu, ane;
};

class SummaryTemperatures : public testing::TestWithParam<SummaryCase> {};

TEST_P(SummaryTemperatures, FollowThePlausibilityRules) {
    const auto& c = GetParam();
    auto s = snapshot(c.readings);
    EXPECT_DOUBLE_EQ(s.cpuTemperature(), c.cpu) << c.label;
    EXPECT_DOUBLE_EQ(s.gpuTemperature(), c.gpu) << c.label;
    EXPECT_DOUBLE_EQ(s.aneTemperature(), c.ane) << c.label;
}

using C = SensorCategory;

INSTANTIATE_TEST_SUITE_P(
    Cases, SummaryTemperatures,
    testing::Values(
        SummaryCase{"no sensors", {}, 45.0, 42.75, 40.5},
        SummaryCase{"edges ignored", {{C::cpu, 10.0}, {C::cpu, 125.0}}, 45.0, 42.75, 40.5},
        SummaryCase{
            "just inside", {{C::cpu, 10.01}, {C::cpu, 124.99}}, 67.5, 67.5 * 0.95, 67.5 * 0.9},
        SummaryCase{"cpu mean, gpu max",
                    {{C::cpu, 50}, {C::cpu, 70}, {C::gpu, 50}, {C::gpu, 70}, {C::ane, 40}},
                    60,
                    70,
                    40},
        SummaryCase{"hottest of any category without cpu",
                    {{C::battery, 31.5}, {C::storage, 34.2}},
                    34.2,
                    34.2 * 0.95,
                    34.2 * 0.9},
        SummaryCase{
            "NaN never plausible", {{C::cpu, nan}, {C::gpu, nan}, {C::storage, 30}}, 30, 28.5, 27},
        SummaryCase{
            "NaN never wins a maximum", {{C::gpu, 55}, {C::gpu, nan}, {C::ane, nan}}, 55, 55, 49.5},
        SummaryCase{
            "implausible cpu falls back to others", {{C::cpu, -128}, {C::system, 40}}, 40, 38, 36}),
    [](const auto& param_info) {
        std::string name = param_info.param.label;
        for (auto& ch : name) {
            if (!isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return name;
    });

} // namespace
} // namespace ventoral
