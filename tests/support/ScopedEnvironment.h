#pragma once

#include <optional>
#include <string>

namespace ventoral::testing {

// One variable of this process's environment, set (or removed, given nullptr) for the object's
// lifetime and then put back as it was, so a failed assertion cannot leak it into later tests.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, const char* value);
    ScopedEnvironmentVariable(std::string name, const std::string& value)
        : ScopedEnvironmentVariable(std::move(name), value.c_str()) {}
    ~ScopedEnvironmentVariable();
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace ventoral::testing
