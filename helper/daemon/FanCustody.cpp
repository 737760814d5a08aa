#include "helper/daemon/FanCustody.h"

#include <cmath>

namespace ventoral {

void FanCustody::noteManual(std::int64_t fan, const std::string& client) {
    std::lock_guard guard(mutex_);
    holders_[fan] = client;
}

void FanCustody::noteAutomatic(std::int64_t fan) {
    std::lock_guard guard(mutex_);
    holders_.erase(fan);
}

void FanCustody::noteAllAutomatic() {
    std::lock_guard guard(mutex_);
    holders_.clear();
}

std::vector<std::int64_t> FanCustody::release(const std::string& client) {
    std::lock_guard guard(mutex_);
    std::vector<std::int64_t> fans;
    for (auto it = holders_.begin(); it != holders_.end();) {
        if (it->second == client) {
            fans.push_back(it->first);
            it = holders_.erase(it);
        } else {
            ++it;
        }
    }
    return fans;
}

std::vector<std::int64_t> FanCustody::releaseAll() {
    std::lock_guard guard(mutex_);
    std::vector<std::int64_t> fans;
    for (const auto& [fan, client] : holders_) {
        fans.push_back(fan);
    }
    holders_.clear();
    return fans;
}

bool FanCustody::holds(std::int64_t fan) const {
    std::lock_guard guard(mutex_);
    return holders_.contains(fan);
}

bool FanCustody::anyManual() const {
    std::lock_guard guard(mutex_);
    return !holders_.empty();
}

bool ThermalBackstop::sample(bool anyManual, std::optional<double> packageCelsius,
                             double nowSeconds) {
    // An unreadable or implausible reading does not count as hot, nor end a hot stretch.
    if (!anyManual ||
        (packageCelsius && std::isfinite(*packageCelsius) && *packageCelsius < limitCelsius)) {
        hotSince_.reset();
        return false;
    }
    if (!packageCelsius || !std::isfinite(*packageCelsius) || *packageCelsius > 150) {
        return false;
    }
    if (!hotSince_) {
        hotSince_ = nowSeconds;
    }
    if (nowSeconds - *hotSince_ >= holdSeconds) {
        hotSince_.reset();
        return true;
    }
    return false;
}

} // namespace ventoral
