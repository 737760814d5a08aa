// The engine's writes, authorization, Low Power Mode, simulation switch and termination.
#include "application/engine/FanViewModel.h"
#include "tests/application/engine/EngineRig.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace ventoral {
namespace {

using namespace testing;
using namespace std::chrono_literals;

int writes(const FakeWriter& w, const std::string& prefix) {
    return static_cast<int>(std::count_if(w.calls.begin(), w.calls.end(),
                                          [&](const auto& c) { return c.rfind(prefix, 0) == 0; }));
}

// Fan 0 under fixed manual speeds, unlinked, so each test moves it alone.
struct PipelineRig : Rig {
    PipelineRig() {
        engine->toggleLinkedManualControl();
        engine->setManualRPM(0, 3000);
        writer.calls.clear();
    }
};

TEST(FanWritePipeline, SkipsWhatIsAlreadyInPlace) {
    PipelineRig rig;
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 0); // the same target again
    rig.engine->setManualRPM(0, 3014);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 0);
    rig.engine->setManualRPM(0, 3015);
    EXPECT_EQ(writes(rig.writer, "rpm 0 3015"), 1);

    // The fan still reports automatic (the fake writer touches no hardware): after 3 s the
    // state is asserted again.
    rig.clock += 2s;
    rig.engine->pollTelemetry(true);
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 1);
    rig.clock += 2s;
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 2);

    // Back to Auto: written at once, then only if the fan still reports manual 3 s later.
    rig.engine->selectPreset(Selection::builtin(BuiltinPresetType::automatic));
    EXPECT_EQ(writes(rig.writer, "mode 0 0"), 1);
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "mode 0 0"), 1);
    rig.set("F0Md", 1);
    rig.clock += 4s;
    rig.engine->pollTelemetry(true);
    rig.engine->evaluatePresetRules(false);
    EXPECT_EQ(writes(rig.writer, "mode 0 0"), 2);
}

TEST(FanWritePipeline, ABusyFanKeepsOnlyTheNewestWish) {
    struct Case {
        float newest; // the last wish while 2000 is being written
        int writes;
        const char* lastWrite;
    };
    const Case cases[] = {
        {3300, 2, "rpm 0 3300"}, // once, the newest
        {2003, 1, "rpm 0 2000"}, // within 5 RPM of what was written
    };
    for (const auto& c : cases) {
        PipelineRig rig;
        rig.writer.hold = true;
        rig.engine->setManualRPM(0, 2000); // in flight
        rig.engine->setManualRPM(0, 3100);
        rig.engine->setManualRPM(0, 3200);
        rig.engine->setManualRPM(0, c.newest);
        EXPECT_EQ(rig.engine->inFlightFanWrites().count(0), 1u);
        EXPECT_EQ(writes(rig.writer, "rpm 0"), 1);
        rig.writer.hold = false;
        auto first = rig.writer.parked.front();
        rig.writer.parked.erase(rig.writer.parked.begin());
        first(std::nullopt);
        EXPECT_EQ(writes(rig.writer, "rpm 0"), c.writes) << c.newest;
        EXPECT_EQ(rig.writer.calls.back(), c.lastWrite) << c.newest;
        EXPECT_TRUE(rig.engine->pendingFanWrites().empty()) << c.newest;
    }
}

TEST(FanWritePipeline, WithoutPrivilegesWritesStop) {
    PipelineRig rig;
    rig.writer.outcome = SMCError::privilegedRequired();
    rig.writer.status = PrivilegedWriteMode::unauthorized; // and no route appears later
    rig.engine->setManualRPM(0, 3500);
    EXPECT_FALSE(rig.engine->isAuthorized());
    EXPECT_TRUE(rig.engine->sudoFallbackConfirmedUnavailable());
    EXPECT_EQ(rig.engine->lastErrorMessage(), EngineText::authorizationRequired);
    rig.engine->clearError();
    const auto calls = rig.writer.calls.size();
    rig.engine->telemetryTick();
    EXPECT_EQ(rig.writer.calls.size(), calls); // nothing written
    EXPECT_EQ(rig.engine->lastErrorMessage(), std::nullopt);
    rig.engine->setManualRPM(0, 3600); // a user's manual choice says why again
    EXPECT_EQ(rig.writer.calls.size(), calls);
    EXPECT_EQ(rig.engine->lastErrorMessage(), EngineText::authorizationRequired);
}

TEST(FanWritePipeline, ErrorMapping) {
    struct Case {
        SMCError error;
        bool authorization;
        std::string message;
    };
    const Case cases[] = {
        {SMCError::privilegedRequired(), true, EngineText::authorizationRequired},
        {SMCError::platform("sudo: a password is required"), true,
         EngineText::authorizationRequired},
        {SMCError::platform("missing privilege"), true, EngineText::authorizationRequired},
        {SMCError::platform("Password prompt"), false, "Password prompt"},
        {SMCError::writeFailed("Invalid fan index or RPM value"), false,
         "Failed to write SMC key: Invalid fan index or RPM value"},
        {SMCError::writeFailed("no password here"), false,
         "Failed to write SMC key: no password here"},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.engine->handleWriteError(c.error);
        EXPECT_EQ(rig.engine->sudoFallbackConfirmedUnavailable(), c.authorization) << c.message;
        EXPECT_EQ(rig.engine->isAuthorized(), !c.authorization) << c.message;
        EXPECT_EQ(rig.engine->lastErrorMessage(), c.message);
    }
}

TEST(EngineAuthorization, OneRequestAtATimeAndEveryFanWrittenAgain) {
    PipelineRig rig;
    rig.writer.hold = true;
    rig.engine->requestAuthorization();
    rig.engine->requestAuthorization();
    EXPECT_EQ(rig.writer.authorizations, 1);
    EXPECT_TRUE(rig.engine->isAuthorizing());
    rig.writer.hold = false;
    const auto before = writes(rig.writer, "rpm 0 3000");
    auto done = rig.writer.parked.front();
    rig.writer.parked.clear();
    done(std::nullopt);
    EXPECT_FALSE(rig.engine->isAuthorizing());
    EXPECT_EQ(writes(rig.writer, "rpm 0 3000"), before + 1); // the same state, written again

    Rig refused;
    refused.writer.outcome = SMCError::writeFailed("The administrator prompt was dismissed.");
    refused.engine->requestAuthorization();
    EXPECT_EQ(refused.engine->lastErrorMessage(),
              "Failed to write SMC key: The administrator prompt was dismissed.");
}

TEST(EngineLowPowerMode, SimulationHardwareAndFailure) {
    Rig simulated(0);
    simulated.engine->toggleLowPowerMode();
    EXPECT_TRUE(simulated.engine->batteryState().isLowPowerMode);
    EXPECT_EQ(simulated.writer.lowPowerCalls, 0);
    EXPECT_TRUE(simulated.sim->model().lowPowerMode);

    Rig failing;
    failing.writer.outcome = SMCError::writeFailed("no profile");
    failing.engine->setLowPowerMode(true);
    EXPECT_FALSE(failing.engine->batteryState().isLowPowerMode); // put back
    EXPECT_FALSE(failing.engine->isTogglingLowPowerMode());
    EXPECT_EQ(failing.engine->lastErrorMessage(), "Failed to write SMC key: no profile");

    Rig working;
    working.systemLowPower = true;
    working.engine->setLowPowerMode(true);
    EXPECT_TRUE(working.engine->batteryState().isLowPowerMode);
    working.powerState(false); // the system says otherwise later
    EXPECT_FALSE(working.engine->batteryState().isLowPowerMode);
}

TEST(EngineSimulationSwitch, LeavingHardwareHandsTheFansBack) {
    PipelineRig rig;
    rig.engine->toggleSimulationMode();
    EXPECT_EQ(rig.writer.restores, 1);
    EXPECT_TRUE(rig.engine->isSimulatedMode());
    EXPECT_EQ(rig.engine->privilegeStatus(), PrivilegedWriteMode::simulationOnly);
    EXPECT_TRUE(rig.engine->lastWrittenState().empty());
    rig.engine->toggleSimulationMode();
    EXPECT_FALSE(rig.engine->isSimulatedMode());
    EXPECT_EQ(rig.engine->privilegeStatus(), PrivilegedWriteMode::privilegedHelper);
}

TEST(EngineTermination, OnceAndOnlyWithFans) {
    Rig rig;
    rig.engine->handleTermination();
    rig.engine->handleTermination();
    EXPECT_EQ(rig.writer.syncRestores, 1);
    EXPECT_FALSE(rig.engine->isTelemetryActive());
    Rig fanless(0);
    fanless.engine->handleTermination();
    EXPECT_EQ(fanless.writer.syncRestores, 0);
}

TEST(FanWritePipeline, AFanAnotherProgramKeepsChangingIsLeftToItUntilAPresetIsChosen) {
    PipelineRig rig;
    // Each tick: the fan as the hardware now shows it, polled, then the rules evaluated.
    auto tick = [&](double mode, double target) {
        rig.set("F0Md", mode);
        rig.set("F0Tg", target);
        rig.clock += 4s;
        rig.engine->pollTelemetry(true);
        rig.engine->evaluatePresetRules(false);
    };
    tick(1, 3000); // our write took
    tick(0, 3000); // switched back by someone else: written again
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 1);
    tick(1, 3000);
    tick(1, 1500); // and changed again
    EXPECT_EQ(rig.engine->lastErrorMessage(),
              "Another program is also controlling Left Fan (CPU): it changed the fan twice after "
              "Ventoral set it. Ventoral has stopped writing it; choose a preset to take it back.");
    const auto said = rig.engine->lastErrorMessage();
    EXPECT_EQ(rig.contestedFans, std::vector<std::string>{*said}); // for the report to show
    const int fanOne = writes(rig.writer, "rpm 1");
    tick(0, 0);
    EXPECT_EQ(writes(rig.writer, "rpm 1"), fanOne + 1); // fan 1, not left to anyone, is written
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 1);          // left alone
    EXPECT_EQ(rig.engine->lastErrorMessage(), said);    // and still said, whatever else
    rig.engine->selectPreset(Selection::manualFixed());
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 2); // taken back
    EXPECT_EQ(rig.engine->lastErrorMessage(), std::nullopt);
    EXPECT_TRUE(rig.contestedFans.empty());
}

TEST(EnginePresets, AStoredDocumentThatCannotBeUsedIsTold) {
    Rig rig;
    EXPECT_EQ(rig.engine->lastErrorMessage(), std::nullopt);
    rig.store->makeUnusable(FanPresetManager::manualRPMKey, "is not a regular file");
    rig.engine->loadPresets();
    EXPECT_EQ(rig.engine->lastErrorMessage(),
              "Your saved manual fan speeds could not be used (is not a regular file). The file "
              "was kept as com.tesvane.manualRPM.v1.unusable-1; the defaults are used instead.");
}

} // namespace
} // namespace ventoral

namespace ventoral {
namespace {

using namespace testing;

TEST(FanCalibration, FollowedToItsEndWithItsFanLeftToIt) {
    Rig rig;
    rig.engine->selectPreset(Selection::builtin(BuiltinPresetType::max));
    rig.writer.calls.clear();

    rig.engine->calibrateFan(0);
    rig.engine->calibrateFan(1); // one at a time
    EXPECT_EQ(rig.writer.calls, std::vector<std::string>{"calibrate 0"});
    EXPECT_EQ(rig.engine->calibration(), (FanCalibrationStatus{0, true, 0, ""}));

    rig.writer.calibrationProgress(0.5, "duty 128: 900 RPM");
    EXPECT_EQ(rig.engine->calibration(), (FanCalibrationStatus{0, true, 0.5, "duty 128: 900 RPM"}));

    // The preset goes on for the other fan only.
    rig.writer.calls.clear();
    rig.engine->setManualRPM(0, 2500);
    rig.engine->setManualRPM(1, 2500);
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 0);
    EXPECT_GE(writes(rig.writer, "rpm 1"), 1);

    rig.writer.calibrationDone({true, "Fan 0: 400 to 1800 RPM"});
    EXPECT_EQ(rig.engine->calibration(),
              (FanCalibrationStatus{0, false, 1, "Fan 0: 400 to 1800 RPM", true}));
    EXPECT_EQ(writes(rig.writer, "rpm 0"), 1); // the fan is the preset's again
    EXPECT_FALSE(rig.engine->lastErrorMessage());

    rig.engine->calibrateFan(1);
    rig.writer.calibrationDone({false, "Fan 1: calibration stopped: the CPU reached 86 °C."});
    EXPECT_EQ(rig.engine->calibration().succeeded, false);
    EXPECT_EQ(rig.engine->lastErrorMessage(),
              std::optional<std::string>("Fan 1: calibration stopped: the CPU reached 86 °C."));
}

TEST(FanCalibration, NothingToMeasureWithoutFans) {
    Rig rig(0);
    rig.engine->calibrateFan(0);
    EXPECT_TRUE(rig.writer.calls.empty());
    EXPECT_EQ(rig.engine->calibration(), FanCalibrationStatus{});
}

} // namespace
} // namespace ventoral
