// Unicode: UTF-8 / UTF-16 / UTF-32 helpers, case mapping, case-insensitive
// comparison and trimming, on ICU.
//
// Text is UTF-8 in std::string unless a function says otherwise. Lengths and
// indexes "in UTF-16 units" are what the system's string type counts (a
// character outside the Basic Multilingual Plane counts 2). Ill-formed UTF-8
// bytes are treated as U+FFFD (one UTF-16 unit, three UTF-8 bytes once
// converted) by the counting and converting helpers; isValidUtf8 tells them
// apart first where that matters.
//
// Case mapping without a locale uses the root locale, never the process
// locale (so "I" lower-cases to "i" even under a Turkish environment).
//
// Stateless; every function is safe from any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Unicode {
public:
    // Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
    static bool isValidUtf8(std::string_view text);

    static std::u16string toUtf16(std::string_view utf8);
    // Lone surrogates become U+FFFD.
    static std::string toUtf8(std::u16string_view utf16);

    static size_t utf16Length(std::string_view utf8);
    // Byte offset of UTF-16 index `index`; none when past the end or inside a
    // surrogate pair. index == utf16Length gives text.size().
    static std::optional<size_t> utf8OffsetForUtf16Index(std::string_view utf8, size_t index);
    // UTF-16 index of the code point that starts at or contains byte `offset`
    // (offsets past the end give the UTF-16 length).
    static size_t utf16IndexForUtf8Offset(std::string_view utf8, size_t offset);

    // The UTF-8 text of the UTF-16 range [location, location + length); none
    // when the range runs past the end or cuts a surrogate pair.
    static std::optional<std::string> substringForUtf16Range(std::string_view utf8, size_t location,
                                                             size_t length);

    // UTF-32 view: number of code points, and the first `count` of them.
    static size_t codePointCount(std::string_view utf8);
    static std::string codePointPrefix(std::string_view utf8, size_t count);
    // The code points (ill-formed bytes become U+FFFD).
    static std::u32string toUtf32(std::string_view utf8);

    // Character classes: a letter (general category L*, so no combining
    // marks) and a decimal digit (Nd).
    static bool isLetter(char32_t c);
    static bool isDecimalDigit(char32_t c);

    // Full Unicode case mapping ("ß" upper-cases to "SS"). `locale` is an ICU
    // locale id such as "tr" or "en_US"; empty means the root locale.
    static std::string lowercase(std::string_view utf8, std::string_view locale = {});
    static std::string uppercase(std::string_view utf8, std::string_view locale = {});
    static std::u16string lowercase(std::u16string_view utf16, std::string_view locale = {});
    static std::u16string uppercase(std::u16string_view utf16, std::string_view locale = {});

    // Case-folded comparison: negative, 0 or positive; compares code points
    // after default case folding.
    static int compareCaseInsensitive(std::string_view a, std::string_view b);
    static bool equalsCaseInsensitive(std::string_view a, std::string_view b);
    // The locale's collation order (ICU, default strength): negative, 0 or
    // positive. Texts the collation finds equal compare by code point, so
    // only identical texts give 0. A collator is made per call.
    static int compareLocalized(std::string_view a, std::string_view b, std::string_view locale);

    // Removes leading and trailing Unicode white space (spaces, tabs, line
    // and paragraph breaks, U+0085, U+00A0, ...).
    static std::string trimWhitespaceAndNewlines(std::string_view utf8);
    static std::u16string trimWhitespaceAndNewlines(std::u16string_view utf16);
    // Same, but line breaks (U+000A-U+000D, U+0085, U+2028, U+2029) stay.
    static std::string trimWhitespace(std::string_view utf8);
};

}  // namespace platform
