// The shared service picks this process's transport: the emulated controller when a machine
// profile is named, otherwise the machine's own.
#include "platform/smc/SharedSMCService.h"

#include "core/smc/SMCService.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/hwmon/HwmonThermalChannelSource.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "platform/system/ProcessEnvironment.h"

#include <unistd.h>

namespace ventoral {

std::unique_ptr<SMCService> makeProcessSMCService() {
    if (auto profile = testSetting(EnvironmentSetting::smcProfile)) {
        std::unique_ptr<SmcTransport> emulated;
        try {
            emulated = EmulatedSmcTransport::fromProfileFile(*profile, geteuid() == 0);
        } catch (const DecodingError&) {
            // A broken profile is an emulated machine with no keys at all.
            emulated = std::make_unique<EmulatedSmcTransport>();
        }
        // An emulated machine has only its profile's keys.
        return std::make_unique<SMCService>(std::move(emulated));
    }
    const std::string root = sysfsRoot();
    auto transport = std::make_unique<HwmonSmcTransport>(root, FanControlMemory::folderFor(root));
    auto channels =
        std::make_shared<HwmonThermalChannelSource>(root, transport->temperatureReadings());
    return std::make_unique<SMCService>(std::move(transport), std::move(channels));
}

SMCService& SMCService::shared() {
    static std::unique_ptr<SMCService> instance = makeProcessSMCService();
    return *instance;
}

} // namespace ventoral
