#pragma once

#include "core/smc/SMCService.h"
#include "platform/smc/EmulatedSmcTransport.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ventoral::testing {

using Key = EmulatedSmcTransport::Key;
using Bytes = std::vector<std::uint8_t>;

inline Key number(const std::string& type, double value, bool writable = false) {
    return {type,
            EmulatedSmcTransport::encodeNumber(value, type,
                                               type == "flt "   ? 4
                                               : type == "ui8 " ? 1
                                                                : 2),
            writable, true};
}

inline Key raw(const std::string& type, Bytes bytes, bool writable = false) {
    return {type, std::move(bytes), writable, true};
}

inline const TimePoint fixedNow = TimePoint{} + std::chrono::hours(1000);

// A service over an emulated controller whose key table the test fills.
struct Machine {
    EmulatedSmcTransport* smc;
    std::unique_ptr<SMCService> service;

    explicit Machine(std::map<std::string, Key> keys, bool root = true,
                     std::shared_ptr<ThermalChannelSource> hid = nullptr) {
        auto transport = std::make_unique<EmulatedSmcTransport>(std::move(keys), root);
        smc = transport.get();
        service = std::make_unique<SMCService>(std::move(transport), std::move(hid),
                                               [] { return fixedNow; });
    }
    SMCService* operator->() { return service.get(); }
};

inline std::string profilePath(const char* name) {
    return std::string(VENTORAL_SOURCE_DIR) + "/platform/smc/profiles/" + name;
}

} // namespace ventoral::testing
