#include "measurement/base/APMDataUtil.h"

#include <algorithm>
#include <vector>

#include "platform/text/PercentEncoding.h"
#include "platform/text/Unicode.h"

platform::Digest::Md5 apm_MD5Data(std::span<const uint8_t> data) { return platform::Digest::md5(data); }

uint64_t apm_64LeastSignificantBits(std::span<const uint8_t> data) {
  const size_t count = std::min<size_t>(8, data.size());
  uint64_t bits = 0;
  for (size_t index = data.size() - count; index < data.size(); ++index) bits = (bits << 8) | data[index];
  return bits;
}

int64_t apm_64LSBMD5(std::span<const uint8_t> data) {
  const platform::Digest::Md5 digest = apm_MD5Data(data);
  return static_cast<int64_t>(apm_64LeastSignificantBits(digest));
}

int64_t apm_64LSBMD5(std::string_view text) {
  return apm_64LSBMD5(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<std::string> apm_MD5String(std::string_view text) {
  if (!platform::Unicode::isValidUtf8(text)) return std::nullopt;
  return platform::Digest::hex(platform::Digest::md5(text));
}

std::string apm_queryString(const platform::Dictionary& dictionary) {
  std::string query;
  for (const auto& [key, value] : dictionary) {
    if (!query.empty()) query += '&';
    query += platform::PercentEncoding::encodeFormComponent(key) + "=" +
             platform::PercentEncoding::encodeFormComponent(value.description());
  }
  return query;
}

platform::Dictionary apm_dictionaryWithHttpArgumentsString(std::string_view text, bool keepMalformedEscapes) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  while (true) {
    const size_t end = text.find('&', start);
    pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  platform::Dictionary arguments;
  for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
    if (piece->empty()) continue;
    const size_t equals = piece->find('=');
    std::string_view key = equals == std::string_view::npos ? *piece : piece->substr(0, equals);
    std::string_view value = equals == std::string_view::npos ? std::string_view() : piece->substr(equals + 1);
    auto unescape = [keepMalformedEscapes](std::string_view part) {
      return apm_stringByUnescapingFromURLArgument(part).value_or(keepMalformedEscapes ? std::string(part) : "");
    };
    arguments.set(unescape(key), platform::Value(unescape(value)));
  }
  return arguments;
}

std::optional<std::string> apm_stringByUnescapingFromURLArgument(std::string_view text) {
  std::string spaced(text);
  std::replace(spaced.begin(), spaced.end(), '+', ' ');
  return platform::PercentEncoding::decode(spaced);
}

bool isBitEnabledAtIndex(std::string_view text, int64_t index) {
  if (index < 0) return false;
  const std::u16string units = platform::Unicode::toUtf16(text);
  return static_cast<uint64_t>(index) < units.size() && units[static_cast<size_t>(index)] == u'1';
}

size_t apm_UTF32Length(std::string_view text) { return platform::Unicode::codePointCount(text); }

void apm_getUTF32Bytes(std::string_view text, uint8_t* buffer, size_t maxBytes) {
  if (buffer == nullptr) return;
  const std::u16string units = platform::Unicode::toUtf16(text);
  size_t written = 0;
  for (size_t index = 0; index < units.size() && written + 4 <= maxBytes; ++index) {
    char32_t point = units[index];
    if (point >= 0xD800 && point <= 0xDBFF && index + 1 < units.size() && units[index + 1] >= 0xDC00 &&
        units[index + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (units[index + 1] - 0xDC00);
      ++index;
    }
    for (int shift = 0; shift < 32; shift += 8) buffer[written++] = static_cast<uint8_t>(point >> shift);
  }
}
