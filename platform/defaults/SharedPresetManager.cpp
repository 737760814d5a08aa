// The shared preset store lives here because it is backed by the user's own defaults folder.
#include "core/presets/FanPresetManager.h"
#include "platform/defaults/FileDefaultsStore.h"

namespace ventoral {

FanPresetManager& FanPresetManager::shared() {
    static FanPresetManager instance(
        std::make_shared<FileDefaultsStore>(FileDefaultsStore::userFolder()));
    return instance;
}

} // namespace ventoral
