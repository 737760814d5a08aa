#pragma once

#include "core/power/PowerPlatform.h"
#include "platform/power/PowerSupplies.h"

#include <memory>
#include <string>

namespace ventoral {

// Power sources from <sysfs>/class/power_supply: one description per system battery, the
// adapter's rating where a supply reports it, and the battery's properties under the keys the
// parsers read, in their units (mAh, mV, mA, mW).
class SysfsPowerSourceProvider final : public PowerSourceProvider {
public:
    explicit SysfsPowerSourceProvider(std::string sysfsRoot,
                                      std::shared_ptr<PowerSupplySet> supplies = nullptr)
        : root_(std::move(sysfsRoot)),
          supplies_(supplies ? std::move(supplies) : std::make_shared<PowerSupplySet>(root_)) {}

    std::optional<std::vector<LooseDictionary>> powerSourceDescriptions() override;
    std::optional<LooseDictionary> externalAdapterDetails() override;
    LooseDictionary batteryRegistry() override;

private:
    std::string root_;
    std::shared_ptr<PowerSupplySet> supplies_;
};

// The external supplies (mains or USB, not a peripheral's) that are online now.
std::vector<PowerSupply> onlineExternalSupplies(const std::vector<PowerSupply>& supplies);
// A supply's rated power in whole watts from its maximum voltage and current; none when it
// does not report them.
std::optional<std::int64_t> ratedWatts(const PowerSupply& supply);

} // namespace ventoral
