#pragma once

#include "core/common/DefaultsStore.h"

#include <cstddef>
#include <optional>
#include <string>

namespace ventoral {

// One file per key in a folder; each write lands whole or not at all. A key's file may be a
// link into the user's own files, and is then read and written through. Opening the store
// clears away temporary files that interrupted writes left.
class FileDefaultsStore final : public DefaultsStore {
public:
    static constexpr std::size_t maximumDocumentBytes = 1024 * 1024;

    explicit FileDefaultsStore(std::string folder);

    // $XDG_CONFIG_HOME/com.tesvane.VentoralController, or ~/.config/... when it is unset.
    static std::string userFolder();

    StoredValue read(std::string_view key) const override;
    bool setData(std::string_view key, std::string_view bytes) override;
    // Renamed to "<key>.unusable-<UTC date and time>"; a link is renamed, not what it points to.
    std::optional<std::string> setAside(std::string_view key) override;

    const std::string& folder() const { return folder_; }

private:
    // Where a key's document is, or why it is not to be followed there.
    struct Located {
        std::string path;
        std::optional<std::string> refusal;
    };
    Located locate(std::string_view key) const;
    void removeStaleTemporaries() const;

    std::string folder_;
};

// Keys become file names: letters, digits, '.', '_' and '-', not starting with '.'.
bool isValidDefaultsKey(std::string_view key);

} // namespace ventoral
