// What one tick of the engine costs, assembled as the running program assembles it, counted by
// the sysfs layer itself.
#include "tests/application/engine/AssembledDesktop.h"
#include "tests/application/engine/EngineRig.h"

#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;

TEST(EngineTickCost, EachFileOnceAndNoConstantReadAgain) {
    FakeWriter writer;
    AssembledDesktop desktop(writer);
    ASSERT_TRUE(desktop.bus.isUp());
    for (bool full : {false, true}) {
        desktop.setFull(full);
        const auto opens = desktop.countedTick();
        EXPECT_FALSE(opens.empty());
        for (const auto& [path, count] : opens) {
            EXPECT_EQ(count, 1) << path << (full ? " (full tick)" : " (light tick)");
            // Limits, labels and the profile change only with the hardware or by events.
            for (const char* constant : {"_min", "_max", "_label", "platform_profile"}) {
                EXPECT_EQ(path.find(constant), std::string::npos) << path;
            }
        }
        if (!full) {
            EXPECT_FALSE(opens.count("/class/power_supply")) << "listed on a light tick";
        }
    }
}

} // namespace
} // namespace ventoral
