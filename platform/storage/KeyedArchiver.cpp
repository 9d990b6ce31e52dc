#include "platform/storage/KeyedArchiver.h"

#include "platform/storage/PropertyList.h"
#include "platform/storage/internal/ArchiveFormat.h"

namespace platform {

using namespace storage_internal;

KeyedArchiver::KeyedArchiver() { m_stack.emplace_back(); }

void KeyedArchiver::setClassName(const std::string& storedName, const std::string& forClass) {
  m_classNames[forClass] = storedName;
}

void KeyedArchiver::fail(std::string why) {
  if (!m_error) {
    m_error = Error::make(kErrorDomain, kInvalidValueError, "The archive could not be written: " + why + ".");
  }
}

Value KeyedArchiver::encodeArchivable(const Archivable& object, size_t depth) {
  if (depth + m_stack.size() > kMaxDepth) {
    fail("objects nested too deeply (or an object contains itself)");
    return Value();
  }
  std::string name = object.className();
  auto mapped = m_classNames.find(name);
  Dictionary dict;
  dict.set(kClassKey, Value(mapped == m_classNames.end() ? name : mapped->second));
  m_stack.push_back(dict);
  object.encodeWith(*this);
  m_stack.pop_back();
  return Value(dict);
}

Value KeyedArchiver::encodeValue(const Value& value, size_t depth) {
  if (depth + m_stack.size() > kMaxDepth) {
    fail("values nested too deeply (or a container contains itself)");
    return Value();
  }
  switch (value.type()) {
    case ValueType::String: {
      const std::string& text = *value.asString();
      if (PropertyList::isStorableText(text)) {
        return value;
      }
      // Kept with its length: never cut at a NUL character.
      return Value::dict({{kClassKey, Value(kStringClass)}, {kBytesKey, Value::data(text.data(), text.size())}});
    }
    case ValueType::Bool:
    case ValueType::Number:
    case ValueType::Data:
    case ValueType::Date:
      return value;
    case ValueType::Null:
      return Value::dict({{kClassKey, Value(kNullClass)}});
    case ValueType::Array: {
      Array out;
      for (const Value& item : Array(*value.asArray())) {
        out.append(encodeValue(item, depth + 1));
      }
      return Value(out);
    }
    case ValueType::Set: {
      Array out;
      for (const Value& item : Set(*value.asSet())) {
        out.append(encodeValue(item, depth + 1));
      }
      return Value::dict({{kClassKey, Value(kSetClass)}, {kItemsKey, Value(out)}});
    }
    case ValueType::Dictionary: {
      Dictionary entries;
      for (const auto& [key, item] : Dictionary(*value.asDictionary())) {
        entries.set(key, encodeValue(item, depth + 1));
      }
      return Value::dict({{kClassKey, Value(kDictionaryClass)}, {kEntriesKey, Value(entries)}});
    }
    case ValueType::Opaque: {
      if (std::shared_ptr<Archivable> object = unwrap(value)) {
        return encodeArchivable(*object, depth);
      }
      fail("a " + value.typeName() + " is not archivable");
      return Value();
    }
  }
  return Value();
}

void KeyedArchiver::encodeObject(const std::string& key, const Value& value) {
  Value encoded = encodeValue(value, 0);
  if (!encoded.isNull()) {
    current().set(escapeKey(key), encoded);
  }
}

void KeyedArchiver::encodeObject(const std::string& key, const Archivable& object) {
  Value encoded = encodeArchivable(object, 0);
  if (!encoded.isNull()) {
    current().set(escapeKey(key), encoded);
  }
}

void KeyedArchiver::encodeObject(const std::string& key, const std::shared_ptr<const Archivable>& object) {
  if (object) {
    encodeObject(key, *object);
  }
}

void KeyedArchiver::encodeInt32(const std::string& key, int32_t value) { current().set(escapeKey(key), Value(value)); }
void KeyedArchiver::encodeInt64(const std::string& key, int64_t value) {
  current().set(escapeKey(key), Value(static_cast<long long>(value)));
}
void KeyedArchiver::encodeInteger(const std::string& key, int64_t value) { encodeInt64(key, value); }
void KeyedArchiver::encodeBool(const std::string& key, bool value) { current().set(escapeKey(key), Value(value)); }
void KeyedArchiver::encodeDouble(const std::string& key, double value) { current().set(escapeKey(key), Value(value)); }

Result<Bytes> KeyedArchiver::finishEncoding() {
  if (m_error) {
    return *m_error;
  }
  Value archive = Value::dict({{kArchiverKey, Value(kArchiverName)},
                               {kVersionKey, Value(kVersion)},
                               {kTopKey, Value(m_stack.front())}});
  Result<Bytes> bytes = PropertyList::serialize(archive, PropertyListFormat::Binary);
  if (!bytes) {
    return Error::make(kErrorDomain, kInvalidValueError,
                       "The archive could not be written: " + bytes.error().localizedDescription());
  }
  return bytes;
}

Result<Bytes> KeyedArchiver::archivedData(const Archivable& root) {
  KeyedArchiver archiver;
  archiver.encodeRootObject(root);
  return archiver.finishEncoding();
}

Result<Bytes> KeyedArchiver::archivedData(const Value& root) {
  KeyedArchiver archiver;
  archiver.encodeRootObject(root);
  return archiver.finishEncoding();
}

Value KeyedArchiver::wrap(std::shared_ptr<Archivable> object) {
  if (!object) {
    return Value();
  }
  std::string name = object->className();
  return Value::opaque<Archivable>(std::move(object), name);
}

std::shared_ptr<Archivable> KeyedArchiver::unwrap(const Value& value) { return value.asOpaque<Archivable>(); }

}  // namespace platform
