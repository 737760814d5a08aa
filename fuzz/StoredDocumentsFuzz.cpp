// The four stored documents, read through the store's own loading.
#include "core/common/DefaultsStore.h"
#include "core/presets/FanPresetManager.h"
#include "fuzz/FuzzInput.h"

#include <memory>

using namespace ventoral;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    static const char* const keys[] = {
        FanPresetManager::userDefaultsKey, FanPresetManager::activePresetKey,
        FanPresetManager::manualRPMKey, FanPresetManager::menuBarDisplayKey};
    const char* key = input.pick(keys);
    auto store = std::make_shared<InMemoryDefaultsStore>();
    store->setData(key, input.rest());
    FanPresetManager manager(store);

    // Whatever was read must be usable: evaluate, save and read back.
    FanInfo fan;
    fan.minRPM = 1200;
    fan.maxRPM = 5000;
    TelemetrySnapshot snapshot;
    (void)manager.evaluateTargetRPM(fan, snapshot);
    for (const auto& preset : manager.customPresets()) {
        (void)preset.targetPercentage(55);
        manager.savePreset(preset);
    }
    manager.saveMenuBarSettings(manager.menuBarSettings());
    manager.saveManualRPM(manager.savedManualRPM());
    manager.setActiveSelection(manager.activeSelection());
    FanPresetManager again(store);
    return 0;
}
