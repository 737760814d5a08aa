#pragma once

#include "core/smc/SMCService.h"
#include "platform/hwmon/HwmonSmcTransport.h"
#include "platform/hwmon/HwmonThermalChannelSource.h"
#include "platform/sysfs/SysfsFiles.h"
#include "tests/support/ModelFan.h"
#include "tests/support/SysfsFixture.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ventoral::testing {

// The service over a fixture machine, as the application would build it. Fans given a model
// turn as their duty says while the clock moves.
struct Machine {
    SysfsFixture fixture;
    double now = 100.0;
    std::vector<std::string> writes;     // every attribute the transport wrote, in order
    std::map<std::string, int> refusals; // path suffix → errno
    // A model fan behind a channel: its pwm file (relative) and its input file.
    struct Modelled {
        std::string pwm, input;
        ModelFan fan;
    };
    std::vector<Modelled> models;
    std::function<void()> onEachWait; // what happens to the machine while time passes
    HwmonSmcTransport* transport = nullptr;
    std::unique_ptr<SMCService> service;

    explicit Machine(void (*build)(SysfsFixture&)) {
        build(fixture);
        open();
    }

    void model(const std::string& pwm, const std::string& input, ModelFan fan) {
        fan.now = now;
        fan.setDuty(static_cast<int>(sysfs::readInteger(fixture.root() + "/" + pwm).value_or(0)));
        fan.from = fan.to;
        models.push_back({pwm, input, fan});
        showSpeeds();
    }

    void showSpeeds() {
        for (auto& m : models) {
            m.fan.now = now;
            if (fixture.exists(m.input)) {
                fixture.write(m.input, std::to_string(static_cast<long>(m.fan.speed())));
            }
        }
    }

    HwmonSmcTransport::AttributeWriter writer() {
        return [this](const std::string& path, const std::string& text) {
            for (const auto& [suffix, error] : refusals) {
                if (path.size() >= suffix.size() &&
                    path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
                    return error;
                }
            }
            const std::string relative = path.substr(fixture.root().size());
            writes.push_back(relative + "=" + text);
            int error = sysfs::write(path, text);
            for (auto& m : models) {
                if (error == 0 &&
                    sysfs::resolve(path) == sysfs::resolve(fixture.root() + "/" + m.pwm)) {
                    m.fan.now = now;
                    m.fan.setDuty(std::stoi(text));
                }
            }
            return error;
        };
    }

    // A transport over the machine whose waits move its clock.
    std::unique_ptr<HwmonSmcTransport> makeTransport() {
        return std::make_unique<HwmonSmcTransport>(
            fixture.root(), FanControlMemory::folderFor(fixture.root()), [this] { return now; },
            writer(),
            [this](double seconds) {
                now += seconds;
                showSpeeds();
                if (onEachWait) {
                    onEachWait();
                }
            });
    }

    // A fresh process: a new transport and service over the same machine and state folder.
    void open() {
        auto owned = makeTransport();
        transport = owned.get();
        service = std::make_unique<SMCService>(
            std::move(owned), std::make_shared<HwmonThermalChannelSource>(fixture.root()));
    }
    SMCService* operator->() { return service.get(); }
};

} // namespace ventoral::testing
