// Trees decoded by the data coder come from outside (remote configuration
// values are JSON): decoding any tree as any type gives a value or a
// DecodingError, never a crash or another exception; a decoded value encodes
// and decodes back equal (member names are ones whose snake-case form
// converts back); the key conversions take any text.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storage/Json.h"
#include "sdk/data-coder/RirivuduDataDecoder.h"
#include "sdk/data-coder/RirivuduDataEncoder.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

struct Record {
  std::optional<std::string> firstName;
  std::optional<long long> userNumber;
  std::optional<std::vector<double>> scores;
  std::optional<coding::Data> payload;
  std::optional<std::map<std::string, bool>> flags;

  void encode(coding::Encoder& encoder) const {
    auto c = encoder.container();
    c.encodeIfPresent(firstName, "firstName");
    c.encodeIfPresent(userNumber, "userNumber");
    c.encodeIfPresent(scores, "scores");
    c.encodeIfPresent(payload, "payload");
    c.encodeIfPresent(flags, "flags");
  }
  static Record decode(coding::Decoder& decoder) {
    auto c = decoder.container();
    Record r;
    r.firstName = c.decodeIfPresent<std::string>("firstName");
    r.userNumber = c.decodeIfPresent<long long>("userNumber");
    r.scores = c.decodeIfPresent<std::vector<double>>("scores");
    r.payload = c.decodeIfPresent<coding::Data>("payload");
    r.flags = c.decodeIfPresent<std::map<std::string, bool>>("flags");
    return r;
  }
  bool operator==(const Record&) const = default;
};

// Decodes as T; a decoded value round-trips through the encoder.
template <class T>
void attempt(const RirivuduDataDecoder& decoder, const RirivuduDataEncoder& encoder, const platform::Value& tree) {
  std::optional<T> value;
  try {
    value = decoder.decode<T>(tree);
  } catch (const coding::DecodingError&) {
    return;
  }
  platform::Value encoded;
  try {
    encoded = encoder.encode(*value);
  } catch (const coding::EncodingError&) {
    return;  // a non-finite number under the throwing strategy
  }
  FUZZ_CHECK(decoder.decode<T>(encoded) == *value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)coding::toSnakeCase(text);
  (void)coding::KeyedDecodingContainer::convertFromSnakeCase(std::string(text));

  platform::JsonReadOptions read;
  read.allowFragments = true;
  platform::Result<platform::Value> parsed = platform::Json::parse(text, read);
  if (!parsed.ok()) return 0;
  const platform::Value& tree = parsed.value();

  for (bool snake : {false, true}) {
    RirivuduDataDecoder decoder;
    RirivuduDataEncoder encoder;
    if (snake) {
      decoder.setKeyDecodingStrategy(coding::KeyDecodingStrategy::convertFromSnakeCase());
      encoder.setKeyEncodingStrategy(coding::KeyEncodingStrategy::convertToSnakeCase());
      decoder.setDateDecodingStrategy(coding::DateDecodingStrategy::secondsSince1970());
      encoder.setDateEncodingStrategy(coding::DateEncodingStrategy::secondsSince1970());
    }
    attempt<long long>(decoder, encoder, tree);
    attempt<int8_t>(decoder, encoder, tree);
    attempt<uint64_t>(decoder, encoder, tree);
    attempt<float>(decoder, encoder, tree);
    attempt<bool>(decoder, encoder, tree);
    attempt<std::string>(decoder, encoder, tree);
    attempt<coding::Data>(decoder, encoder, tree);
    attempt<std::vector<std::optional<int32_t>>>(decoder, encoder, tree);
    attempt<std::map<std::string, std::vector<std::string>>>(decoder, encoder, tree);
    attempt<std::vector<Record>>(decoder, encoder, tree);
    attempt<Record>(decoder, encoder, tree);
    try {
      (void)decoder.decode<coding::Date>(tree);
    } catch (const coding::DecodingError&) {
    }
  }
  return 0;
}
