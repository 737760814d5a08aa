// The shared service picks this process's transport: the emulated controller when a machine
// profile is named, otherwise the machine's own.
#include "core/smc/SMCService.h"
#include "platform/smc/EmulatedSmcTransport.h"
#include "platform/system/ProcessEnvironment.h"

#include <unistd.h>

namespace ventoral {
namespace {

// Stands in where this machine offers no controller: every call reports it as not open.
class AbsentSmcTransport final : public SmcTransport {
public:
    bool open() override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    Reply call(const SMCRecordBytes&) override { return {SMCReturn::notOpen, {}}; }
};

std::unique_ptr<SmcTransport> processTransport() {
    if (auto profile = testSetting(EnvironmentSetting::smcProfile)) {
        try {
            return EmulatedSmcTransport::fromProfileFile(*profile, geteuid() == 0);
        } catch (const DecodingError&) {
            // A broken profile is a machine without a controller.
        }
    }
    return std::make_unique<AbsentSmcTransport>();
}

} // namespace

SMCService& SMCService::shared() {
    static SMCService instance(processTransport());
    return instance;
}

} // namespace ventoral
