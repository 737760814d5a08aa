#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ventoral::fuzz {

// Takes typed values off the front of a fuzz input; reads past the end give zeros.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool boolean() { return (byte() & 1) != 0; }
    template <typename T> T raw() {
        T value{};
        std::uint8_t bytes[sizeof(T)] = {};
        for (auto& b : bytes) {
            b = byte();
        }
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }
    std::string text(std::size_t maximum) {
        std::size_t n = byte() % (maximum + 1);
        std::string s;
        for (std::size_t i = 0; i < n && !empty(); ++i) {
            s += static_cast<char>(byte());
        }
        return s;
    }
    std::vector<std::uint8_t> bytes(std::size_t n) {
        std::vector<std::uint8_t> out;
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back(byte());
        }
        return out;
    }
    template <typename T, std::size_t N> const T& pick(const T (&choices)[N]) {
        return choices[byte() % N];
    }
    // What is left, as text.
    std::string rest() {
        std::string s(reinterpret_cast<const char*>(data_ + at_), at_ < size_ ? size_ - at_ : 0);
        at_ = size_;
        return s;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Runs `f`, letting through only `Error`: the one way the code under test may say no.
template <typename Error, typename F> void allowing(F&& f) {
    try {
        f();
    } catch (const Error&) {
    }
}

} // namespace ventoral::fuzz
