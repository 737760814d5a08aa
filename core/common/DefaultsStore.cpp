#include "core/common/DefaultsStore.h"

namespace ventoral {

std::optional<std::string> DefaultsStore::data(std::string_view key) const {
    StoredValue value = read(key);
    if (value.state != StoredValue::State::present) {
        return std::nullopt;
    }
    return std::move(value.bytes);
}

StoredValue InMemoryDefaultsStore::read(std::string_view key) const {
    std::lock_guard guard(mutex_);
    if (auto bad = unusable_.find(key); bad != unusable_.end()) {
        return {StoredValue::State::unusable, {}, bad->second};
    }
    auto it = values_.find(key);
    if (it == values_.end()) {
        return {};
    }
    return {StoredValue::State::present, it->second, {}};
}

bool InMemoryDefaultsStore::setData(std::string_view key, std::string_view bytes) {
    std::lock_guard guard(mutex_);
    if (auto bad = unusable_.find(key); bad != unusable_.end()) {
        unusable_.erase(bad);
    }
    values_.insert_or_assign(std::string(key), std::string(bytes));
    ++writes_[std::string(key)];
    return true;
}

std::optional<std::string> InMemoryDefaultsStore::setAside(std::string_view key) {
    std::lock_guard guard(mutex_);
    const std::string name = std::string(key) + ".unusable-" + std::to_string(++setAsideCount_);
    if (auto bad = unusable_.find(key); bad != unusable_.end()) {
        unusable_.erase(bad);
        values_.insert_or_assign(name, std::string());
        return name;
    }
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    values_.insert_or_assign(name, it->second);
    values_.erase(values_.find(key));
    return name;
}

void InMemoryDefaultsStore::makeUnusable(std::string_view key, std::string reason) {
    std::lock_guard guard(mutex_);
    unusable_.insert_or_assign(std::string(key), std::move(reason));
}

int InMemoryDefaultsStore::writeCount(std::string_view key) const {
    std::lock_guard guard(mutex_);
    auto it = writes_.find(key);
    return it == writes_.end() ? 0 : it->second;
}

void InMemoryDefaultsStore::remove(std::string_view key) {
    std::lock_guard guard(mutex_);
    if (auto it = values_.find(key); it != values_.end()) {
        values_.erase(it);
    }
}

} // namespace ventoral
