// Base64: RFC 4648 base64 (standard alphabet "+/") and base64url ("-_"),
// with or without "=" padding, no line breaks.
//
// Decoding is strict: any character outside the alphabet (white space and
// line breaks included) makes the text invalid, and so does a length that no
// encoding produces or padding that is present but wrong. Missing padding is
// accepted unless Padding::Required is asked for.
//
// Stateless; every function is safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class Base64 {
public:
    enum class Alphabet { Standard, Url };
    enum class Padding { Required, Optional };

    static std::string encode(std::span<const uint8_t> data, Alphabet alphabet = Alphabet::Standard,
                              bool pad = true);
    static std::string encode(std::string_view bytes, Alphabet alphabet = Alphabet::Standard, bool pad = true);

    static std::optional<std::vector<uint8_t>> decode(std::string_view text,
                                                      Alphabet alphabet = Alphabet::Standard,
                                                      Padding padding = Padding::Optional);
};

}  // namespace platform
