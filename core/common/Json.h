#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ventoral {

// Members keep the order in which they were written, so encoded records read in field order.
using Json = nlohmann::ordered_json;

// Raised when a document does not have the shape of the record it should hold.
class DecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace json {

// Each helper names `context` (for example "FanInfo.mode") in the error it raises.
void requireObject(const Json& value, std::string_view context);
const Json& requireMember(const Json& object, std::string_view key, std::string_view context);

std::int64_t decodeInt64(const Json& value, std::string_view context);
float decodeFloat(const Json& value, std::string_view context);
double decodeDouble(const Json& value, std::string_view context);
bool decodeBool(const Json& value, std::string_view context);
std::string decodeString(const Json& value, std::string_view context);

// A 32-bit float written with the fewest digits that read back to the same float, so 0.1f
// is stored as 0.1 rather than 0.10000000149011612.
Json encodeFloat(float value, std::string_view context);
Json encodeDouble(double value, std::string_view context);

// Parses bytes, turning the library's parse error into a DecodingError.
Json parse(std::string_view bytes);

} // namespace json
} // namespace ventoral
