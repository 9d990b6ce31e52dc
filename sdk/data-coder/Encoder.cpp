#include "sdk/data-coder/Encoder.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/text/Base64.h"
#include "platform/time/Iso8601.h"
#include "platform/values/Exception.h"
#include "sdk/data-coder/Coding.h"
#include "sdk/data-coder/SnakeCase.h"

namespace coding {

using platform::Value;

Encoder::Encoder(EncoderOptions options, CodingPath codingPath)
    : m_options(std::move(options)), m_codingPath(std::move(codingPath)) {}

Encoder::~Encoder() = default;

Value Encoder::pop() {
  if (m_storage.empty()) {
    platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                               "Empty container stack.");
  }
  Value top = std::move(m_storage.back());
  m_storage.pop_back();
  return top;
}

void Encoder::requireNewValue() const {
  if (!acceptsNewValue()) {
    platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                               "Attempt to encode value through single value container when previously value "
                               "already encoded.");
  }
}

KeyedEncodingContainer Encoder::container() {
  platform::Dictionary dictionary;
  if (acceptsNewValue()) {
    push(Value(dictionary));
  } else {
    std::optional<platform::Dictionary> top =
        m_storage.empty() ? std::nullopt : m_storage.back().asDictionary();
    if (!top) {
      platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                                 "Attempt to push new keyed encoding container when already previously encoded at "
                                 "this path.");
    }
    dictionary = *top;
  }
  return KeyedEncodingContainer(shared_from_this(), m_codingPath, dictionary);
}

UnkeyedEncodingContainer Encoder::unkeyedContainer() {
  platform::Array array;
  if (acceptsNewValue()) {
    push(Value(array));
  } else {
    std::optional<platform::Array> top = m_storage.empty() ? std::nullopt : m_storage.back().asArray();
    if (!top) {
      platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                                 "Attempt to push new unkeyed encoding container when already previously encoded "
                                 "at this path.");
    }
    array = *top;
  }
  return UnkeyedEncodingContainer(shared_from_this(), m_codingPath, array);
}

void Encoder::encodeNil() {
  requireNewValue();
  push(Value());
}

Value Encoder::boxFloat(double value, bool isFloat) const {
  if (std::isfinite(value)) {
    return isFloat ? Value(static_cast<float>(value)) : Value(value);
  }
  const NonConformingFloatEncodingStrategy& strategy = m_options.nonConformingFloatEncodingStrategy;
  if (strategy.kind == NonConformingFloatEncodingStrategy::Kind::ConvertToString) {
    if (std::isnan(value)) return Value(strategy.strings.nan);
    return Value(value > 0 ? strategy.strings.positiveInfinity : strategy.strings.negativeInfinity);
  }
  const std::string type = isFloat ? "Float" : "Double";
  std::string name = std::isnan(value) ? type + ".nan" : (value > 0 ? "" : "-") + type + ".infinity";
  throw EncodingError(isFloat ? Value(static_cast<float>(value)) : Value(value),
                      {m_codingPath, "Unable to encode " + name +
                                         " directly in JSON. Use JSONEncoder.NonConformingFloatEncodingStrategy."
                                         "convertToString to specify how the value should be encoded."});
}

Value Encoder::boxDate(const Date& date) {
  const DateEncodingStrategy& strategy = m_options.dateEncodingStrategy;
  switch (strategy.kind) {
    case DateEncodingStrategy::Kind::DeferredToDate: {
      CodingTraits<Date>::encode(date, *this);
      return pop();
    }
    case DateEncodingStrategy::Kind::SecondsSince1970:
      return Value(date.secondsSince1970);
    case DateEncodingStrategy::Kind::MillisecondsSince1970:
      return Value(1000.0 * date.secondsSince1970);
    case DateEncodingStrategy::Kind::Iso8601:
      return Value(platform::Iso8601::format(date.secondsSince1970));
    case DateEncodingStrategy::Kind::Formatted:
      return Value(strategy.formatter ? strategy.formatter->format(date.secondsSince1970) : std::string());
    case DateEncodingStrategy::Kind::Custom: {
      std::optional<Value> node = takePushed([&] {
        if (strategy.closure) strategy.closure(date, *this);
      });
      return node ? std::move(*node) : Value(platform::Dictionary());
    }
  }
  return Value();
}

Value Encoder::boxData(const Data& data) {
  const DataEncodingStrategy& strategy = m_options.dataEncodingStrategy;
  switch (strategy.kind) {
    case DataEncodingStrategy::Kind::DeferredToData: {
      std::optional<Value> node = takePushed([&] { CodingTraits<Data>::encode(data, *this); });
      if (!node) {
        platform::Exception::raise(platform::Exception::kInternalInconsistencyException, "Empty container stack.");
      }
      return std::move(*node);
    }
    case DataEncodingStrategy::Kind::Base64:
      return Value(platform::Base64::encode(data.bytes));
    case DataEncodingStrategy::Kind::Blob:
      return Value::data(data.bytes);
    case DataEncodingStrategy::Kind::Custom: {
      std::optional<Value> node = takePushed([&] {
        if (strategy.closure) strategy.closure(data, *this);
      });
      return node ? std::move(*node) : Value(platform::Dictionary());
    }
  }
  return Value();
}

CodingKey Encoder::convertedKey(const CodingKey& key, const CodingPath& containerPath) const {
  const KeyEncodingStrategy& strategy = m_options.keyEncodingStrategy;
  switch (strategy.kind) {
    case KeyEncodingStrategy::Kind::UseDefaultKeys:
      return key;
    case KeyEncodingStrategy::Kind::ConvertToSnakeCase:
      return CodingKey(toSnakeCase(key.stringValue), key.intValue, CodingKey::kCoderTypeName);
    case KeyEncodingStrategy::Kind::Custom: {
      if (!strategy.closure) return key;
      CodingPath path = containerPath;
      path.push_back(key);
      return strategy.closure(path);
    }
  }
  return key;
}

// --- keyed container ----------------------------------------------------------

void KeyedEncodingContainer::encodeNil(const CodingKey& key) {
  m_container.set(m_encoder->convertedKey(key, m_codingPath).stringValue, Value());
}

KeyedEncodingContainer KeyedEncodingContainer::nestedContainer(const CodingKey& key) {
  const std::string slot = m_encoder->convertedKey(key, m_codingPath).stringValue;
  platform::Dictionary dictionary;
  if (const Value* existing = m_container.find(slot)) {
    std::optional<platform::Dictionary> found = existing->asDictionary();
    if (!found) {
      platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                                 "Attempt to re-encode into nested KeyedEncodingContainer for key \"" + slot +
                                     "\" is invalid: non-keyed container already encoded for this key");
    }
    dictionary = *found;
  } else {
    m_container.set(slot, Value(dictionary));
  }
  CodingPath path = m_codingPath;
  path.push_back(key);
  return KeyedEncodingContainer(m_encoder, std::move(path), dictionary);
}

UnkeyedEncodingContainer KeyedEncodingContainer::nestedUnkeyedContainer(const CodingKey& key) {
  const std::string slot = m_encoder->convertedKey(key, m_codingPath).stringValue;
  platform::Array array;
  if (const Value* existing = m_container.find(slot)) {
    std::optional<platform::Array> found = existing->asArray();
    if (!found) {
      platform::Exception::raise(platform::Exception::kInternalInconsistencyException,
                                 "Attempt to re-encode into nested UnkeyedEncodingContainer for key \"" + slot +
                                     "\" is invalid: keyed container/single value already encoded for this key");
    }
    array = *found;
  } else {
    m_container.set(slot, Value(array));
  }
  CodingPath path = m_codingPath;
  path.push_back(key);
  return UnkeyedEncodingContainer(m_encoder, std::move(path), array);
}

std::shared_ptr<Encoder> KeyedEncodingContainer::superEncoder() { return superEncoder(CodingKey::super()); }

std::shared_ptr<Encoder> KeyedEncodingContainer::superEncoder(const CodingKey& key) {
  const std::string slot = m_encoder->convertedKey(key, m_codingPath).stringValue;
  return std::make_shared<ReferencingEncoder>(m_encoder, key,
                                              ReferencingEncoder::Reference::inDictionary(m_container, slot));
}

// --- unkeyed container --------------------------------------------------------

KeyedEncodingContainer UnkeyedEncodingContainer::nestedContainer() {
  CodingPath path = m_codingPath;
  path.push_back(CodingKey::index(static_cast<int64_t>(count())));
  platform::Dictionary dictionary;
  m_container.append(Value(dictionary));
  return KeyedEncodingContainer(m_encoder, std::move(path), dictionary);
}

UnkeyedEncodingContainer UnkeyedEncodingContainer::nestedUnkeyedContainer() {
  CodingPath path = m_codingPath;
  path.push_back(CodingKey::index(static_cast<int64_t>(count())));
  platform::Array array;
  m_container.append(Value(array));
  return UnkeyedEncodingContainer(m_encoder, std::move(path), array);
}

std::shared_ptr<Encoder> UnkeyedEncodingContainer::superEncoder() {
  const size_t index = count();
  return std::make_shared<ReferencingEncoder>(m_encoder, CodingKey::index(static_cast<int64_t>(index)),
                                              ReferencingEncoder::Reference::inArray(m_container, index));
}

// --- super-encoder --------------------------------------------------------------

namespace {
CodingPath extended(const CodingPath& path, const CodingKey& key) {
  CodingPath result = path;
  result.push_back(key);
  return result;
}
}  // namespace

ReferencingEncoder::ReferencingEncoder(std::shared_ptr<Encoder> parent, const CodingKey& key, Reference reference)
    : Encoder(parent->options(), extended(parent->codingPath(), key)),
      m_parent(std::move(parent)),
      m_reference(std::move(reference)) {}

bool ReferencingEncoder::acceptsNewValue() const {
  const auto own = static_cast<int64_t>(codingPath().size());
  const auto parents = static_cast<int64_t>(m_parent->codingPath().size());
  return static_cast<int64_t>(storageCount()) == own - parents - 1;
}

ReferencingEncoder::~ReferencingEncoder() {
  Value value;
  switch (storageCount()) {
    case 0:
      value = Value(platform::Dictionary());
      break;
    case 1:
      value = pop();
      break;
    default:
      std::fprintf(stderr, "Referencing encoder deallocated with multiple containers on stack.\n");
      std::abort();
  }
  if (m_reference.isArray) {
    size_t index = std::min(m_reference.index, m_reference.array.size());
    m_reference.array.insert(index, std::move(value));
  } else {
    m_reference.dictionary.set(m_reference.key, std::move(value));
  }
}

}  // namespace coding
