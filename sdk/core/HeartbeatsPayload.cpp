#include "sdk/core/HeartbeatsPayload.h"

#include "platform/storage/Json.h"
#include "platform/text/Base64.h"
#include "sdk/utilities/ZULGzip.h"

namespace RirivuduCoreInternal {

const HeartbeatsPayload& HeartbeatsPayload::empty() {
  static const HeartbeatsPayload kEmpty;
  return kEmpty;
}

const platform::DateFormatter& HeartbeatsPayload::dateFormatter() {
  static const platform::DateFormatter kFormatter("yyyy-MM-dd", platform::DateFormatter::Zone::utc());
  return kFormatter;
}

platform::Value HeartbeatsPayload::encode() const {
  platform::Array heartbeats;
  for (const UserAgentPayload& entry : userAgentPayloads) {
    platform::Array dates;
    for (double date : entry.dates) dates.append(platform::Value(dateFormatter().format(date)));
    heartbeats.append(platform::Value(
        platform::Dictionary{{"agent", platform::Value(entry.agent)}, {"dates", platform::Value(dates)}}));
  }
  return platform::Value(
      platform::Dictionary{{"heartbeats", platform::Value(heartbeats)}, {"version", platform::Value(version)}});
}

std::optional<HeartbeatsPayload> HeartbeatsPayload::decode(const platform::Value& value) {
  std::optional<platform::Array> heartbeats = value["heartbeats"].asArray();
  std::optional<int64_t> version = value["version"].asInt64();
  if (!heartbeats || !version) return std::nullopt;
  HeartbeatsPayload payload;
  payload.version = *version;
  for (const platform::Value& raw : *heartbeats) {
    const std::string* agent = raw["agent"].asString();
    std::optional<platform::Array> dates = raw["dates"].asArray();
    if (agent == nullptr || !dates) return std::nullopt;
    UserAgentPayload entry{*agent, {}};
    for (const platform::Value& text : *dates) {
      std::optional<double> date = text.isString() ? dateFormatter().parse(*text.asString()) : std::nullopt;
      if (!date) return std::nullopt;
      entry.dates.push_back(*date);
    }
    payload.userAgentPayloads.push_back(std::move(entry));
  }
  return payload;
}

std::string HeartbeatsPayload::headerValue() const {
  platform::Result<platform::Bytes> json = platform::Json::serializeData(encode());
  if (!json) return this == &empty() ? std::string() : empty().headerValue();
  std::optional<platform::Bytes> compressed = zipped(*json);
  return base64URLEncodedString(compressed ? *compressed : *json);
}

std::optional<platform::Bytes> zipped(const platform::Bytes& data, platform::Error* error) {
  return ZULGzip::zul_dataByGzippingData(data, error);
}

std::optional<platform::Bytes> unzipped(const platform::Bytes& data, platform::Error* error) {
  return ZULGzip::zul_dataByInflatingGzippedData(data, error);
}

std::string base64URLEncodedString(const platform::Bytes& data) {
  std::string text = platform::Base64::encode(data, platform::Base64::Alphabet::Standard, false);
  for (char& c : text) {
    if (c == '/') c = '_';
    else if (c == '+') c = '-';
  }
  return text;
}

std::optional<platform::Bytes> base64URLEncoded(std::string_view text) {
  std::string standard(text);
  for (char& c : standard) {
    if (c == '_') c = '/';
    else if (c == '-') c = '+';
  }
  while (standard.size() % 4 != 0) standard.push_back('=');
  return platform::Base64::decode(standard, platform::Base64::Alphabet::Standard,
                                  platform::Base64::Padding::Required);
}

}  // namespace RirivuduCoreInternal
