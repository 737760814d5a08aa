#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

// The user's defaults database: one byte-exact value per key.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    virtual std::optional<std::string> data(std::string_view key) const = 0;
    // False when the value could not be stored; the old value then stays.
    virtual bool setData(std::string_view key, std::string_view bytes) = 0;
};

class InMemoryDefaultsStore final : public DefaultsStore {
public:
    std::optional<std::string> data(std::string_view key) const override;
    bool setData(std::string_view key, std::string_view bytes) override;

    // How many writes reached the store, so tests can tell a write from none.
    int writeCount(std::string_view key) const;
    void remove(std::string_view key);

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> values_;
    std::map<std::string, int, std::less<>> writes_;
};

} // namespace ventoral
