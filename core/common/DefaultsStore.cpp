#include "core/common/DefaultsStore.h"

namespace ventoral {

std::optional<std::string> InMemoryDefaultsStore::data(std::string_view key) const {
    std::lock_guard guard(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool InMemoryDefaultsStore::setData(std::string_view key, std::string_view bytes) {
    std::lock_guard guard(mutex_);
    values_.insert_or_assign(std::string(key), std::string(bytes));
    ++writes_[std::string(key)];
    return true;
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
