#include "core/power/PowerBatteryService.h"
#include "tests/core/power/PowerServiceRig.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;
using namespace std::chrono_literals;

TEST(PowerBatteryService, EnergySamplingByCPUActivity) {
    EnergyRig rig;
    rig.process(10, 1, 100, "/opt/editor/bin/editor");
    rig.process(11, 1, 50, "/opt/editor/helpers/render/bin/render"); // nested: the outer owns it
    rig.process(12, 1, 10, "/usr/bin/player");
    rig.process(13, 1, 5, "/usr/bin/unlisted");
    rig.process(14, 1, 5, nullptr);
    int updates = 0;
    EXPECT_TRUE(rig.sample([&] { ++updates; }).empty()); // the first sample only primes
    rig.advance(1s);
    rig.sample();
    EXPECT_EQ(rig.processes->pathLookups, 5); // the second trigger, 1 s on, did nothing
    rig.runMainQueue();                       // the power report's own update
    updates = 0;

    rig.advance(3s);
    rig.process(10, 1, 101, "/opt/editor/bin/editor");
    rig.process(11, 1, 51, "/opt/editor/helpers/render/bin/render");
    rig.process(12, 7, 12, "/usr/bin/player"); // the id was reused: a new process
    rig.process(13, 1, 9, "/usr/bin/unlisted");
    auto list = rig.sample([&] { ++updates; });
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].id, "/opt/editor");
    EXPECT_EQ(list[0].bundlePath, "/opt/editor");
    EXPECT_EQ(list[0].name, "Editor");
    EXPECT_EQ(list[0].basis, AppEnergyBasis::cpuActivity);
    EXPECT_EQ(list[0].valueText, "50.0%");
    EXPECT_NEAR(list[0].rawScore, 50, 1e-9);
    EXPECT_EQ(rig.runMainQueue(), 1);
    EXPECT_EQ(updates, 1);
    // Only the new process life was looked up: owners, and their absence, are remembered.
    EXPECT_EQ(rig.processes->pathLookups, 5 + 1);
}

TEST(PowerBatteryService, EnergySamplingByEnergy) {
    EnergyRig rig;
    rig.process(10, 1, 1, "/opt/editor/bin/editor", 10);
    rig.process(11, 1, 1, "/opt/editor/helpers/render/bin/render", 10);
    rig.process(12, 1, 1, "/usr/bin/player", 10);
    rig.sample();
    rig.advance(10s);
    rig.process(10, 1, 2, "/opt/editor/bin/editor", 10 + 12.0);
    rig.process(11, 1, 2, "/opt/editor/helpers/render/bin/render", 10 + 11.4);
    rig.process(12, 1, 2, "/usr/bin/player", 10 + 8);
    auto list = rig.sample();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].valueText, "2.3 W"); // 1.2 + 1.14 W from two executables
    EXPECT_EQ(list[0].basis, AppEnergyBasis::cpuEnergy);
    EXPECT_EQ(list[1].valueText, "800 mW");

    rig.advance(10s);
    rig.process(12, 1, 3, "/usr/bin/player", 18 + 0.4);
    list = rig.sample();
    EXPECT_TRUE(list.empty()); // 0.04 W is not listed

    rig.advance(10s);
    rig.process(12, 1, 1, "/usr/bin/player", 18.4); // counters that went backwards count nothing
    EXPECT_TRUE(rig.sample().empty());

    rig.advance(40s); // a gap too long to compare across
    rig.process(12, 1, 9, "/usr/bin/player", 100);
    EXPECT_TRUE(rig.sample().empty());
}

} // namespace
} // namespace ventoral
