#include "core/common/Format.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace ventoral {

std::string cformat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    char small[64];
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::string result;
    if (length < 0) {
        va_end(copy);
        return result;
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        result.assign(small, static_cast<std::size_t>(length));
    } else {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, copy);
        result.assign(buffer.data(), static_cast<std::size_t>(length));
    }
    va_end(copy);
    return result;
}

double roundHalfAway(double value) {
    return std::round(value);
}

std::string_view trimWhitespace(std::string_view text) {
    const char* blanks = " \t\n\r\v\f";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace ventoral
