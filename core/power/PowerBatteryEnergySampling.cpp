// Which applications use the most energy, sampled from the process table at most every few
// seconds.
#include "core/common/Format.h"
#include "core/power/PowerBatteryService.h"

#include <algorithm>
#include <cmath>

namespace ventoral {
namespace {

using Seconds = std::chrono::duration<double>;

constexpr double energySampleInterval = 3.5;
constexpr std::size_t maximumProcessIds = 8128;
constexpr std::size_t processIdSlack = 64;
constexpr std::size_t ownerCacheSlack = 64;
constexpr std::size_t topAppsLimit = 5;

// The application that owns an executable: the outermost bundle holding it (the first in list
// order on a tie). A bundle that is a program file owns exactly that file.
std::optional<RunningApplication> ownerOf(const std::string& path,
                                          const std::vector<RunningApplication>& apps) {
    const RunningApplication* best = nullptr;
    for (const RunningApplication& app : apps) {
        bool inside = path == app.id || path.rfind(app.id + "/", 0) == 0;
        if (inside && (!best || app.id.size() < best->id.size())) {
            best = &app;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

} // namespace

void PowerBatteryService::triggerAppEnergySampleIfNeeded(std::function<void()> onComplete) {
    const double t = platform_.systemUptime ? platform_.systemUptime() : 0;
    {
        std::lock_guard guard(lock_);
        if (isSamplingApps_ ||
            (t - lastEnergySampleTime_ < energySampleInterval && !lastProcessSamples_.empty())) {
            return;
        }
        isSamplingApps_ = true;
    }
    std::vector<RunningApplication> apps =
        platform_.applications ? platform_.applications->list() : std::vector<RunningApplication>{};
    std::weak_ptr<PowerBatteryService> weak = weak_from_this();
    backgroundQueue_.async([weak, apps = std::move(apps), onComplete = std::move(onComplete)] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        bool changed = self->sampleProcessEnergy(apps);
        {
            std::lock_guard guard(self->lock_);
            self->isSamplingApps_ = false;
        }
        if (changed && onComplete && self->platform_.postToMain) {
            self->platform_.postToMain(onComplete);
        }
    });
}

bool PowerBatteryService::sampleProcessEnergy(const std::vector<RunningApplication>& runningApps) {
    const double t = platform_.systemUptime ? platform_.systemUptime() : 0;
    ProcessTable* table = platform_.processes.get();
    if (runningApps.empty() || !table) {
        return false;
    }
    const std::int64_t bytes = table->processListBytes();
    if (bytes <= 0) {
        return false;
    }
    const std::size_t room =
        std::min(static_cast<std::size_t>(bytes) / 4, maximumProcessIds) + processIdSlack;
    std::vector<std::int32_t> pids = table->listProcessIds(room);
    if (pids.size() > room) {
        pids.resize(room);
    }

    double t0 = 0;
    std::map<ProcessSampleKey, ProcessCounterSample> old;
    std::map<ProcessSampleKey, Owner> owners;
    {
        std::lock_guard guard(lock_);
        t0 = lastEnergySampleTime_;
        old = lastProcessSamples_;
        owners = pidOwnerCache_;
    }

    std::map<ProcessSampleKey, ProcessCounterSample> fresh;
    std::vector<ProcessSampleKey> seen;
    for (std::int32_t pid : pids) {
        if (pid <= 0) {
            continue;
        }
        auto usage = table->usage(pid);
        if (!usage) {
            continue;
        }
        const ProcessSampleKey key{pid, usage->startTime};
        seen.push_back(key);
        const std::optional<std::uint64_t> energy =
            usage->energyNanojoules == 0 ? std::nullopt : std::optional(usage->energyNanojoules);
        if (auto previous = old.find(key);
            previous != old.end() && previous->second.cpuNanoseconds == usage->cpuNanoseconds &&
            previous->second.energyNanojoules == energy) {
            fresh.emplace(key, previous->second);
            continue;
        }
        Owner owner;
        if (auto cached = owners.find(key); cached != owners.end()) {
            owner = cached->second;
        } else {
            auto path = table->executablePath(pid);
            owner = path ? ownerOf(*path, runningApps) : std::nullopt;
            owners[key] = owner;
        }
        if (owner) {
            fresh[key] = {owner->id, owner->name, usage->cpuNanoseconds, energy};
        }
    }
    if (owners.size() > seen.size() + ownerCacheSlack) {
        std::map<ProcessSampleKey, Owner> kept;
        for (const ProcessSampleKey& key : seen) {
            if (auto found = owners.find(key); found != owners.end()) {
                kept.insert(*found);
            }
        }
        owners = std::move(kept);
    }

    std::vector<AppEnergyEntry> previousList;
    {
        std::lock_guard guard(lock_);
        lastEnergySampleTime_ = t;
        lastProcessSamples_ = fresh;
        pidOwnerCache_ = owners;
        previousList = cachedTopApps_;
    }
    const double dt = t - t0;
    if (!(t0 > 0) || dt < 0.5 || dt > 30 || old.empty()) {
        return false;
    }

    struct Total {
        std::string id, name;
        double watts = 0, percent = 0;
    };
    std::vector<Total> totals;
    auto totalFor = [&](const ProcessCounterSample& sample) -> Total& {
        for (Total& total : totals) {
            if (total.id == sample.appId) {
                return total;
            }
        }
        totals.push_back({sample.appId, sample.appName});
        return totals.back();
    };
    bool hasEnergyData = false;
    for (const auto& [key, sample] : fresh) {
        auto previous = old.find(key);
        if (previous == old.end()) {
            continue;
        }
        const ProcessCounterSample& before = previous->second;
        Total& total = totalFor(sample);
        if (sample.energyNanojoules && before.energyNanojoules &&
            *sample.energyNanojoules >= *before.energyNanojoules) {
            hasEnergyData = true;
            double watts =
                static_cast<double>(*sample.energyNanojoules - *before.energyNanojoules) / 1e9 / dt;
            if (std::isfinite(watts)) {
                total.watts += watts;
            }
        }
        if (sample.cpuNanoseconds >= before.cpuNanoseconds) {
            double percent =
                static_cast<double>(sample.cpuNanoseconds - before.cpuNanoseconds) / 1e9 / dt * 100;
            if (std::isfinite(percent)) {
                total.percent += percent;
            }
        }
    }

    std::vector<Total> ranked;
    for (const Total& total : totals) {
        if (hasEnergyData ? total.watts >= 0.05 : total.percent >= 0.5) {
            ranked.push_back(total);
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), [&](const Total& a, const Total& b) {
        return hasEnergyData ? a.watts > b.watts : a.percent > b.percent;
    });
    if (ranked.size() > topAppsLimit) {
        ranked.resize(topAppsLimit);
    }
    std::vector<AppEnergyEntry> list;
    for (const Total& total : ranked) {
        AppEnergyEntry entry;
        entry.id = total.id;
        entry.bundlePath = total.id;
        entry.name = total.name;
        if (hasEnergyData) {
            entry.rawScore = total.watts;
            entry.basis = AppEnergyBasis::cpuEnergy;
            entry.valueText = total.watts >= 1 ? cformat("%.1f W", total.watts)
                                               : cformat("%.0f mW", total.watts * 1000);
        } else {
            entry.rawScore = total.percent;
            entry.basis = AppEnergyBasis::cpuActivity;
            entry.valueText = cformat("%.1f%%", total.percent);
        }
        list.push_back(std::move(entry));
    }
    {
        std::lock_guard guard(lock_);
        cachedTopApps_ = list;
    }
    return list != previousList;
}

} // namespace ventoral
