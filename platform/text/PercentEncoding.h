// PercentEncoding: percent-encoding of UTF-8 text with the character sets
// this system needs, and strict decoding. Encoders work on bytes; every byte
// outside the kept set becomes "%XX" with upper-case hex digits.
//
// Sets:
//   encodeAlphanumericDash  keeps only ASCII letters, digits and "-"
//                           (identifier mapping: "_", ".", "~", "%" all encoded).
//   encodeQuery             keeps the RFC 3986 query characters: unreserved,
//                           sub-delims, ":", "@", "/", "?"; "%" is encoded.
//   encodeFormComponent     the query set minus "&", "=", "+", for one name or
//                           value of a form or query item, so that a value
//                           containing them cannot split or change the item.
//   encodePath / encodeFragment / encodeUserInfo / encodeHost
//                           the RFC 3986 sets for those URL components.
// decode: "%XX" sequences become bytes; a "%" without two hex digits after it
// makes the whole text invalid (none). "+" is left alone. decode also
// requires the result to be valid UTF-8; decodeBytes does not.
//
// Stateless; every function is safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class PercentEncoding {
public:
    static std::string encodeAlphanumericDash(std::string_view text);
    static std::string encodeQuery(std::string_view text);
    static std::string encodeFormComponent(std::string_view text);
    static std::string encodePath(std::string_view text);
    static std::string encodeFragment(std::string_view text);
    static std::string encodeUserInfo(std::string_view text);
    static std::string encodeHost(std::string_view text);

    static std::optional<std::string> decode(std::string_view text);
    static std::optional<std::string> decodeBytes(std::string_view text);

    // RFC 3986 character classes, used by the URL parser.
    static bool isUnreserved(char c);
    static bool isSubDelim(char c);
    // pchar without the pct-encoded form: unreserved / sub-delims / ":" / "@".
    static bool isPathChar(char c);
};

}  // namespace platform
