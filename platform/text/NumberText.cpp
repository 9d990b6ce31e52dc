#include "platform/text/NumberText.h"

#include <charconv>
#include <limits>

namespace platform {

namespace {

bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view skipSpace(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && isAsciiSpace(text[i])) ++i;
    return text.substr(i);
}

// Splits an optional sign; returns true when negative.
bool takeSign(std::string_view& text) {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        const bool negative = text[0] == '-';
        text.remove_prefix(1);
        return negative;
    }
    return false;
}

// Whether `text` (past any sign) starts like a decimal number: a digit, or a
// point. std::from_chars also reads "nan", "inf" and "infinity", which are
// not decimal numbers and must not turn text from outside into NaN or
// infinity.
bool startsDecimal(std::string_view text) {
    return !text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '.');
}

}  // namespace

std::string NumberText::format(int64_t value) {
    char buffer[32];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

std::string NumberText::format(uint64_t value) {
    char buffer[32];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

std::string NumberText::formatDouble(double value) {
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, r.ptr);
}

std::optional<int64_t> NumberText::parseInt64(std::string_view text) {
    const bool negative = takeSign(text);
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    uint64_t magnitude = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    if (magnitude > limit) return std::nullopt;
    if (negative) return static_cast<int64_t>(0 - magnitude);
    return static_cast<int64_t>(magnitude);
}

std::optional<uint64_t> NumberText::parseUInt64(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    uint64_t value = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> NumberText::parseDouble(std::string_view text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') return std::nullopt;
    }
    std::string_view magnitude = !text.empty() && text[0] == '-' ? text.substr(1) : text;
    if (!startsDecimal(magnitude)) return std::nullopt;
    double value = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    return value;
}

int64_t NumberText::scanInt64(std::string_view text) {
    text = skipSpace(text);
    const bool negative = takeSign(text);
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0) return 0;
    uint64_t magnitude = 0;
    auto r = std::from_chars(text.data(), text.data() + digits, magnitude);
    if (r.ec == std::errc::result_out_of_range)
        return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    if (negative) {
        if (magnitude > uint64_t(std::numeric_limits<int64_t>::max()) + 1)
            return std::numeric_limits<int64_t>::min();
        return static_cast<int64_t>(0 - magnitude);
    }
    if (magnitude > uint64_t(std::numeric_limits<int64_t>::max())) return std::numeric_limits<int64_t>::max();
    return static_cast<int64_t>(magnitude);
}

double NumberText::scanDouble(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
        if (!text.empty() && (text[0] == '+' || text[0] == '-')) return 0;
    }
    if (!startsDecimal(text)) return 0;
    double value = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ptr == text.data()) return 0;
    // Out of range: from_chars leaves value untouched; report the overflowed
    // or underflowed limit as strtod would.
    if (r.ec == std::errc::result_out_of_range) {
        // Tiny when the exponent is negative or there is no integer part.
        std::string_view consumed(text.data(), static_cast<size_t>(r.ptr - text.data()));
        const size_t e = consumed.find_first_of("eE");
        const bool negativeExponent = e != std::string_view::npos && e + 1 < consumed.size() && consumed[e + 1] == '-';
        const std::string_view integerPart = consumed.substr(0, consumed.find_first_of(".eE"));
        const bool noIntegerPart = integerPart.find_first_not_of('0') == std::string_view::npos;
        const bool tiny = negativeExponent || noIntegerPart;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

}  // namespace platform
