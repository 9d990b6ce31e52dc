#include "platform/text/Unicode.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <limits>
#include <memory>

namespace platform {

namespace {

// Reads the code point at byte `i` (advancing it); ill-formed input gives a
// negative value, which callers treat as U+FFFD.
UChar32 next8(std::string_view text, size_t& i) {
    UChar32 c = 0;
    int32_t pos = static_cast<int32_t>(i);
    const int32_t length = static_cast<int32_t>(text.size());
    U8_NEXT(reinterpret_cast<const uint8_t*>(text.data()), pos, length, c);
    i = static_cast<size_t>(pos);
    return c;
}

size_t units16(UChar32 c) { return (c > 0xFFFF) ? 2 : 1; }

std::string_view clampForIcu(std::string_view text) {
    // ICU lengths are int32_t; nothing in this system comes near 2 GiB of text.
    if (text.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        text = text.substr(0, static_cast<size_t>(std::numeric_limits<int32_t>::max()));
    return text;
}

icu::UnicodeString fromUtf8(std::string_view text) {
    text = clampForIcu(text);
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

icu::UnicodeString fromUtf16(std::u16string_view text) {
    const auto length = static_cast<int32_t>(
        std::min<size_t>(text.size(), static_cast<size_t>(std::numeric_limits<int32_t>::max())));
    return icu::UnicodeString(text.data(), length);
}

std::string toStd8(const icu::UnicodeString& s) {
    std::string out;
    s.toUTF8String(out);
    return out;
}

std::u16string toStd16(const icu::UnicodeString& s) {
    return std::u16string(s.getBuffer(), static_cast<size_t>(s.length()));
}

icu::Locale localeFor(std::string_view id) {
    if (id.empty()) return icu::Locale::getRoot();
    return icu::Locale(std::string(id).c_str());
}

bool isLineBreak(UChar32 c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

template <typename Pred>
std::string trim8(std::string_view text, Pred isSpace) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t next = begin;
        UChar32 c = next8(text, next);
        if (c < 0 || !isSpace(c)) break;
        begin = next;
    }
    size_t end = begin;
    size_t i = begin;
    while (i < text.size()) {
        UChar32 c = next8(text, i);
        if (c < 0 || !isSpace(c)) end = i;
    }
    return std::string(text.substr(begin, end - begin));
}

}  // namespace

bool Unicode::isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        if (next8(text, i) < 0) return false;
    }
    return true;
}

std::u16string Unicode::toUtf16(std::string_view utf8) { return toStd16(fromUtf8(utf8)); }

std::string Unicode::toUtf8(std::u16string_view utf16) { return toStd8(fromUtf16(utf16)); }

size_t Unicode::utf16Length(std::string_view utf8) {
    size_t count = 0;
    size_t i = 0;
    while (i < utf8.size()) count += units16(next8(utf8, i));
    return count;
}

std::optional<size_t> Unicode::utf8OffsetForUtf16Index(std::string_view utf8, size_t index) {
    size_t units = 0;
    size_t i = 0;
    while (units < index) {
        if (i >= utf8.size()) return std::nullopt;
        units += units16(next8(utf8, i));
    }
    if (units != index) return std::nullopt;  // index falls inside a surrogate pair
    return i;
}

size_t Unicode::utf16IndexForUtf8Offset(std::string_view utf8, size_t offset) {
    size_t units = 0;
    size_t i = 0;
    while (i < utf8.size()) {
        size_t next = i;
        UChar32 c = next8(utf8, next);
        if (next > offset) break;
        units += units16(c);
        i = next;
    }
    return units;
}

std::optional<std::string> Unicode::substringForUtf16Range(std::string_view utf8, size_t location,
                                                          size_t length) {
    const auto begin = utf8OffsetForUtf16Index(utf8, location);
    if (!begin) return std::nullopt;
    const auto end = utf8OffsetForUtf16Index(utf8.substr(*begin), length);
    if (!end) return std::nullopt;
    return std::string(utf8.substr(*begin, *end));
}

size_t Unicode::codePointCount(std::string_view utf8) {
    size_t count = 0;
    size_t i = 0;
    while (i < utf8.size()) {
        next8(utf8, i);
        ++count;
    }
    return count;
}

std::string Unicode::codePointPrefix(std::string_view utf8, size_t count) {
    size_t i = 0;
    for (size_t n = 0; n < count && i < utf8.size(); ++n) next8(utf8, i);
    return std::string(utf8.substr(0, i));
}

std::u32string Unicode::toUtf32(std::string_view utf8) {
    std::u32string points;
    size_t i = 0;
    while (i < utf8.size()) {
        const UChar32 c = next8(utf8, i);
        points.push_back(c < 0 ? U'\uFFFD' : static_cast<char32_t>(c));
    }
    return points;
}

bool Unicode::isLetter(char32_t c) {
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & U_GC_L_MASK) != 0;
}

bool Unicode::isDecimalDigit(char32_t c) { return u_charType(static_cast<UChar32>(c)) == U_DECIMAL_DIGIT_NUMBER; }

std::string Unicode::lowercase(std::string_view utf8, std::string_view locale) {
    return toStd8(fromUtf8(utf8).toLower(localeFor(locale)));
}

std::string Unicode::uppercase(std::string_view utf8, std::string_view locale) {
    return toStd8(fromUtf8(utf8).toUpper(localeFor(locale)));
}

std::u16string Unicode::lowercase(std::u16string_view utf16, std::string_view locale) {
    return toStd16(fromUtf16(utf16).toLower(localeFor(locale)));
}

std::u16string Unicode::uppercase(std::u16string_view utf16, std::string_view locale) {
    return toStd16(fromUtf16(utf16).toUpper(localeFor(locale)));
}

int Unicode::compareCaseInsensitive(std::string_view a, std::string_view b) {
    const int8_t r = fromUtf8(a).caseCompare(fromUtf8(b), U_FOLD_CASE_DEFAULT | U_COMPARE_CODE_POINT_ORDER);
    return (r < 0) ? -1 : (r > 0 ? 1 : 0);
}

bool Unicode::equalsCaseInsensitive(std::string_view a, std::string_view b) {
    return compareCaseInsensitive(a, b) == 0;
}

int Unicode::compareLocalized(std::string_view a, std::string_view b, std::string_view locale) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(localeFor(locale), status));
    if (U_SUCCESS(status) && collator != nullptr) {
        const UCollationResult r = collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                                         icu::StringPiece(b.data(), static_cast<int32_t>(b.size())),
                                                         status);
        if (U_SUCCESS(status) && r != UCOL_EQUAL) return r == UCOL_LESS ? -1 : 1;
    }
    const int r = fromUtf8(a).compareCodePointOrder(fromUtf8(b));
    return (r < 0) ? -1 : (r > 0 ? 1 : 0);
}

std::string Unicode::trimWhitespaceAndNewlines(std::string_view utf8) {
    return trim8(utf8, [](UChar32 c) { return u_isUWhiteSpace(c) != 0; });
}

std::string Unicode::trimWhitespace(std::string_view utf8) {
    return trim8(utf8, [](UChar32 c) { return u_isUWhiteSpace(c) != 0 && !isLineBreak(c); });
}

std::u16string Unicode::trimWhitespaceAndNewlines(std::u16string_view utf16) {
    size_t begin = 0;
    const size_t length = utf16.size();
    while (begin < length) {
        size_t next = begin;
        UChar32 c = 0;
        U16_NEXT(utf16.data(), next, length, c);
        if (!u_isUWhiteSpace(c)) break;
        begin = next;
    }
    size_t end = length;
    while (end > begin) {
        size_t prev = end;
        UChar32 c = 0;
        U16_PREV(utf16.data(), begin, prev, c);
        if (!u_isUWhiteSpace(c)) break;
        end = prev;
    }
    return std::u16string(utf16.substr(begin, end - begin));
}

}  // namespace platform
