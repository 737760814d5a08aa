#include "core/power/BatteryTelemetryParser.h"

#include "core/common/Format.h"
#include "core/common/Json.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ventoral::BatteryTelemetryParser {
namespace {

constexpr double int64Bound = 9223372036854775808.0; // 2^63

std::optional<double> numberOf(const LooseValue* value) {
    if (!value) {
        return std::nullopt;
    }
    if (const auto* i = value->integer()) {
        return static_cast<double>(*i);
    }
    if (const auto* d = value->floating()) {
        return *d;
    }
    return std::nullopt;
}

bool isServiceWord(const std::string& text) {
    return text == "Fair" || text == "Poor" || text == "Check Battery" || text == "Service Battery";
}

bool isNormalWord(const std::string& text) {
    return text == "Good" || text == "Normal";
}

// The capacities of one dictionary; none when it has neither a design nor a maximum.
std::optional<CapacityResult> capacities(const LooseDictionary& r) {
    namespace K = BatteryRegistryKey;
    auto design = milliampHours(member(r, K::designCapacity));
    std::optional<std::int64_t> maximum;
    for (const char* key :
         {K::appleRawMaxCapacity, K::fullChargeCapacity, K::nominalChargeCapacity}) {
        if ((maximum = milliampHours(member(r, key)))) {
            break;
        }
    }
    if (maximum) {
        return CapacityResult{design, maximum, healthPercent(maximum, design)};
    }
    if (design) {
        return CapacityResult{design, std::nullopt, std::nullopt};
    }
    return std::nullopt;
}

// A JSON leaf as a loose value, for the conversions; none for texts, objects and arrays.
std::optional<LooseValue> looseNumber(const Json& json) {
    if (json.is_boolean()) {
        return LooseValue(json.get<bool>());
    }
    if (json.is_number_unsigned()) {
        auto u = json.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX)) {
            return LooseValue(static_cast<double>(u));
        }
        return LooseValue(static_cast<std::int64_t>(u));
    }
    if (json.is_number_integer()) {
        return LooseValue(json.get<std::int64_t>());
    }
    if (json.is_number_float()) {
        return LooseValue(json.get<double>());
    }
    return std::nullopt;
}

} // namespace

std::optional<bool> boolValue(const LooseValue* value) {
    if (!value) {
        return std::nullopt;
    }
    std::optional<double> number = numberOf(value);
    if (const auto* b = value->boolean()) {
        number = *b ? 1.0 : 0.0;
    }
    if (number == 0.0) {
        return false;
    }
    if (number == 1.0) {
        return true;
    }
    return std::nullopt;
}

std::optional<std::int64_t> integerValue(const LooseValue* value) {
    if (!value) {
        return std::nullopt;
    }
    if (const auto* i = value->integer()) {
        return *i;
    }
    auto number = numberOf(value);
    if (!number || !std::isfinite(*number)) {
        return std::nullopt;
    }
    double rounded = roundHalfAway(*number);
    if (rounded < -int64Bound || rounded >= int64Bound) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(rounded);
}

std::optional<double> doubleValue(const LooseValue* value) {
    auto number = numberOf(value);
    if (!number || !std::isfinite(*number)) {
        return std::nullopt;
    }
    return number;
}

std::optional<std::int64_t> milliampHours(const LooseValue* value) {
    auto number = doubleValue(value);
    if (!number || std::trunc(*number) != *number || *number < 1000 || *number > 20000) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(*number);
}

std::optional<double> percent(std::string_view reported) {
    std::string_view text = trimWhitespace(reported);
    if (text.empty() || text.back() != '%') {
        return std::nullopt;
    }
    text = trimWhitespace(text.substr(0, text.size() - 1));
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value) || value < 1 || value > 100) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> healthPercent(std::optional<std::int64_t> maximumMAh,
                                    std::optional<std::int64_t> designMAh) {
    if (!maximumMAh || !designMAh || *designMAh <= 0) {
        return std::nullopt;
    }
    double x = static_cast<double>(*maximumMAh) / static_cast<double>(*designMAh) * 100;
    if (!std::isfinite(x) || x < 20 || x > 150 || *maximumMAh <= 0) {
        return std::nullopt;
    }
    return x;
}

BatteryChargeTimeState parseChargeTime(const LooseDictionary& d, bool isConnectedToPower) {
    namespace K = PowerSourceKey;
    if (boolValue(member(d, K::isPresent)) != true || !isConnectedToPower || d.empty()) {
        return BatteryChargeTimeState::unavailable();
    }
    const LooseValue* state = member(d, K::powerSourceState);
    if (!state || !state->text() || *state->text() != K::acPower) {
        return BatteryChargeTimeState::unavailable();
    }
    auto charging = boolValue(member(d, K::isCharging));
    auto charged = boolValue(member(d, K::isCharged));
    if (!charging || !charged) {
        return BatteryChargeTimeState::unavailable();
    }
    if (*charged) {
        return *charging ? BatteryChargeTimeState::unavailable()
                         : BatteryChargeTimeState::charged();
    }
    if (!*charging) {
        return BatteryChargeTimeState::paused();
    }
    auto minutes = integerValue(member(d, K::timeToFullCharge));
    if (!minutes) {
        return BatteryChargeTimeState::unavailable();
    }
    if (*minutes <= 0) {
        return BatteryChargeTimeState::calculating();
    }
    if (*minutes <= 10080) {
        return BatteryChargeTimeState::estimated(*minutes);
    }
    return BatteryChargeTimeState::unavailable();
}

CapacityResult parseCapacity(const LooseDictionary& registry) {
    if (const auto* nested = memberDictionary(registry, BatteryRegistryKey::batteryData)) {
        if (auto found = capacities(*nested)) {
            return *found;
        }
    }
    return capacities(registry).value_or(CapacityResult{});
}

std::optional<BatteryCondition> parseCondition(const LooseDictionary& registry) {
    namespace K = BatteryRegistryKey;
    std::vector<const LooseDictionary*> searched{&registry};
    if (const auto* nested = memberDictionary(registry, K::batteryData)) {
        searched.push_back(nested);
    }
    std::vector<std::string> texts;
    bool permanentFailure = false;
    for (const LooseDictionary* d : searched) {
        for (const char* key : {K::batteryHealth, K::batteryHealthCondition}) {
            const LooseValue* value = member(*d, key);
            if (value && value->text()) {
                texts.push_back(*value->text());
            }
        }
        auto failure = integerValue(member(*d, K::permanentFailureStatus));
        permanentFailure = permanentFailure || (failure && *failure > 0);
    }
    if (permanentFailure || std::any_of(texts.begin(), texts.end(), isServiceWord)) {
        return BatteryCondition::service;
    }
    if (std::any_of(texts.begin(), texts.end(), isNormalWord)) {
        return BatteryCondition::normal;
    }
    return std::nullopt;
}

SystemProfilerResult parseSystemProfiler(std::string_view jsonData) {
    Json document;
    try {
        document = json::parse(jsonData);
    } catch (const DecodingError&) {
        return {};
    }
    if (!document.is_object()) {
        return {};
    }
    auto items = document.find("SPPowerDataType");
    if (items == document.end() || !items->is_array() ||
        !std::all_of(items->begin(), items->end(), [](const Json& j) { return j.is_object(); })) {
        return {};
    }
    SystemProfilerResult result;
    for (const Json& item : *items) {
        auto health = item.find("sppower_battery_health_info");
        if (health == item.end() || !health->is_object()) {
            continue;
        }
        auto text = [&](const char* key) -> const std::string* {
            auto found = health->find(key);
            return found != health->end() && found->is_string()
                       ? found->get_ptr<const std::string*>()
                       : nullptr;
        };
        if (!result.condition) {
            if (const std::string* word = text("sppower_battery_health")) {
                if (isServiceWord(*word)) {
                    result.condition = BatteryCondition::service;
                } else if (isNormalWord(*word)) {
                    result.condition = BatteryCondition::normal;
                }
            }
        }
        if (!result.maximumCapacityPercent) {
            if (const std::string* reported = text("sppower_battery_health_maximum_capacity")) {
                result.maximumCapacityPercent = percent(*reported);
            }
        }
        if (!result.cycleCount) {
            auto cycles = health->find("sppower_battery_cycle_count");
            if (cycles != health->end()) {
                if (auto number = looseNumber(*cycles); number && !number->boolean()) {
                    result.cycleCount = integerValue(&*number);
                }
            }
        }
    }
    return result;
}

std::optional<USBPortsResult> resolveUSBPorts(const SMCPortOutputRails& portRails,
                                              const LooseDictionary& registry,
                                              const USBPortTopologySnapshot& topology) {
    namespace K = BatteryRegistryKey;
    std::vector<SMCPortRail> raw;
    if (portRails.isMeasured) {
        for (const SMCPortRail& rail : portRails.rails) {
            if (rail.watts >= usbChargingFloorWatts) {
                raw.push_back(rail);
            }
        }
    } else {
        const LooseValue* details = member(registry, K::powerOutDetails);
        const LooseValue::Array* entries = details ? details->array() : nullptr;
        if (!entries || entries->empty() ||
            !std::all_of(entries->begin(), entries->end(),
                         [](const LooseValue& v) { return v.dictionary() != nullptr; })) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < entries->size(); ++i) {
            const LooseDictionary& entry = *(*entries)[i].dictionary();
            auto milliwatts = doubleValue(member(entry, K::watts));
            if (!milliwatts) {
                continue;
            }
            double watts = *milliwatts / 1000;
            if (!std::isfinite(watts) || watts < usbChargingFloorWatts || watts > 150) {
                continue;
            }
            auto channel = integerValue(member(entry, K::portIndex))
                               .value_or(static_cast<std::int64_t>(i + 1));
            raw.push_back({channel, watts});
        }
    }

    USBPortsResult result;
    for (const SMCPortRail& port : raw) {
        if (topology.inputChannel && *topology.inputChannel == port.channel) {
            continue;
        }
        result.ports.push_back({port.channel, port.watts, topology.name(port.channel)});
        result.totalWatts += port.watts;
    }
    if (result.ports.empty() || !std::isfinite(result.totalWatts) || result.totalWatts > 300) {
        return std::nullopt;
    }
    return result;
}

} // namespace ventoral::BatteryTelemetryParser
