#include "platform/hwmon/HwmonSmcTransport.h"

#include "core/smc/SMCKeys.h"
#include "platform/power/PowerSupplies.h"
#include "platform/sysfs/SysfsFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

namespace ventoral {
namespace {

using SMCKey::FanField;

std::vector<std::uint8_t> floatBytes(double value) {
    auto le = littleEndianBytes(static_cast<float>(value));
    return {le.begin(), le.end()};
}

std::optional<double> scaled(const std::string& path, double divisor) {
    auto value = sysfs::readInteger(path);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<double>(*value) / divisor;
}

const HwmonTemperatureChannel* findTemperature(const HwmonInventory& inventory,
                                               std::initializer_list<const char*> chips,
                                               std::initializer_list<const char*> labels) {
    for (const char* label : labels) {
        for (const auto& t : inventory.temperatures) {
            bool chipMatches =
                std::any_of(chips.begin(), chips.end(), [&](const char* c) { return t.chip == c; });
            bool labelMatches = *label == '\0' ? true : t.label && *t.label == label;
            if (chipMatches && labelMatches) {
                return &t;
            }
        }
    }
    return nullptr;
}

} // namespace

HwmonSmcTransport::HwmonSmcTransport(std::string sysfsRoot, std::string stateFolder,
                                     RaplMeter::MonotonicClock clock, AttributeWriter writer,
                                     Sleeper sleep)
    : root_(std::move(sysfsRoot)), memory_(std::move(stateFolder)), clock_(std::move(clock)),
      write_(writer ? std::move(writer) : AttributeWriter(sysfs::write)),
      sleep_(sleep ? std::move(sleep) : Sleeper([](double seconds) {
          std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
      })),
      calibrations_(FanCalibrationStore::pathFor(root_)),
      temperatures_(std::make_shared<HwmonReadingMemo>()) {}

bool HwmonSmcTransport::open() {
    std::lock_guard guard(mutex_);
    if (rescanNeeded_) {
        buildUnlocked();
    }
    open_ = true;
    return true;
}

void HwmonSmcTransport::close() {
    std::lock_guard guard(mutex_);
    open_ = false;
}

bool HwmonSmcTransport::isOpen() const {
    std::lock_guard guard(mutex_);
    return open_;
}

std::vector<std::string> HwmonSmcTransport::unlistedFans() {
    std::lock_guard guard(mutex_);
    if (rescanNeeded_) {
        buildUnlocked();
    }
    return unlisted_;
}

std::vector<HwmonFanChannel> HwmonSmcTransport::fanChannels() const {
    std::lock_guard guard(mutex_);
    return fans_;
}

void HwmonSmcTransport::buildUnlocked() {
    keys_.clear();
    meters_.clear();
    HwmonInventory inventory = scanHwmon(root_);
    fans_ = inventory.fans;
    unlisted_.clear();
    for (std::size_t i = maxFans; i < fans_.size(); ++i) {
        unlisted_.push_back(fans_[i].chip + " fan " + std::to_string(fans_[i].number) + " (" +
                            fans_[i].id + "): only the first " + std::to_string(maxFans) +
                            " fans can be addressed");
    }
    if (fans_.size() > maxFans) {
        fans_.resize(maxFans);
    }
    const auto count = static_cast<std::uint8_t>(fans_.size());
    keys_[SMCKey::fanCount] = {
        SMCType::ui8, 1, [count] { return std::vector<std::uint8_t>{count}; }, {}, {}};
    calibrationStamp_ = calibrations_.stamp();
    const auto calibrations = calibrations_.load();
    steering_.clear();
    for (std::size_t i = 0; i < fans_.size(); ++i) {
        const auto onChip = std::count_if(
            inventory.fans.begin(), inventory.fans.end(), [&](const HwmonFanChannel& other) {
                return other.devicePath == fans_[i].devicePath && other.chip == fans_[i].chip;
            });
        HwmonFanSteering steering = hwmonFanSteering(fans_[i], calibrations);
        steering.info.index = static_cast<std::int64_t>(i);
        steering.info.name = hwmonFanName(fans_[i], static_cast<int>(onChip)).value_or("");
        addFanKeys(i, fans_[i], steering);
        steering_.push_back(std::move(steering));
    }
    addTemperatureKeys(inventory);
    addPowerKeys();
    rescanNeeded_ = false;
}

void HwmonSmcTransport::addFloatKey(const std::string& name, std::string source,
                                    std::function<std::optional<double>()> value) {
    keys_[name] = {
        SMCType::flt,
        4,
        [value = std::move(value), source]() -> std::optional<std::vector<std::uint8_t>> {
            auto v = value();
            if (!v && !source.empty() && !sysfs::exists(source)) {
                return std::nullopt;
            }
            return floatBytes(v.value_or(std::nan("")));
        },
        {},
        source};
}

void HwmonSmcTransport::addFanKeys(std::size_t index, const HwmonFanChannel& fan,
                                   const HwmonFanSteering& steering) {
    const auto key = [index](FanField field) {
        return SMCKey::fan(static_cast<std::int64_t>(index), field);
    };
    addFloatKey(key(FanField::actual), fan.input, [input = fan.input] { return scaled(input, 1); });
    // Limits nobody knows are absent, so readers fall back to the usual ones.
    if (auto minimum = steering.info.minimum) {
        addFloatKey(key(FanField::minimum), fan.input, [minimum] { return *minimum; });
    }
    if (auto maximum = steering.info.maximum) {
        addFloatKey(key(FanField::maximum), fan.input, [maximum] { return *maximum; });
    }
    if (!steering.info.name.empty()) {
        std::vector<std::uint8_t> name(steering.info.name.begin(), steering.info.name.end());
        name.resize(std::min<std::size_t>(name.size(), sizeof(SMCKeyData_t{}.bytes)));
        keys_[key(FanField::identification)] = {SMCType::text,
                                                static_cast<std::uint32_t>(name.size()),
                                                [name] { return std::optional(name); },
                                                {},
                                                fan.input};
    }

    // A fan switched through pwmN_enable is steered by its duty; a target file is then the
    // automatic controller's business (amdgpu refuses it), so speeds go to and come from pwm.
    const auto targetFile = hwmonTargetFile(fan);
    if (targetFile || fan.pwm) {
        addFloatKey(key(FanField::target), targetFile.value_or(fan.pwm.value_or("")),
                    [fan, targetFile, map = steering.duty]() -> std::optional<double> {
                        if (targetFile) {
                            return scaled(*targetFile, 1);
                        }
                        auto duty = sysfs::readInteger(*fan.pwm);
                        if (!duty || !map) {
                            return std::nullopt;
                        }
                        return map->speedFor(static_cast<int>(
                            std::clamp<std::int64_t>(*duty, 0, FanDutyMap::fullDuty)));
                    });
        keys_[key(FanField::target)].write = [this, fan,
                                              steering](std::span<const std::uint8_t> bytes) {
            return writeTarget(fan, steering, littleEndianFloat(bytes));
        };
    }

    const auto modeFile = hwmonModeFile(fan);
    auto writeMode = [this, fan](std::span<const std::uint8_t> bytes) {
        return this->writeMode(fan, bytes[0] != 0);
    };
    if (modeFile) {
        keys_[key(FanField::mode)] = {SMCType::ui8, 1,
                                      [modeFile]() -> std::optional<std::vector<std::uint8_t>> {
                                          auto value = sysfs::readInteger(*modeFile);
                                          if (!value) {
                                              return std::nullopt;
                                          }
                                          return std::vector<std::uint8_t>{
                                              static_cast<std::uint8_t>(*value == 1 ? 1 : 0)};
                                      },
                                      writeMode, *modeFile};
    } else if (targetFile || fan.pwm) {
        // Steered by its target or duty alone: manual while this program holds it.
        keys_[key(FanField::mode)] = {
            SMCType::ui8, 1,
            [this, id = fan.id]() -> std::optional<std::vector<std::uint8_t>> {
                return std::vector<std::uint8_t>{
                    static_cast<std::uint8_t>(memory_.recall(id) ? 1 : 0)};
            },
            writeMode, fan.input};
    }
}

void HwmonSmcTransport::addTemperatureKeys(const HwmonInventory& inventory) {
    auto addCelsius = [this](const char* key, const HwmonTemperatureChannel* channel) {
        if (channel) {
            addFloatKey(
                key, channel->input,
                [input = channel->input, readings = temperatures_]() -> std::optional<double> {
                    auto value = readings->readInteger(input);
                    if (!value) {
                        return std::nullopt;
                    }
                    return static_cast<double>(*value) / 1000;
                });
        }
    };
    const auto* cpu = findTemperature(inventory, {"coretemp", "k10temp", "zenpower", "cpu_thermal"},
                                      {"Package id 0", "Tdie", "Tctl", ""});
    addCelsius(SMCKey::cpuPackage, cpu);
    cpuPackageInput_ = cpu ? cpu->input : std::string();
    addCelsius(SMCKey::gpu,
               findTemperature(inventory, {"amdgpu", "radeon", "nouveau"}, {"edge", ""}));
    addCelsius(SMCKey::memory, findTemperature(inventory, {"jc42", "spd5118"}, {""}));
}

void HwmonSmcTransport::addPowerKeys() {
    auto package = std::make_shared<RaplMeter>(raplDomains(root_, "package-"), clock_);
    auto psys = std::make_shared<RaplMeter>(raplDomains(root_, "psys"), clock_);
    auto supplies = listPowerSupplies(root_);
    auto battery = systemBattery(supplies);

    if (package->isReadable()) {
        package->watts(); // the baseline, so the first real read has something to compare to
        addFloatKey(SMCKey::cpuPackagePower, {}, [package] { return package->watts(); });
        meters_.push_back(package);
    }
    if (psys->isReadable()) {
        psys->watts();
        addFloatKey(SMCKey::systemPower, {}, [psys] { return psys->watts(); });
        meters_.push_back(psys);
    } else if (battery) {
        addFloatKey(SMCKey::systemPower, battery->dir,
                    [b = *battery] { return batteryDischargeWatts(b); });
    }
    if (battery) {
        addFloatKey(SMCKey::batteryVoltage, battery->dir,
                    [b = *battery] { return batteryVolts(b); });
        addFloatKey(SMCKey::batteryCurrent, battery->dir,
                    [b = *battery] { return batteryAmps(b); });
        if (battery->integer("temp")) {
            addFloatKey(SMCKey::batteryTemperature, battery->dir,
                        [b = *battery] { return batteryTemperature(b); });
        }
    }
    auto sources = usbCSources(supplies);
    for (std::size_t p = 0; p < sources.size() && p < 4; ++p) {
        const int port = static_cast<int>(p + 1);
        const auto& source = sources[p];
        addFloatKey(SMCKey::portVoltage(port), source.dir, [source]() -> std::optional<double> {
            if (!source.isOnline()) {
                return std::nullopt;
            }
            return scaled(source.dir + "/voltage_now", 1e6);
        });
        addFloatKey(SMCKey::portCurrent(port), source.dir, [source]() -> std::optional<double> {
            if (!source.isOnline()) {
                return std::nullopt;
            }
            auto amps = scaled(source.dir + "/current_now", 1e6);
            return amps ? std::optional<double>(std::fabs(*amps)) : std::nullopt;
        });
    }
}

SmcTransport::Reply HwmonSmcTransport::call(const SMCRecordBytes& inputBytes) {
    std::lock_guard guard(mutex_);
    SMCKeyData_t input = fromBytes(inputBytes);
    SMCKeyData_t output = zeroRecord();
    output.key = input.key;
    if (!open_) {
        return {SMCReturn::notOpen, toBytes(output)};
    }
    if (rescanNeeded_) {
        buildUnlocked();
    }
    auto it = keys_.find(stringFromFourCharCode(input.key));
    if (it == keys_.end()) {
        output.result = keyNotFoundResult;
        return {SMCReturn::success, toBytes(output)};
    }
    const VirtualKey& key = it->second;
    switch (input.data8) {
    case SMCCommand::readKeyInfo:
        output.keyInfo.dataSize = key.size;
        output.keyInfo.dataType = fourCharCode(key.type);
        break;
    case SMCCommand::readBytes: {
        output.keyInfo = input.keyInfo;
        auto bytes = key.read();
        if (!bytes) {
            // A vanished file means the hardware changed: look again before the next call.
            if (!key.source.empty() && !sysfs::exists(key.source)) {
                rescanNeeded_ = true;
            }
            output.result = readFailedResult;
            break;
        }
        std::copy_n(bytes->begin(), std::min(bytes->size(), sizeof output.bytes), output.bytes);
        break;
    }
    case SMCCommand::writeBytes: {
        if (!key.write || input.keyInfo.dataSize != key.size) {
            output.result = badArgumentResult;
            break;
        }
        auto outcome = key.write(std::span<const std::uint8_t>(input.bytes, key.size));
        output.result = outcome.result;
        return {outcome.kernelReturn, toBytes(output)};
    }
    default:
        output.result = badArgumentResult;
        break;
    }
    return {SMCReturn::success, toBytes(output)};
}

} // namespace ventoral
