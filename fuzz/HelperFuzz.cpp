// The helper's command line (argument vectors from the input) and its bus methods with any
// arguments, writing to a fixture machine.
#include "fuzz/FuzzInput.h"
#include "helper/cli/HelperCommandLine.h"
#include "helper/daemon/HelperRequests.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "tests/support/SysfsFixture.h"

#include <sstream>

using namespace ventoral;

namespace {

testing::SysfsFixture& machine() {
    static testing::SysfsFixture* fixture = [] {
        auto* f = new testing::SysfsFixture;
        testing::nct6775Desktop(*f);
        return f;
    }();
    return *fixture;
}

std::unique_ptr<DirectSMCOperator> fixtureOperator() {
    const std::string root = machine().root();
    return std::make_unique<DirectSMCOperator>(
        std::make_unique<HwmonSmcTransport>(root, FanControlMemory::folderFor(root)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    if (in.boolean()) {
        static const char* const commands[] = {"ping",    "status",   "install",
                                               "set-rpm", "set-mode", "reset-auto",
                                               "set-lpm", "",         "PING"};
        std::vector<std::string> arguments;
        if (in.boolean()) {
            arguments.push_back(in.pick(commands));
        }
        for (int n = in.byte() % 4; n > 0; --n) {
            arguments.push_back(in.text(16));
        }
        std::ostringstream out, err;
        ThermalHold hold("");
        const uid_t euid = in.boolean() ? 0u : 1000u;
        HelperServices services{fixtureOperator,
                                [](bool) { return true; },
                                [] { return false; },
                                [](DirectSMCOperator&) { return 0; },
                                euid,
                                in.boolean() ? euid : 1000u,
                                hold,
                                [&in](const char*) { return in.boolean(); },
                                out,
                                err};
        int status = runHelperCommandLine(arguments, services);
        if (status < 0 || status > 2) {
            __builtin_trap();
        }
        return 0;
    }
    auto smc = fixtureOperator();
    FanCustody custody;
    ThermalHold hold("");
    std::ostringstream log;
    HelperRequests requests(
        *smc, [](bool) { return false; }, 0, custody, [] {}, hold,
        [](const std::string& sender, const char*) { return sender.size() % 2 == 0; }, log);
    for (int n = in.byte() % 6; n > 0; --n) {
        std::string sender = in.text(6);
        switch (in.byte() % 5) {
        case 0:
            (void)requests.ping();
            break;
        case 1:
            (void)requests.setFanRPM(in.raw<std::int64_t>() % 20, in.raw<double>(), sender);
            break;
        case 2:
            (void)requests.setFanMode(in.raw<std::int64_t>(), in.raw<std::int64_t>(), sender);
            break;
        case 3:
            (void)requests.resetAllFansToAuto();
            break;
        default:
            (void)requests.setLowPowerMode(in.boolean(), sender);
            break;
        }
        (void)custody.release(sender);
    }
    return 0;
}
