#pragma once

#include <cstdint>
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

} // namespace ventoral::sysfs
