// NumberText: number <-> text in the C locale, independent of the process
// locale (built on std::to_chars / std::from_chars, never on std::locale or
// the C library's current locale).
//
// format*: integers in decimal; doubles as the shortest text that reads back
// to the same double ("0.1", "5", "1e+21", "nan", "inf", "-inf").
// parse*:  strict; the whole text must be the number (an optional leading
//          "+" or "-"; no white space); out of range gives none.
// scan*:   lenient, like reading a number from the front of the text: leading
//          white space skipped, the longest numeric prefix read, 0 when there
//          is none; integers saturate at the type's limits.
// Only decimal text is read: "nan", "inf" and "infinity" are not numbers
// here (none / 0), so outside text never becomes NaN or infinity; overflow
// in a decimal text still gives none (parse) or +-infinity (scan).
//
// Stateless; every function is safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class NumberText {
public:
    static std::string format(int64_t value);
    static std::string format(uint64_t value);
    static std::string format(int value) { return format(static_cast<int64_t>(value)); }
    static std::string formatDouble(double value);

    static std::optional<int64_t> parseInt64(std::string_view text);
    static std::optional<uint64_t> parseUInt64(std::string_view text);
    static std::optional<double> parseDouble(std::string_view text);

    static int64_t scanInt64(std::string_view text);
    static double scanDouble(std::string_view text);
};

}  // namespace platform
