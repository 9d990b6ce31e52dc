// Hashing and text helpers of the measurement engine, over the platform's
// bytes, dictionaries and strings: MD5 digests and their low 64 bits
// (database fingerprints, bundle checksums), URL query strings both ways,
// the "0"/"1" bit test, and UTF-32 lengths and bytes (every name and value
// length of the validation counts code points).
//
// Query strings: apm_queryString percent-encodes keys and values with the
// query-allowed set minus "&", "=" and "+", so a value holding them cannot
// add or split parameters. Parsing walks the pieces from the last to the
// first, so the first occurrence of a key wins; a piece without "=" is a key
// with the empty value; "+" reads as a blank.
//
// Stateless; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/crypto/Digest.h"
#include "platform/values/Value.h"

platform::Digest::Md5 apm_MD5Data(std::span<const uint8_t> data);
// The last min(8, length) bytes read as a big-endian unsigned number.
uint64_t apm_64LeastSignificantBits(std::span<const uint8_t> data);
// Bytes 8..15 of the MD5 digest, big-endian, as a signed number.
int64_t apm_64LSBMD5(std::span<const uint8_t> data);
// 32 lower-case hexadecimal digits of the MD5 of the UTF-8 bytes; none for
// text that is not valid UTF-8.
std::optional<std::string> apm_MD5String(std::string_view text);
// The MD5-based fingerprint of a string's UTF-8 bytes.
int64_t apm_64LSBMD5(std::string_view text);

std::string apm_queryString(const platform::Dictionary& dictionary);
// "a=1&b=2" -> {a: "1", b: "2"}; the first occurrence of a key wins. A key or
// value whose percent encoding is malformed reads as "", or as its text as
// written with keepMalformedEscapes.
platform::Dictionary apm_dictionaryWithHttpArgumentsString(std::string_view text, bool keepMalformedEscapes = false);
// "+" becomes a blank, then percent encoding is removed; none when that
// encoding is malformed or does not decode to UTF-8.
std::optional<std::string> apm_stringByUnescapingFromURLArgument(std::string_view text);

// YES when 0 <= index < length (UTF-16 units) and the character there is "1".
bool isBitEnabledAtIndex(std::string_view text, int64_t index);

size_t apm_UTF32Length(std::string_view text);
// Writes the UTF-32 little-endian code points from the start of the text,
// whole code points only, at most maxBytes bytes.
void apm_getUTF32Bytes(std::string_view text, uint8_t* buffer, size_t maxBytes);
