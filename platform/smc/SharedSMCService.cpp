// The shared service picks this process's transport: the emulated controller when a machine
// profile is named, otherwise the machine's own.
#include "core/smc/SMCService.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/hwmon/HwmonThermalChannelSource.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "platform/system/ProcessEnvironment.h"

#include <unistd.h>

namespace ventoral {
namespace {

std::unique_ptr<SmcTransport> processTransport() {
    if (auto profile = testSetting(EnvironmentSetting::smcProfile)) {
        try {
            return EmulatedSmcTransport::fromProfileFile(*profile, geteuid() == 0);
        } catch (const DecodingError&) {
            // A broken profile is an emulated machine with no keys at all.
            return std::make_unique<EmulatedSmcTransport>();
        }
    }
    const std::string root = sysfsRoot();
    return std::make_unique<HwmonSmcTransport>(root, FanControlMemory::folderFor(root));
}

std::shared_ptr<ThermalChannelSource> processThermalChannels() {
    if (testSetting(EnvironmentSetting::smcProfile)) {
        return nullptr; // an emulated machine has only its profile's keys
    }
    return std::make_shared<HwmonThermalChannelSource>(sysfsRoot());
}

} // namespace

SMCService& SMCService::shared() {
    static SMCService instance(processTransport(), processThermalChannels());
    return instance;
}

} // namespace ventoral
