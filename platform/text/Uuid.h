// Uuid: RFC 4122 version 4 UUIDs from the process random source
// (RandomSource::current(), secure by default, deterministic in tests).
//
// string() is the canonical text with upper-case hex and hyphens
// ("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"); hex() is the same 32 digits
// without hyphens. parse() accepts either case, with hyphens only.
//
// A plain value; safe to use from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Uuid {
public:
    using Bytes = std::array<uint8_t, 16>;

    Uuid() = default;  // the nil UUID
    explicit Uuid(const Bytes& bytes) : m_bytes(bytes) {}

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    const Bytes& bytes() const { return m_bytes; }
    std::string string() const;
    std::string hex() const;

    bool operator==(const Uuid&) const = default;

private:
    Bytes m_bytes{};
};

}  // namespace platform

// Hash of a UUID: its random bytes already spread evenly.
template <>
struct std::hash<platform::Uuid> {
    size_t operator()(const platform::Uuid& uuid) const noexcept {
        size_t value = 0;
        for (size_t i = 0; i < sizeof value; ++i) value = (value << 8) | uuid.bytes()[i];
        return value;
    }
};
