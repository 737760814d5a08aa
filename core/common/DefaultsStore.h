#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

// One value as the store found it: absent, present, or there but not usable (unreadable, not
// a plain file, too large) and then with why.
struct StoredValue {
    enum class State { absent, present, unusable };
    State state = State::absent;
    std::string bytes;
    std::string reason;
    friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

// The user's defaults database: one byte-exact value per key.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    virtual StoredValue read(std::string_view key) const = 0;
    // The value's bytes when it is present.
    std::optional<std::string> data(std::string_view key) const;
    // False when the value could not be stored; the old value then stays.
    virtual bool setData(std::string_view key, std::string_view bytes) = 0;
    // Keeps a value that cannot be used under a name of its own, out of the way of new writes;
    // that name, or nothing when it could not be moved.
    virtual std::optional<std::string> setAside(std::string_view key) = 0;
};

class InMemoryDefaultsStore final : public DefaultsStore {
public:
    StoredValue read(std::string_view key) const override;
    bool setData(std::string_view key, std::string_view bytes) override;
    std::optional<std::string> setAside(std::string_view key) override;

    // A value the store finds but cannot use, until it is written or set aside.
    void makeUnusable(std::string_view key, std::string reason);

    // How many writes reached the store, so tests can tell a write from none.
    int writeCount(std::string_view key) const;
    void remove(std::string_view key);

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> values_;
    std::map<std::string, int, std::less<>> writes_;
    std::map<std::string, std::string, std::less<>> unusable_;
    int setAsideCount_ = 0;
};

} // namespace ventoral
