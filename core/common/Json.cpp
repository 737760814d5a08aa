#include "core/common/Json.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace ventoral::json {
namespace {

std::string describe(const Json& value) {
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::boolean:
        return "a boolean";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::object:
        return "an object";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
        return "an integer";
    case Json::value_t::number_float:
        return "a number";
    default:
        return "an unsupported value";
    }
}

[[noreturn]] void typeMismatch(std::string_view context, std::string_view expected,
                               const Json& value) {
    throw DecodingError(std::string(context) + ": expected " + std::string(expected) + ", found " +
                        describe(value));
}

} // namespace

void requireObject(const Json& value, std::string_view context) {
    if (!value.is_object()) {
        typeMismatch(context, "an object", value);
    }
}

const Json& requireMember(const Json& object, std::string_view key, std::string_view context) {
    requireObject(object, context);
    auto it = object.find(key);
    if (it == object.end()) {
        throw DecodingError(std::string(context) + ": missing member \"" + std::string(key) + "\"");
    }
    return *it;
}

std::int64_t decodeInt64(const Json& value, std::string_view context) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        auto u = value.get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(u);
        }
        throw DecodingError(std::string(context) + ": integer out of range");
    }
    if (value.is_number_float()) {
        // 3.0 is an integer written with a decimal point; 3.5 is not.
        double d = value.get<double>();
        if (std::trunc(d) == d && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(d);
        }
        throw DecodingError(std::string(context) + ": expected an integer, found " + value.dump());
    }
    typeMismatch(context, "an integer", value);
}

double decodeDouble(const Json& value, std::string_view context) {
    if (!value.is_number()) {
        typeMismatch(context, "a number", value);
    }
    return value.get<double>();
}

float decodeFloat(const Json& value, std::string_view context) {
    double d = decodeDouble(value, context);
    if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) {
        throw DecodingError(std::string(context) + ": number " + value.dump() +
                            " does not fit in a 32-bit float");
    }
    return static_cast<float>(d);
}

bool decodeBool(const Json& value, std::string_view context) {
    if (!value.is_boolean()) {
        typeMismatch(context, "a boolean", value);
    }
    return value.get<bool>();
}

std::string decodeString(const Json& value, std::string_view context) {
    if (!value.is_string()) {
        typeMismatch(context, "a string", value);
    }
    return value.get<std::string>();
}

namespace {

// Whole numbers are written without a fraction ("2000", not "2000.0"), as standard encoders do.
Json numberValue(double value) {
    constexpr double exactIntegerLimit = 9007199254740992.0; // 2^53
    if (std::trunc(value) == value && std::fabs(value) < exactIntegerLimit) {
        return Json(static_cast<std::int64_t>(value));
    }
    return Json(value);
}

} // namespace

Json encodeFloat(float value, std::string_view context) {
    if (!std::isfinite(value)) {
        throw EncodingError(std::string(context) + ": cannot encode a non-finite number");
    }
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    double shortest = 0;
    std::from_chars(buffer, result.ptr, shortest);
    return numberValue(shortest);
}

Json encodeDouble(double value, std::string_view context) {
    if (!std::isfinite(value)) {
        throw EncodingError(std::string(context) + ": cannot encode a non-finite number");
    }
    return numberValue(value);
}

namespace {

// Nesting beyond any document this program reads, refused before the parser builds it: a few
// megabytes of brackets would otherwise take seconds and hundreds of megabytes.
constexpr int maximumDepth = 64;

bool nestsTooDeep(std::string_view bytes) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maximumDepth) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

} // namespace

Json parse(std::string_view bytes) {
    if (nestsTooDeep(bytes)) {
        throw DecodingError("malformed JSON: nested deeper than " + std::to_string(maximumDepth) +
                            " levels");
    }
    try {
        return Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& error) {
        // Syntax errors and numbers beyond a double both land here.
        throw DecodingError(std::string("malformed JSON: ") + error.what());
    }
}

} // namespace ventoral::json
