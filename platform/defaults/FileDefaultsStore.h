#pragma once

#include "core/common/DefaultsStore.h"

#include <string>

namespace ventoral {

// One file per key in a folder; each write lands whole or not at all.
class FileDefaultsStore final : public DefaultsStore {
public:
    explicit FileDefaultsStore(std::string folder);

    // $XDG_CONFIG_HOME/com.tesvane.VentoralController, or ~/.config/... when it is unset.
    static std::string userFolder();

    std::optional<std::string> data(std::string_view key) const override;
    bool setData(std::string_view key, std::string_view bytes) override;

    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

// Keys become file names: letters, digits, '.', '_' and '-', not starting with '.'.
bool isValidDefaultsKey(std::string_view key);

} // namespace ventoral
