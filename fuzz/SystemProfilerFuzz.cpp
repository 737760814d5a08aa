// The power report, as raw bytes.
#include "core/power/BatteryTelemetryParser.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto result = ventoral::BatteryTelemetryParser::parseSystemProfiler(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (result.maximumCapacityPercent &&
        (*result.maximumCapacityPercent < 1 || *result.maximumCapacityPercent > 100)) {
        __builtin_trap(); // the parser promises 1...100
    }
    return 0;
}
