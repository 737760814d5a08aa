#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace ventoral {

// A temperature that the controller's keys and the thermal channels both report is read once
// per pass over the temperatures; outside a pass every read goes to the file.
class HwmonReadingMemo {
public:
    void beginPass();
    void endPass();
    std::optional<std::int64_t> readInteger(const std::string& path);

private:
    std::mutex mutex_;
    bool inPass_ = false;
    std::map<std::string, std::optional<std::int64_t>> readings_;
};

} // namespace ventoral
