#pragma once

#include "core/power/LooseValue.h"
#include "core/power/USBPortTopologySnapshot.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ventoral {

// The machine's power sources, as the power service reads them. Every reading that cannot be
// made is absent, never zero.
class PowerSourceProvider {
public:
    virtual ~PowerSourceProvider() = default;
    // One description per power source, in the platform's order; none when the information
    // cannot be had at all.
    virtual std::optional<std::vector<LooseDictionary>> powerSourceDescriptions() = 0;
    // The attached adapter's details, or none.
    virtual std::optional<LooseDictionary> externalAdapterDetails() = 0;
    // The battery's properties; empty without a battery.
    virtual LooseDictionary batteryRegistry() = 0;
};

class USBTopologyReader {
public:
    virtual ~USBTopologyReader() = default;
    virtual USBPortTopologySnapshot readTopology() = 0;
};

// Calls `onChange` on the main thread after each change of the power sources.
class PowerSourceMonitor {
public:
    virtual ~PowerSourceMonitor() = default;
    // False when the notification cannot be set up.
    virtual bool start(std::function<void()> onChange) = 0;
};

// Per-process counters of the current user's processes.
struct ProcessUsage {
    std::uint64_t cpuNanoseconds = 0;   // user plus system
    std::uint64_t startTime = 0;        // identifies the process life with its id
    std::uint64_t energyNanojoules = 0; // 0 when not reported
};

class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    // The room the user's process ids need, in bytes of 4-byte ids; 0 or less when unknown.
    virtual std::int64_t processListBytes() = 0;
    // At most `room` ids.
    virtual std::vector<std::int32_t> listProcessIds(std::size_t room) = 0;
    virtual std::optional<ProcessUsage> usage(std::int32_t pid) = 0;
    virtual std::optional<std::string> executablePath(std::int32_t pid) = 0;
};

struct RunningApplication {
    std::string id; // the bundle: the application's folder, or its program file
    std::string name;
    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    virtual std::vector<RunningApplication> list() = 0;
};

// What a bounded run of the power report program gave.
struct BoundedRunResult {
    bool started = false;
    bool timedOut = false;
    int exitStatus = -1;
    std::string output;
};
using BoundedProgramRunner =
    std::function<BoundedRunResult(const std::vector<std::string>& arguments, double timeout)>;

// Queues work onto the application's main thread.
using MainThreadExecutor = std::function<void(std::function<void()>)>;

} // namespace ventoral
