#include "platform/hwmon/HwmonThermalChannelSource.h"

#include "platform/hwmon/HwmonInventory.h"
#include "platform/sysfs/SysfsFiles.h"

namespace ventoral {
namespace {

class HwmonThermalChannel final : public ThermalChannel {
public:
    HwmonThermalChannel(std::string product, std::string input)
        : product_(std::move(product)), input_(std::move(input)) {}

    std::optional<std::string> product() const override { return product_; }

    std::optional<double> currentTemperature() override {
        auto millidegrees = sysfs::readInteger(input_);
        if (!millidegrees) {
            return std::nullopt;
        }
        return static_cast<double>(*millidegrees) / 1000.0;
    }

private:
    std::string product_;
    std::string input_;
};

} // namespace

HwmonThermalChannelSource::HwmonThermalChannelSource(std::string sysfsRoot)
    : root_(std::move(sysfsRoot)) {}

std::vector<std::shared_ptr<ThermalChannel>> HwmonThermalChannelSource::copyServices() {
    std::vector<std::shared_ptr<ThermalChannel>> channels;
    for (const auto& t : scanHwmon(root_).temperatures) {
        channels.push_back(std::make_shared<HwmonThermalChannel>(t.product(), t.input));
    }
    return channels;
}

} // namespace ventoral
