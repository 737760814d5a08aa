#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ventoral {

// 128-bit identifier. Its text is the canonical hyphenated form in upper case.
class Uuid {
public:
    using Bytes = std::array<std::uint8_t, 16>;

    constexpr Uuid() = default;
    constexpr explicit Uuid(const Bytes& bytes) : bytes_(bytes) {}

    // A fresh random (version 4) identifier.
    static Uuid random();
    // Accepts the 36-character hyphenated form in either case; anything else yields nothing.
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;
    const Bytes& bytes() const { return bytes_; }

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    Bytes bytes_{};
};

} // namespace ventoral

template <> struct std::hash<ventoral::Uuid> {
    std::size_t operator()(const ventoral::Uuid& uuid) const noexcept;
};
