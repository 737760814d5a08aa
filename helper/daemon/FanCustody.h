#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ventoral {

// Which bus client last put each fan under manual control, so that the fans of a client that
// is gone can be handed back.
class FanCustody {
public:
    void noteManual(std::int64_t fan, const std::string& client);
    void noteAutomatic(std::int64_t fan);
    void noteAllAutomatic();
    // The fans `client` held, now released from custody.
    std::vector<std::int64_t> release(const std::string& client);
    std::vector<std::int64_t> releaseAll();
    bool anyManual() const;
    bool holds(std::int64_t fan) const;

private:
    mutable std::mutex mutex_;
    std::map<std::int64_t, std::string> holders_;
};

// The root side's own guard for a frozen application: while a fan is manual, a CPU package
// temperature at or above the limit for the whole hold period asks for automatic control.
class ThermalBackstop {
public:
    static constexpr double limitCelsius = 95;
    static constexpr double holdSeconds = 10;

    // One look, at `nowSeconds` on a monotonic clock. True when it is time to hand back.
    bool sample(bool anyManual, std::optional<double> packageCelsius, double nowSeconds);

private:
    std::optional<double> hotSince_;
};

} // namespace ventoral
