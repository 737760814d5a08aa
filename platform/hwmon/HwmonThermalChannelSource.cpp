#include "platform/hwmon/HwmonThermalChannelSource.h"

#include "platform/hwmon/HwmonInventory.h"
#include "platform/sysfs/SysfsFiles.h"

namespace ventoral {
namespace {

class HwmonThermalChannel final : public ThermalChannel {
public:
    HwmonThermalChannel(std::string product, std::string input,
                        std::shared_ptr<HwmonReadingMemo> readings)
        : product_(std::move(product)), input_(std::move(input)), readings_(std::move(readings)) {}

    std::optional<std::string> product() const override { return product_; }

    std::optional<double> currentTemperature() override {
        auto millidegrees = readings_ ? readings_->readInteger(input_) : sysfs::readInteger(input_);
        if (!millidegrees) {
            return std::nullopt;
        }
        return static_cast<double>(*millidegrees) / 1000.0;
    }

private:
    std::string product_;
    std::string input_;
    std::shared_ptr<HwmonReadingMemo> readings_;
};

} // namespace

HwmonThermalChannelSource::HwmonThermalChannelSource(std::string sysfsRoot,
                                                     std::shared_ptr<HwmonReadingMemo> readings)
    : root_(std::move(sysfsRoot)), readings_(std::move(readings)) {}

std::vector<std::shared_ptr<ThermalChannel>> HwmonThermalChannelSource::copyServices() {
    std::vector<std::shared_ptr<ThermalChannel>> channels;
    for (const auto& t : scanHwmon(root_).temperatures) {
        channels.push_back(std::make_shared<HwmonThermalChannel>(t.product(), t.input, readings_));
    }
    return channels;
}

void HwmonThermalChannelSource::beginPass() {
    if (readings_) {
        readings_->beginPass();
    }
}

void HwmonThermalChannelSource::endPass() {
    if (readings_) {
        readings_->endPass();
    }
}

} // namespace ventoral
