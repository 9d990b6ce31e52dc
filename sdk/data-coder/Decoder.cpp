#include "sdk/data-coder/Decoder.h"

#include <cfloat>

#include "platform/text/Base64.h"
#include "platform/time/Iso8601.h"
#include "sdk/data-coder/Coding.h"
#include "sdk/data-coder/SnakeCase.h"

namespace coding {

using platform::Value;

namespace {

DecodingError mismatch(const std::string& type, const Value& found, const CodingPath& path) {
  return DecodingError::typeMismatch(
      type, {path, "Expected to decode " + type + " but found " + found.typeDescription() + " instead."});
}

constexpr const char* kDictionaryType = "Dictionary<String, Any>";
constexpr const char* kArrayType = "Array<Any>";

std::string keyedContainerType(const std::string& keyTypeName) {
  return "KeyedDecodingContainer<" + keyTypeName + ">";
}

}  // namespace

Decoder::Decoder(Value container, DecoderOptions options, CodingPath codingPath)
    : m_options(std::move(options)), m_codingPath(std::move(codingPath)) {
  m_storage.push_back(std::move(container));
}

DecodingError Decoder::typeMismatch(const std::string& type, const Value& found) const {
  return mismatch(type, found, m_codingPath);
}

DecodingError Decoder::dataCorrupted(std::string description) const {
  return DecodingError::dataCorrupted({m_codingPath, std::move(description)});
}

void Decoder::requireNonNull(const std::string& type) const {
  if (topContainer().isNull()) {
    throw DecodingError::valueNotFound(type, {m_codingPath, "Expected " + type + " but found null value instead."});
  }
}

Value Decoder::numberViewOf(const Value& node) {
  if (auto protocolValue = node.asOpaque<RirivuduRemoteConfigValueDecoding>()) return protocolValue->numberValue();
  return node;
}

KeyedDecodingContainer Decoder::container(std::string keyTypeName) {
  const Value& top = topContainer();
  if (top.isNull()) {
    throw DecodingError::valueNotFound(
        keyedContainerType(keyTypeName),
        {m_codingPath, "Cannot get keyed decoding container -- found null value instead."});
  }
  std::optional<platform::Dictionary> dictionary;
  if (auto protocolValue = top.asOpaque<RirivuduRemoteConfigValueDecoding>()) {
    dictionary = protocolValue->dictionaryValue();
  } else {
    dictionary = top.asDictionary();
  }
  if (!dictionary) throw typeMismatch(kDictionaryType, top);
  return KeyedDecodingContainer(shared_from_this(), *dictionary, std::move(keyTypeName));
}

UnkeyedDecodingContainer Decoder::unkeyedContainer() {
  const Value& top = topContainer();
  if (top.isNull()) {
    throw DecodingError::valueNotFound(
        "UnkeyedDecodingContainer", {m_codingPath, "Cannot get unkeyed decoding container -- found null value instead."});
  }
  std::optional<platform::Array> array;
  if (auto protocolValue = top.asOpaque<RirivuduRemoteConfigValueDecoding>()) {
    array = protocolValue->arrayValue();
  } else {
    array = top.asArray();
  }
  if (!array) throw typeMismatch(kArrayType, top);
  return UnkeyedDecodingContainer(shared_from_this(), *array, m_codingPath);
}

std::optional<bool> Decoder::convertToBool(const Value& node) const {
  if (node.isNull()) return std::nullopt;
  if (auto protocolValue = node.asOpaque<RirivuduRemoteConfigValueDecoding>()) return protocolValue->boolValue();
  if (node.isTrueObject()) return true;
  if (node.isFalseObject()) return false;
  throw typeMismatch("Bool", node);
}

std::optional<std::string> Decoder::convertToString(const Value& node) const {
  if (node.isNull()) return std::nullopt;
  if (auto protocolValue = node.asOpaque<RirivuduRemoteConfigValueDecoding>()) return protocolValue->stringValue();
  if (const std::string* text = node.asString()) return *text;
  throw typeMismatch("String", node);
}

namespace {
// The non-conforming strings of the decoder's strategy: +inf, -inf, NaN.
std::optional<double> nonConformingValue(const Value& number, const NonConformingFloatDecodingStrategy& strategy) {
  const std::string* text = number.asString();
  if (text == nullptr || strategy.kind != NonConformingFloatDecodingStrategy::Kind::ConvertFromString) {
    return std::nullopt;
  }
  if (*text == strategy.strings.positiveInfinity) return std::numeric_limits<double>::infinity();
  if (*text == strategy.strings.negativeInfinity) return -std::numeric_limits<double>::infinity();
  if (*text == strategy.strings.nan) return std::numeric_limits<double>::quiet_NaN();
  return std::nullopt;
}
}  // namespace

std::optional<double> Decoder::convertToDouble(const Value& node) const {
  if (node.isNull()) return std::nullopt;
  Value number = numberViewOf(node);
  if (number.isNumber()) return number.doubleValue();
  if (std::optional<double> special = nonConformingValue(number, m_options.nonConformingFloatDecodingStrategy)) {
    return special;
  }
  throw typeMismatch("Double", node);
}

std::optional<float> Decoder::convertToFloat(const Value& node) const {
  if (node.isNull()) return std::nullopt;
  Value number = numberViewOf(node);
  if (number.isNumber()) {
    const double d = number.doubleValue();
    if (!(std::fabs(d) <= static_cast<double>(FLT_MAX))) {
      throw dataCorrupted("Parsed JSON number " + number.stringValue() + " does not fit in Float.");
    }
    return static_cast<float>(d);
  }
  if (std::optional<double> special = nonConformingValue(number, m_options.nonConformingFloatDecodingStrategy)) {
    return static_cast<float>(*special);
  }
  throw typeMismatch("Float", node);
}

std::optional<Decimal> Decoder::convertToDecimal(const Value& node) const {
  if (node.isNull()) return std::nullopt;
  Value number = numberViewOf(node);
  if (std::optional<Decimal> decimal = Decimal::fromNode(number)) return decimal;
  std::optional<double> d = convertToDouble(number);
  if (!d) return std::nullopt;
  return Decimal::fromDouble(*d);
}

std::optional<Date> Decoder::convertToDate(const Value& node) {
  if (node.isNull()) return std::nullopt;
  const DateDecodingStrategy& strategy = m_options.dateDecodingStrategy;
  switch (strategy.kind) {
    case DateDecodingStrategy::Kind::DeferredToDate:
      return withPushed<Date>(node, [&] { return std::optional<Date>(CodingTraits<Date>::decode(*this)); });
    case DateDecodingStrategy::Kind::SecondsSince1970: {
      std::optional<double> seconds = convertToDouble(node);
      if (!seconds) return std::nullopt;
      return Date{*seconds};
    }
    case DateDecodingStrategy::Kind::MillisecondsSince1970: {
      std::optional<double> milliseconds = convertToDouble(node);
      if (!milliseconds) return std::nullopt;
      return Date{*milliseconds / 1000.0};
    }
    case DateDecodingStrategy::Kind::Iso8601: {
      std::optional<std::string> text = convertToString(node);
      if (!text) return std::nullopt;
      std::optional<double> seconds = platform::Iso8601::parse(*text);
      if (!seconds) throw dataCorrupted("Expected date string to be ISO8601-formatted.");
      return Date{*seconds};
    }
    case DateDecodingStrategy::Kind::Formatted: {
      std::optional<std::string> text = convertToString(node);
      if (!text) return std::nullopt;
      std::optional<double> seconds =
          strategy.formatter ? strategy.formatter->parse(*text) : std::optional<double>();
      if (!seconds) throw dataCorrupted("Date string does not match format expected by formatter.");
      return Date{*seconds};
    }
    case DateDecodingStrategy::Kind::Custom:
      return withPushed<Date>(node, [&]() -> std::optional<Date> {
        if (!strategy.closure) return std::nullopt;
        return strategy.closure(*this);
      });
  }
  return std::nullopt;
}

std::optional<Data> Decoder::convertToData(const Value& node) {
  if (node.isNull()) return std::nullopt;
  if (auto protocolValue = node.asOpaque<RirivuduRemoteConfigValueDecoding>()) {
    return Data{protocolValue->dataValue()};
  }
  const DataDecodingStrategy& strategy = m_options.dataDecodingStrategy;
  auto base64 = [](const Value& value) -> std::optional<platform::Bytes> {
    const std::string* text = value.asString();
    if (text == nullptr) return std::nullopt;
    return platform::Base64::decode(*text, platform::Base64::Alphabet::Standard, platform::Base64::Padding::Required);
  };
  switch (strategy.kind) {
    case DataDecodingStrategy::Kind::DeferredToData:
      return withPushed<Data>(node, [&] { return std::optional<Data>(CodingTraits<Data>::decode(*this)); });
    case DataDecodingStrategy::Kind::Base64: {
      if (!node.isString()) throw typeMismatch("Data", node);
      std::optional<platform::Bytes> bytes = base64(node);
      if (!bytes) throw dataCorrupted("Encountered Data is not valid Base64.");
      return Data{std::move(*bytes)};
    }
    case DataDecodingStrategy::Kind::Blob: {
      if (const platform::Bytes* bytes = node.asData()) return Data{*bytes};
      std::optional<platform::Bytes> bytes = base64(node);
      if (!bytes) throw typeMismatch("Data", node);
      return Data{std::move(*bytes)};
    }
    case DataDecodingStrategy::Kind::Custom:
      return withPushed<Data>(node, [&]() -> std::optional<Data> {
        if (!strategy.closure) return std::nullopt;
        return strategy.closure(*this);
      });
  }
  return std::nullopt;
}

std::optional<URL> Decoder::convertToURL(const Value& node) const {
  std::optional<std::string> text = convertToString(node);
  if (!text) return std::nullopt;
  std::optional<URL> url = URL::parse(*text);
  if (!url) throw dataCorrupted("Invalid URL string.");
  return url;
}

// --- keyed container ----------------------------------------------------------

KeyedDecodingContainer::KeyedDecodingContainer(std::shared_ptr<Decoder> decoder,
                                               const platform::Dictionary& dictionary, std::string keyTypeName)
    : m_decoder(std::move(decoder)), m_codingPath(m_decoder->codingPath()), m_keyTypeName(std::move(keyTypeName)) {
  const KeyDecodingStrategy& strategy = m_decoder->options().keyDecodingStrategy;
  switch (strategy.kind) {
    case KeyDecodingStrategy::Kind::UseDefaultKeys:
      m_container = dictionary;
      break;
    case KeyDecodingStrategy::Kind::ConvertFromSnakeCase:
    case KeyDecodingStrategy::Kind::Custom:
      for (const auto& [key, value] : dictionary) {
        std::string converted;
        if (strategy.kind == KeyDecodingStrategy::Kind::ConvertFromSnakeCase || !strategy.closure) {
          converted = strategy.kind == KeyDecodingStrategy::Kind::ConvertFromSnakeCase ? convertFromSnakeCase(key) : key;
        } else {
          CodingPath path = m_decoder->codingPath();
          path.push_back(CodingKey::json(key));
          converted = strategy.closure(path).stringValue;
        }
        if (!m_container.contains(converted)) m_container.set(converted, value);
      }
      break;
  }
}

std::string KeyedDecodingContainer::convertFromSnakeCase(const std::string& key) {
  if (key.empty()) return key;
  const size_t first = key.find_first_not_of('_');
  if (first == std::string::npos) return key;
  const size_t last = key.find_last_not_of('_');
  const std::string middle = key.substr(first, last - first + 1);
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= middle.size()) {
    size_t end = middle.find('_', start);
    if (end == std::string::npos) end = middle.size();
    if (end > start) pieces.push_back(middle.substr(start, end - start));
    start = end + 1;
  }
  std::string joined;
  if (pieces.size() == 1) {
    joined = middle;
  } else {
    joined = lowercased(pieces[0]);
    for (size_t index = 1; index < pieces.size(); ++index) joined += capitalized(pieces[index]);
  }
  return key.substr(0, first) + joined + key.substr(last + 1);
}

std::string KeyedDecodingContainer::errorDescription(const CodingKey& key) const {
  std::string plain = key.description() + " (\"" + key.stringValue + "\")";
  if (m_decoder->options().keyDecodingStrategy.kind != KeyDecodingStrategy::Kind::ConvertFromSnakeCase) return plain;
  const std::string& name = key.stringValue;
  const std::string snake = toSnakeCase(name);
  if (snake == name) return plain;
  const std::string back = convertFromSnakeCase(snake);
  if (back == name) return plain + ", converted to " + snake;
  return plain + ", with divergent representation " + back + ", converted to " + snake;
}

std::vector<CodingKey> KeyedDecodingContainer::allKeys() const {
  std::vector<CodingKey> keys;
  for (const std::string& key : m_container.keys()) keys.emplace_back(key, std::nullopt, m_keyTypeName);
  return keys;
}

DecodingError KeyedDecodingContainer::keyNotFound(const CodingKey& key, const CodingPath& path,
                                                  std::string description) const {
  return DecodingError::keyNotFound(key, {path, std::move(description)});
}

const Value& KeyedDecodingContainer::lookUp(const CodingKey& key) const {
  const Value* entry = m_container.find(key.stringValue);
  if (entry == nullptr) {
    throw keyNotFound(key, m_decoder->codingPath(), "No value associated with key " + errorDescription(key) + ".");
  }
  return *entry;
}

bool KeyedDecodingContainer::decodeNil(const CodingKey& key) const { return lookUp(key).isNull(); }

KeyedDecodingContainer KeyedDecodingContainer::nestedContainer(const CodingKey& key, std::string keyTypeName) {
  DecoderPathScope scope(*m_decoder, key);
  const Value* entry = m_container.find(key.stringValue);
  if (entry == nullptr) {
    throw keyNotFound(key, m_codingPath,
                      "Cannot get " + keyedContainerType(keyTypeName) + " -- no value found for key " +
                          errorDescription(key));
  }
  std::optional<platform::Dictionary> dictionary = entry->asDictionary();
  if (!dictionary) throw mismatch(kDictionaryType, *entry, m_codingPath);
  return KeyedDecodingContainer(m_decoder, *dictionary, std::move(keyTypeName));
}

UnkeyedDecodingContainer KeyedDecodingContainer::nestedUnkeyedContainer(const CodingKey& key) {
  DecoderPathScope scope(*m_decoder, key);
  const Value* entry = m_container.find(key.stringValue);
  if (entry == nullptr) {
    throw keyNotFound(key, m_codingPath,
                      "Cannot get UnkeyedDecodingContainer -- no value found for key " + errorDescription(key));
  }
  std::optional<platform::Array> array = entry->asArray();
  if (!array) throw mismatch(kArrayType, *entry, m_codingPath);
  return UnkeyedDecodingContainer(m_decoder, *array, m_decoder->codingPath());
}

std::shared_ptr<Decoder> KeyedDecodingContainer::superDecoder() { return superDecoder(CodingKey::super()); }

std::shared_ptr<Decoder> KeyedDecodingContainer::superDecoder(const CodingKey& key) {
  DecoderPathScope scope(*m_decoder, key);
  Value value = m_container.get(key.stringValue);
  return std::make_shared<Decoder>(value, m_decoder->options(), m_decoder->codingPath());
}

// --- unkeyed container --------------------------------------------------------

CodingPath UnkeyedDecodingContainer::pathWithCurrentIndex() const {
  CodingPath path = m_decoder->codingPath();
  path.push_back(CodingKey::index(static_cast<int64_t>(m_currentIndex)));
  return path;
}

bool UnkeyedDecodingContainer::decodeNil() {
  if (isAtEnd()) {
    throw DecodingError::valueNotFound("Optional<Any>", {pathWithCurrentIndex(), "Unkeyed container is at end."});
  }
  if (!m_container[m_currentIndex].isNull()) return false;
  ++m_currentIndex;
  return true;
}

KeyedDecodingContainer UnkeyedDecodingContainer::nestedContainer(std::string keyTypeName) {
  DecoderPathScope scope(*m_decoder, CodingKey::index(static_cast<int64_t>(m_currentIndex)));
  const std::string type = keyedContainerType(keyTypeName);
  if (isAtEnd()) {
    throw DecodingError::valueNotFound(
        type, {m_codingPath, "Cannot get nested keyed container -- unkeyed container is at end."});
  }
  const Value& element = m_container[m_currentIndex];
  if (element.isNull()) {
    throw DecodingError::valueNotFound(
        type, {m_codingPath, "Cannot get keyed decoding container -- found null value instead."});
  }
  std::optional<platform::Dictionary> dictionary = element.asDictionary();
  if (!dictionary) throw mismatch(kDictionaryType, element, m_codingPath);
  ++m_currentIndex;
  return KeyedDecodingContainer(m_decoder, *dictionary, std::move(keyTypeName));
}

UnkeyedDecodingContainer UnkeyedDecodingContainer::nestedUnkeyedContainer() {
  DecoderPathScope scope(*m_decoder, CodingKey::index(static_cast<int64_t>(m_currentIndex)));
  if (isAtEnd()) {
    throw DecodingError::valueNotFound(
        "UnkeyedDecodingContainer",
        {m_codingPath, "Cannot get nested keyed container -- unkeyed container is at end."});
  }
  const Value& element = m_container[m_currentIndex];
  if (element.isNull()) {
    throw DecodingError::valueNotFound(
        "UnkeyedDecodingContainer",
        {m_codingPath, "Cannot get keyed decoding container -- found null value instead."});
  }
  std::optional<platform::Array> array = element.asArray();
  if (!array) throw mismatch(kArrayType, element, m_codingPath);
  ++m_currentIndex;
  return UnkeyedDecodingContainer(m_decoder, *array, m_decoder->codingPath());
}

std::shared_ptr<Decoder> UnkeyedDecodingContainer::superDecoder() {
  DecoderPathScope scope(*m_decoder, CodingKey::index(static_cast<int64_t>(m_currentIndex)));
  if (isAtEnd()) {
    throw DecodingError::valueNotFound(
        "Decoder", {m_codingPath, "Cannot get superDecoder() -- unkeyed container is at end."});
  }
  Value element = m_container[m_currentIndex];
  ++m_currentIndex;
  return std::make_shared<Decoder>(element, m_decoder->options(), m_decoder->codingPath());
}

}  // namespace coding
