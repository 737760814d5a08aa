#include "core/presets/FanPresetManager.h"

#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace ventoral {
namespace {

using M = FanPresetManager;

struct Store {
    std::shared_ptr<InMemoryDefaultsStore> defaults = std::make_shared<InMemoryDefaultsStore>();

    std::string stored(const char* key) const { return defaults->data(key).value_or("<absent>"); }
    int writes(const char* key) const { return defaults->writeCount(key); }
    M open() const { return M(defaults); }
};

std::vector<double> temperatures(const CustomCurvePreset& preset) {
    std::vector<double> out;
    for (const auto& p : preset.controlPoints) {
        out.push_back(p.temperature);
    }
    return out;
}

TEST(FanPresetManager, FirstLaunchSeedsAndWritesOnlyThePresetList) {
    Store store;
    M manager = store.open();
    auto presets = manager.customPresets();
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0].name, "Gaming Performance");
    EXPECT_EQ(presets[0].sensorBinding, TargetSensorBinding::gpuPeak);
    EXPECT_EQ(temperatures(presets[0]), (std::vector<double>{45, 65, 78, 88}));
    EXPECT_EQ(presets[0].controlPoints[1].rpmPercentage, 60);
    EXPECT_EQ(presets[1].name, "Studio Recording");
    EXPECT_EQ(presets[1].sensorBinding, TargetSensorBinding::cpuAverage);
    EXPECT_EQ(presets[1].controlPoints[3].rpmPercentage, 100);
    EXPECT_TRUE(presets[0].isLinked && presets[1].isLinked);
    EXPECT_NE(presets[0].id, presets[1].id);

    EXPECT_EQ(store.writes(M::userDefaultsKey), 1);
    EXPECT_EQ(customCurvePresetsFromJson(Json::parse(store.stored(M::userDefaultsKey))), presets);
    EXPECT_EQ(store.writes(M::activePresetKey), 0);
    EXPECT_EQ(store.writes(M::manualRPMKey), 0);
    EXPECT_EQ(store.writes(M::menuBarDisplayKey), 0);

    EXPECT_EQ(manager.activeSelection(),
              ActivePresetSelection::builtin(BuiltinPresetType::automatic));
    EXPECT_TRUE(manager.savedManualRPM().empty());
    EXPECT_EQ(manager.menuBarSettings(), MenuBarDisplaySettings{});
}

TEST(FanPresetManager, EachDocumentFallsBackOnItsOwn) {
    Store store;
    store.defaults->setData(M::userDefaultsKey, "[]");
    store.defaults->setData(M::manualRPMKey, R"({"0":2000,"1":1800.5})");
    store.defaults->setData(M::menuBarDisplayKey, R"({"trioBottomStyle":"stars"})");
    store.defaults->setData(M::activePresetKey, R"({"builtin":{"_0":"Turbo"}})");
    M manager = store.open();
    EXPECT_TRUE(manager.customPresets().empty()); // an empty list is not reseeded
    EXPECT_EQ(store.writes(M::userDefaultsKey), 1);
    EXPECT_EQ(manager.savedManualRPM(), (ManualRPMMap{{0, 2000}, {1, 1800.5f}}));
    EXPECT_EQ(manager.menuBarSettings(), MenuBarDisplaySettings{});
    EXPECT_EQ(manager.activeSelection(), ActivePresetSelection::builtin(BuiltinPresetType::turbo));
}

TEST(FanPresetManager, HostileDocumentsFallBackWithoutTouchingOthers) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    const std::string badUtf8 = "[{\"id\":\"x\",\"name\":\"\xff\xfe\"}]";
    const std::vector<std::string> hostile{"",
                                           "[{\"id\":",
                                           "{}",
                                           "null",
                                           "\"text\"",
                                           deep,
                                           badUtf8,
                                           "[1e999]",
                                           "{\"0\":1e999}",
                                           std::string("\x00\x01", 2),
                                           "[{\"id\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\"}]"};
    for (const auto& bytes : hostile) {
        Store store;
        for (const char* key :
             {M::userDefaultsKey, M::activePresetKey, M::manualRPMKey, M::menuBarDisplayKey}) {
            store.defaults->setData(key, bytes);
        }
        M manager = store.open();
        EXPECT_EQ(manager.customPresets().size(), 2u) << bytes.substr(0, 40);
        EXPECT_EQ(manager.activeSelection(),
                  ActivePresetSelection::builtin(BuiltinPresetType::automatic));
        EXPECT_TRUE(manager.savedManualRPM().empty());
        EXPECT_EQ(manager.menuBarSettings(), MenuBarDisplaySettings{});
        // No document is lost: one that decodes stays, one that does not is kept under a name
        // of its own before anything is written. Only the preset list is written anew.
        auto keptAside = [&](const char* key) {
            for (int n = 1; n <= 4; ++n) {
                if (store.defaults->data(std::string(key) + ".unusable-" + std::to_string(n)) ==
                    bytes) {
                    return true;
                }
            }
            return false;
        };
        EXPECT_TRUE(keptAside(M::userDefaultsKey)) << bytes.substr(0, 40);
        EXPECT_NE(store.stored(M::userDefaultsKey), bytes);
        std::size_t setAside = 1;
        for (const char* key : {M::manualRPMKey, M::menuBarDisplayKey, M::activePresetKey}) {
            const bool aside = keptAside(key);
            EXPECT_TRUE(aside || store.stored(key) == bytes) << key << " " << bytes.substr(0, 40);
            setAside += aside ? 1 : 0;
        }
        EXPECT_EQ(manager.takeLoadProblems().size(), setAside) << bytes.substr(0, 40);
    }
}

TEST(FanPresetManager, ADocumentThatCannotBeUsedIsKeptAndTheUserTold) {
    struct Case {
        const char* name;
        std::function<void(InMemoryDefaultsStore&)> prepare;
        std::vector<std::string> problems;
    };
    const Case cases[] = {
        {"unreadable",
         [](auto& s) { s.makeUnusable(M::userDefaultsKey, "cannot be read: Permission denied"); },
         {"Your saved custom presets could not be used (cannot be read: Permission denied). The "
          "file was kept as com.tesvane.customPresets.v1.unusable-1; the defaults are used "
          "instead."}},
        {"truncated",
         [](auto& s) { s.setData(M::manualRPMKey, R"({"0":)"); },
         {"Your saved manual fan speeds could not be used (malformed JSON: "}},
        {"absent", [](auto&) {}, {}},
    };
    for (const auto& c : cases) {
        Store store;
        c.prepare(*store.defaults);
        M manager = store.open();
        const auto problems = manager.takeLoadProblems();
        ASSERT_EQ(problems.size(), c.problems.size()) << c.name;
        for (std::size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].rfind(c.problems[i], 0), 0u) << problems[i];
        }
        EXPECT_TRUE(manager.takeLoadProblems().empty()) << c.name; // told once
        store.open();
        EXPECT_TRUE(store.open().takeLoadProblems().empty()) << c.name; // set aside once
    }

    // A document that cannot even be moved aside is left as it is, and nothing is written.
    class StuckStore final : public DefaultsStore {
    public:
        StoredValue read(std::string_view) const override {
            return {StoredValue::State::unusable, {}, "is not a regular file"};
        }
        bool setData(std::string_view, std::string_view) override {
            ++writes;
            return true;
        }
        std::optional<std::string> setAside(std::string_view) override { return std::nullopt; }
        int writes = 0;
    };
    auto stuck = std::make_shared<StuckStore>();
    M manager(stuck);
    EXPECT_EQ(manager.customPresets().size(), 2u); // in memory only
    EXPECT_EQ(stuck->writes, 0);
    EXPECT_EQ(manager.takeLoadProblems().front(),
              "Your saved custom presets could not be used (is not a regular file) and could not "
              "be moved aside; it is left untouched.");
}

TEST(FanPresetManager, ManualSpeedsDecodeRules) {
    struct Case {
        const char* text;
        ManualRPMMap expected;
    };
    const Case cases[] = {
        {R"({"0":2000,"1":1800.5})", {{0, 2000}, {1, 1800.5f}}},
        {R"({"+2":3000})", {{2, 3000}}},
        {R"({"-1":3000,"15":2500,"16":3000})", {{15, 2500}}}, // sixteen fans: 0 to 15
        {R"({"fan0":2000})", {}},
        {R"({"0":"2000"})", {}},
        {R"({"0":1e39})", {}},
        {R"({" 1":2000})", {}},
        {R"({"99999999999999999999":2000})", {}},
        {R"([2000])", {}},
    };
    for (const auto& c : cases) {
        Store store;
        store.defaults->setData(M::manualRPMKey, c.text);
        EXPECT_EQ(store.open().savedManualRPM(), c.expected) << c.text;
    }
}

TEST(FanPresetManager, SelectionNamingAMissingPresetLoadsAsAuto) {
    Store store;
    const std::string stored = R"({"custom":{"_0":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"}})";
    store.defaults->setData(M::activePresetKey, stored);
    M manager = store.open();
    EXPECT_EQ(manager.activeSelection(),
              ActivePresetSelection::builtin(BuiltinPresetType::automatic));
    EXPECT_EQ(store.stored(M::activePresetKey), stored);

    auto id = manager.customPresets()[1].id;
    store.defaults->setData(M::activePresetKey, toJson(ActivePresetSelection::custom(id)).dump());
    manager.loadPresets();
    EXPECT_EQ(manager.activeSelection(), ActivePresetSelection::custom(id));
}

TEST(FanPresetManager, SavePresetReplacesInPlaceOrAppendsAndSorts) {
    Store store;
    M manager = store.open();
    auto first = manager.customPresets()[0];
    first.name = "Renamed";
    first.controlPoints = {CurveControlPoint(Uuid::random(), 90, 100),
                           CurveControlPoint(Uuid::random(), 30, 10)};
    manager.savePreset(first);
    auto presets = manager.customPresets();
    ASSERT_EQ(presets.size(), 2u);
    EXPECT_EQ(presets[0].name, "Renamed");
    EXPECT_EQ(temperatures(presets[0]), (std::vector<double>{30, 90}));

    CustomCurvePreset added(Uuid::random(), "New", TargetSensorBinding::ane, {}, false);
    manager.savePreset(added);
    presets = manager.customPresets();
    ASSERT_EQ(presets.size(), 3u);
    EXPECT_EQ(presets[2], added);
    EXPECT_EQ(store.writes(M::userDefaultsKey), 3);
    EXPECT_EQ(customCurvePresetsFromJson(Json::parse(store.stored(M::userDefaultsKey))), presets);
}

TEST(FanPresetManager, DeletePresetResetsAnActiveSelectionNamingIt) {
    Store store;
    M manager = store.open();
    auto id = manager.customPresets()[0].id;
    manager.setActiveSelection(ActivePresetSelection::custom(id));
    manager.deletePreset(id);
    EXPECT_EQ(manager.customPresets().size(), 1u);
    EXPECT_EQ(manager.activeSelection(),
              ActivePresetSelection::builtin(BuiltinPresetType::automatic));
    EXPECT_EQ(store.stored(M::activePresetKey), R"j({"builtin":{"_0":"Auto (System)"}})j");

    int before = store.writes(M::userDefaultsKey);
    int selectionWrites = store.writes(M::activePresetKey);
    manager.deletePreset(Uuid::random()); // nothing removed: still written
    EXPECT_EQ(store.writes(M::userDefaultsKey), before + 1);
    EXPECT_EQ(store.writes(M::activePresetKey), selectionWrites);
}

TEST(FanPresetManager, WritesOnlyOnChange) {
    Store store;
    M manager = store.open();
    manager.setActiveSelection(ActivePresetSelection::builtin(BuiltinPresetType::automatic));
    EXPECT_EQ(store.writes(M::activePresetKey), 0);
    manager.setActiveSelection(ActivePresetSelection::manualFixed());
    manager.setActiveSelection(ActivePresetSelection::manualFixed());
    EXPECT_EQ(store.writes(M::activePresetKey), 1);
    EXPECT_EQ(store.stored(M::activePresetKey), R"({"manualFixed":{}})");

    manager.saveManualRPM({{0, 2000}, {1, std::numeric_limits<float>::quiet_NaN()}});
    EXPECT_EQ(store.stored(M::manualRPMKey), R"({"0":2000})");
    manager.saveManualRPM({{0, 2000}, {2, std::numeric_limits<float>::infinity()}});
    EXPECT_EQ(store.writes(M::manualRPMKey), 1);

    manager.saveMenuBarSettings(MenuBarDisplaySettings{});
    EXPECT_EQ(store.writes(M::menuBarDisplayKey), 0);
}

TEST(FanPresetManager, MenuBarSettingsAreSanitizedOnSaveAndLoad) {
    Store store;
    MenuBarDisplaySettings hidden;
    hidden.showIcon = false;
    hidden.showPercentage = false;
    hidden.showCPUTemp = false;
    M manager = store.open();
    manager.saveMenuBarSettings(hidden);
    EXPECT_TRUE(manager.menuBarSettings().showIcon);
    EXPECT_TRUE(
        menuBarDisplaySettingsFromJson(Json::parse(store.stored(M::menuBarDisplayKey))).showIcon);

    store.defaults->setData(M::menuBarDisplayKey, toJson(hidden).dump());
    manager.loadPresets();
    EXPECT_TRUE(manager.menuBarSettings().showIcon);
    EXPECT_EQ(store.stored(M::menuBarDisplayKey), toJson(hidden).dump()); // repaired in memory only
}

TEST(FanPresetManager, EvaluateUsesTheStoredStateUnlessGiven) {
    Store store;
    M manager = store.open();
    FanInfo fan{3, "Fan", 0, 1200, 6000, 2000, FanMode::automatic, false};
    TelemetrySnapshot snapshot;
    EXPECT_EQ(manager.evaluateTargetRPM(fan, snapshot).mode, FanMode::automatic);
    manager.saveManualRPM({{3, 4000}});
    manager.setActiveSelection(ActivePresetSelection::manualFixed());
    EXPECT_EQ(manager.evaluateTargetRPM(fan, snapshot), (TargetEvaluation{4000, FanMode::manual}));
    EXPECT_EQ(manager.evaluateTargetRPM(fan, snapshot, 5000.0f),
              (TargetEvaluation{5000, FanMode::manual}));
    EXPECT_EQ(manager.evaluateTargetRPM(fan, snapshot, std::nullopt,
                                        ActivePresetSelection::builtin(BuiltinPresetType::max)),
              (TargetEvaluation{6000, FanMode::manual}));
}

TEST(FanPresetManager, ConcurrentSavesLeaveAConsistentStore) {
    Store store;
    M manager = store.open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                manager.savePreset(CustomCurvePreset(
                    Uuid::random(), "T" + std::to_string(t), TargetSensorBinding::cpuAverage,
                    {CurveControlPoint(Uuid::random(), 50, i)}, false));
                manager.saveManualRPM({{t, static_cast<float>(1000 + i)}});
                FanInfo fan{t, "F", 0, 1000, 5000, 0, FanMode::automatic, false};
                (void)manager.evaluateTargetRPM(fan, TelemetrySnapshot{});
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(manager.customPresets().size(), 2u + 200u);
    M reopened = store.open();
    EXPECT_EQ(reopened.customPresets(), manager.customPresets());
    EXPECT_EQ(reopened.savedManualRPM(), manager.savedManualRPM());
}

TEST(FanPresetManager, AFailedStoreWriteLeavesMemoryChangedAndDoesNotThrow) {
    class RefusingStore final : public DefaultsStore {
    public:
        StoredValue read(std::string_view) const override { return {}; }
        bool setData(std::string_view, std::string_view) override { return false; }
        std::optional<std::string> setAside(std::string_view) override { return std::nullopt; }
    };
    M manager(std::make_shared<RefusingStore>());
    EXPECT_EQ(manager.customPresets().size(), 2u);
    manager.setActiveSelection(ActivePresetSelection::manualFixed());
    EXPECT_EQ(manager.activeSelection(), ActivePresetSelection::manualFixed());
}

TEST(FanPresetManager, AnUnencodablePresetKeepsTheStoredList) {
    Store store;
    M manager = store.open();
    const std::string before = store.stored(M::userDefaultsKey);
    auto preset = manager.customPresets()[0];
    preset.controlPoints[0].temperature = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NO_THROW(manager.savePreset(preset));
    preset.name = "\xff";
    EXPECT_NO_THROW(manager.savePreset(preset));
    EXPECT_EQ(store.stored(M::userDefaultsKey), before);
}

} // namespace
} // namespace ventoral
