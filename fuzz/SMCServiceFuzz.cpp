// The controller service over a controller whose every reply is the fuzz input: key
// information of any size and type, any result byte, any bytes.
#include "core/smc/SMCError.h"
#include "core/smc/SMCService.h"
#include "fuzz/FuzzInput.h"
#include "helper/operator/DirectSMCOperator.h"

using namespace ventoral;

namespace {

class FuzzTransport final : public SmcTransport {
public:
    explicit FuzzTransport(fuzz::FuzzInput& in) : in_(in) {}
    bool open() override { return opened_ = !in_.empty() || opened_; }
    void close() override { opened_ = false; }
    bool isOpen() const override { return opened_; }
    Reply call(const SMCRecordBytes&) override {
        Reply reply;
        static const std::int32_t codes[] = {SMCReturn::success,
                                             SMCReturn::success,
                                             SMCReturn::success,
                                             SMCReturn::notPrivileged,
                                             SMCReturn::notOpen,
                                             SMCReturn::notPermitted,
                                             -1};
        reply.kernelReturn = in_.pick(codes);
        auto bytes = in_.bytes(reply.output.size());
        std::copy(bytes.begin(), bytes.end(), reply.output.begin());
        return reply;
    }

private:
    fuzz::FuzzInput& in_;
    bool opened_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const bool helperSide = in.boolean();
    if (helperSide) {
        DirectSMCOperator smc(std::make_unique<FuzzTransport>(in));
        (void)smc.readFanCount();
        (void)smc.setFanRPM(in.byte() % 17, in.raw<float>());
        (void)smc.setFanMode(in.byte() % 17, in.byte() % 3);
        (void)smc.resetAllFansToAuto();
        return 0;
    }
    SMCService smc(std::make_unique<FuzzTransport>(in), nullptr, [] { return TimePoint{}; });
    fuzz::allowing<SMCError>([&] { (void)smc.readFans(); });
    fuzz::allowing<SMCError>([&] { (void)smc.readSnapshot(true, in.boolean()); });
    fuzz::allowing<SMCError>([&] { (void)smc.readPowerAndBatterySensors(); });
    fuzz::allowing<SMCError>([&] {
        smc.writeFanMode(in.byte() % 4, in.boolean() ? FanMode::manual : FanMode::automatic);
    });
    fuzz::allowing<SMCError>([&] { smc.writeFanTargetRPM(in.byte() % 4, in.raw<float>()); });
    fuzz::allowing<SMCError>([&] {
        std::lock_guard guard(smc.lock());
        (void)smc.decodePowerScalarUnlocked("PSTR");
    });
    fuzz::allowing<SMCError>([&] { (void)smc.readFans(); });
    return 0;
}
