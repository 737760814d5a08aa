#include "tests/support/ScopedEnvironment.h"

#include <cstdlib>

namespace ventoral::testing {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(std::string name, const char* value)
    : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    value ? ::setenv(name_.c_str(), value, 1) : ::unsetenv(name_.c_str());
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
    previous_ ? ::setenv(name_.c_str(), previous_->c_str(), 1) : ::unsetenv(name_.c_str());
}

} // namespace ventoral::testing
