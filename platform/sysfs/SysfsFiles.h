#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ventoral::sysfs {

// Small-file access for sysfs attributes: one open/read/close per call, no streams.
struct ReadResult {
    std::optional<std::string> text; // trimmed of trailing white space
    int error = 0;                   // errno when the read failed
};

ReadResult read(const std::string& path);
std::optional<std::string> readText(const std::string& path);
// A whole decimal integer, optionally signed; garbage, overflow and empty files give nothing.
std::optional<std::int64_t> readInteger(const std::string& path);
// 0 on success, else the errno of the failed open or write.
int write(const std::string& path, const std::string& text);

bool exists(const std::string& path);
bool isWritableByOwner(const std::string& path);
// Names in a folder, sorted; empty when it cannot be read.
std::vector<std::string> list(const std::string& folder);
// The canonical path of an existing file or folder, or nothing.
std::optional<std::string> resolve(const std::string& path);

std::optional<std::int64_t> parseInteger(const std::string& text);

// Notes every file and folder this layer opens while it lives, so that tests and benchmarks can
// see what one pass over the hardware costs. One at a time.
class OpenCounter {
public:
    OpenCounter();
    ~OpenCounter();
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    // Each path opened (folders listed included), with how often.
    std::map<std::string, int> opens() const;
    void clear();
    // Called by the layer itself.
    void note(const std::string& path);

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> opens_;
};

} // namespace ventoral::sysfs
