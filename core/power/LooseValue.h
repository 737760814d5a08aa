#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace ventoral {

// A value of the platform's loosely typed dictionaries. Integers and floating numbers are told
// apart, and a Boolean is never a number.
class LooseValue {
public:
    using Dictionary = std::map<std::string, LooseValue>;
    using Array = std::vector<LooseValue>;

    LooseValue(std::int64_t value) : value_(value) {}
    LooseValue(int value) : value_(std::int64_t{value}) {}
    LooseValue(double value) : value_(value) {}
    LooseValue(bool value) : value_(value) {}
    LooseValue(std::string value) : value_(std::move(value)) {}
    LooseValue(const char* value) : value_(std::string(value)) {}
    LooseValue(Dictionary value) : value_(std::move(value)) {}
    LooseValue(Array value) : value_(std::move(value)) {}

    const std::int64_t* integer() const { return std::get_if<std::int64_t>(&value_); }
    const double* floating() const { return std::get_if<double>(&value_); }
    const bool* boolean() const { return std::get_if<bool>(&value_); }
    const std::string* text() const { return std::get_if<std::string>(&value_); }
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&value_); }
    const Array* array() const { return std::get_if<Array>(&value_); }
    bool isNumber() const { return integer() || floating(); }

    friend bool operator==(const LooseValue&, const LooseValue&) = default;

private:
    std::variant<std::int64_t, double, bool, std::string, Dictionary, Array> value_;
};

using LooseDictionary = LooseValue::Dictionary;

// The value under `key`, or none (nullptr) when absent.
const LooseValue* member(const LooseDictionary& dictionary, const std::string& key);
// The dictionary under `key`, or none when absent or not a dictionary.
const LooseDictionary* memberDictionary(const LooseDictionary& dictionary, const std::string& key);

} // namespace ventoral
