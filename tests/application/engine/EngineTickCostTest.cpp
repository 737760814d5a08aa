// What one tick of the engine costs, assembled as the running program assembles it, counted by
// the sysfs layer itself.
#include "tests/application/engine/AssembledDesktop.h"
#include "tests/application/engine/EngineRig.h"

#include <functional>
#include <gtest/gtest.h>
#include <sstream>

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

// Method calls on the bus while `ticks` run, as a monitor sees them.
int methodCallsDuring(AssembledDesktop& desktop, const std::function<void()>& ticks) {
    BackgroundProcess monitor(
        {"/usr/bin/dbus-monitor", "--address", desktop.bus.address(), "--profile"});
    EXPECT_TRUE(waitUntil([&] { return monitor.output().find("#type") != std::string::npos; }, 5))
        << monitor.errorOutput();
    // Its own arrival is announced by signals; anything after the header is the ticks'.
    const std::size_t before = monitor.output().size();
    ticks();
    // The bus daemon passes messages in order: a call of ours that the monitor has seen marks
    // that everything the ticks sent before it has been seen too.
    EXPECT_EQ(runCommand({"/usr/bin/busctl", "--address=" + desktop.bus.address(), "call",
                          "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                          "GetId"})
                  .exitStatus,
              0);
    EXPECT_TRUE(waitUntil([&] { return monitor.output().find("GetId") != std::string::npos; }, 5));
    std::string seen = monitor.output().substr(before);
    seen = seen.substr(0, seen.rfind('\n', seen.find("GetId")));
    int calls = 0;
    std::istringstream lines(seen);
    for (std::string line; std::getline(lines, line);) {
        // busctl's own Hello comes before its GetId.
        if (line.rfind("mc", 0) == 0 && !line.ends_with("\tHello")) {
            ADD_FAILURE() << line;
            ++calls;
        }
    }
    return calls;
}

TEST(EngineTickCost, NoBusCallOnATick) {
    FakeWriter writer;
    AssembledDesktop desktop(writer);
    ASSERT_TRUE(desktop.bus.isUp());
    for (bool full : {false, true}) {
        desktop.setFull(full);
        EXPECT_EQ(methodCallsDuring(desktop, [&] { desktop.engine->telemetryTick(); }), 0)
            << (full ? "full tick" : "light tick");
    }
}

} // namespace
} // namespace ventoral
