#include "platform/storage/KeyedUnarchiver.h"

#include <algorithm>

#include "platform/storage/ArchiveClassRegistry.h"
#include "platform/storage/KeyedArchiver.h"
#include "platform/storage/PropertyList.h"
#include "platform/storage/internal/ArchiveFormat.h"

namespace platform {

using namespace storage_internal;

namespace {

std::string joinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    out += (out.empty() ? "" : ", ") + n;
  }
  return "{" + out + "}";
}

// The class name of a plain stored value; empty for objects.
std::string plainClass(const Value& raw) {
  switch (raw.type()) {
    case ValueType::String:
      return KeyedArchiver::kStringClass;
    case ValueType::Bool:
    case ValueType::Number:
      return KeyedArchiver::kNumberClass;
    case ValueType::Data:
      return KeyedArchiver::kDataClass;
    case ValueType::Date:
      return KeyedArchiver::kDateClass;
    case ValueType::Array:
      return KeyedArchiver::kArrayClass;
    default:
      return {};
  }
}

bool isPlainClassName(const std::string& name) {
  return name == KeyedArchiver::kStringClass || name == KeyedArchiver::kNumberClass ||
         name == KeyedArchiver::kDataClass || name == KeyedArchiver::kDateClass ||
         name == KeyedArchiver::kArrayClass || name == KeyedArchiver::kDictionaryClass ||
         name == KeyedArchiver::kSetClass || name == KeyedArchiver::kNullClass;
}

}  // namespace

KeyedUnarchiver::KeyedUnarchiver(Dictionary top) { m_stack.push_back(std::move(top)); }

Error KeyedUnarchiver::makeError(const std::string& description) {
  return Error::make(kErrorDomain, kReadCorruptError, "The data couldn’t be read: " + description + ".");
}

Error KeyedUnarchiver::failWithError(Error error) {
  if (!m_error) {
    m_error = std::move(error);
  }
  return *m_error;
}

Result<std::unique_ptr<KeyedUnarchiver>> KeyedUnarchiver::forReadingFromData(const Bytes& data) {
  Result<Value> root = PropertyList::parse(data);
  if (!root) {
    return makeError("not an archive (" + root.error().localizedDescription() + ")");
  }
  const Value& archive = root.value();
  if (archive[kArchiverKey].asString() == nullptr || *archive[kArchiverKey].asString() != kArchiverName ||
      !archive[kTopKey].isDictionary()) {
    return makeError("not an archive of this format");
  }
  if (archive[kVersionKey].integerValue() != kVersion) {
    return makeError("unsupported archive version " + archive[kVersionKey].stringValue());
  }
  return std::make_unique<KeyedUnarchiver>(*archive[kTopKey].asDictionary());
}

Result<Value> KeyedUnarchiver::unarchivedObject(const std::vector<std::string>& allowedClasses, const Bytes& data) {
  auto unarchiver = forReadingFromData(data);
  if (!unarchiver) {
    return unarchiver.error();
  }
  return unarchiver.value()->decodeTopLevelObject(allowedClasses);
}

void KeyedUnarchiver::setClass(const std::string& className, const std::string& forStoredName) {
  m_classForName[forStoredName] = className;
}

const Value* KeyedUnarchiver::raw(const std::string& key) const { return m_stack.back().find(escapeKey(key)); }

bool KeyedUnarchiver::containsValueForKey(const std::string& key) const { return raw(key) != nullptr; }

int32_t KeyedUnarchiver::decodeInt32(const std::string& key) const {
  const Value* v = raw(key);
  return v != nullptr && v->isNumeric() ? v->numberAs<int32_t>() : 0;
}

int64_t KeyedUnarchiver::decodeInt64(const std::string& key) const {
  const Value* v = raw(key);
  return v != nullptr && v->isNumeric() ? v->numberAs<int64_t>() : 0;
}

bool KeyedUnarchiver::decodeBool(const std::string& key) const {
  const Value* v = raw(key);
  return v != nullptr && v->isNumeric() && v->boolValue();
}

double KeyedUnarchiver::decodeDouble(const std::string& key) const {
  const Value* v = raw(key);
  return v != nullptr && v->isNumeric() ? v->doubleValue() : 0;
}

bool KeyedUnarchiver::allowed(const std::string& className, const std::vector<std::string>* allowedClasses) const {
  if (allowedClasses == nullptr) {
    return isPlainClassName(className) || static_cast<bool>(ArchiveClassRegistry::factory(className));
  }
  return std::find(allowedClasses->begin(), allowedClasses->end(), className) != allowedClasses->end();
}

Result<Value> KeyedUnarchiver::decodeValue(const Value& stored, const std::string& key,
                                           const std::vector<std::string>* allowedClasses, size_t depth) {
  if (depth + m_stack.size() > KeyedArchiver::kMaxDepth) {
    return failWithError(makeError("objects nested too deeply"));
  }
  auto unexpected = [&](const std::string& className) {
    std::string list = allowedClasses != nullptr ? joinNames(*allowedClasses) : std::string("{registered classes}");
    return failWithError(makeError("value for key '" + key + "' was of unexpected class '" + className +
                                   "'. Allowed classes are '" + list + "'"));
  };
  std::string plain = plainClass(stored);
  if (!plain.empty()) {
    if (!allowed(plain, allowedClasses)) {
      return unexpected(plain);
    }
    if (!stored.isArray()) {
      return stored;
    }
    Array out;
    for (const Value& item : Array(*stored.asArray())) {
      Result<Value> decoded = decodeValue(item, key, allowedClasses, depth + 1);
      if (!decoded) {
        return decoded;
      }
      out.append(std::move(decoded.value()));
    }
    return Value(out);
  }
  const std::string* storedClass = stored.isDictionary() ? stored[kClassKey].asString() : nullptr;
  if (storedClass == nullptr) {
    return failWithError(makeError("value for key '" + key + "' is damaged"));
  }
  auto mapped = m_classForName.find(*storedClass);
  const std::string className = mapped == m_classForName.end() ? *storedClass : mapped->second;
  if (!allowed(className, allowedClasses)) {
    return unexpected(className);
  }
  if (className == KeyedArchiver::kNullClass) {
    return Value();
  }
  if (className == KeyedArchiver::kStringClass) {
    const Bytes* bytes = stored[kBytesKey].asData();
    if (bytes == nullptr) {
      return failWithError(makeError("value for key '" + key + "' is damaged"));
    }
    return Value(std::string(bytes->begin(), bytes->end()));
  }
  if (className == KeyedArchiver::kSetClass || className == KeyedArchiver::kDictionaryClass) {
    bool isSet = className == KeyedArchiver::kSetClass;
    const Value& body = stored[isSet ? kItemsKey : kEntriesKey];
    if (isSet ? !body.isArray() : !body.isDictionary()) {
      return failWithError(makeError("value for key '" + key + "' is damaged"));
    }
    if (isSet) {
      Set out;
      for (const Value& item : Array(*body.asArray())) {
        Result<Value> decoded = decodeValue(item, key, allowedClasses, depth + 1);
        if (!decoded) {
          return decoded;
        }
        out.insert(std::move(decoded.value()));
      }
      return Value(out);
    }
    Dictionary out;
    for (const auto& [entryKey, item] : Dictionary(*body.asDictionary())) {
      Result<Value> decoded = decodeValue(item, key, allowedClasses, depth + 1);
      if (!decoded) {
        return decoded;
      }
      out.set(entryKey, std::move(decoded.value()));
    }
    return Value(out);
  }
  ArchivableFactory factory = ArchiveClassRegistry::factory(className);
  if (!factory) {
    return failWithError(makeError("cannot decode object of class '" + className + "' for key '" + key +
                                   "': no such class is registered"));
  }
  m_stack.push_back(*stored.asDictionary());
  std::shared_ptr<Archivable> object;
  try {
    object = factory(*this);
  } catch (...) {
    object = nullptr;
  }
  m_stack.pop_back();
  if (m_error) {
    return *m_error;
  }
  if (!object) {
    return failWithError(makeError("the object of class '" + className + "' for key '" + key + "' is invalid"));
  }
  return KeyedArchiver::wrap(std::move(object));
}

Result<Value> KeyedUnarchiver::decodeObject(const std::string& key, const std::vector<std::string>& allowedClasses) {
  if (m_error) {
    return *m_error;
  }
  const Value* stored = raw(key);
  if (stored == nullptr) {
    return Value();
  }
  return decodeValue(*stored, key, &allowedClasses, 0);
}

Result<Value> KeyedUnarchiver::decodeObject(const std::string& key) {
  if (m_error) {
    return *m_error;
  }
  const Value* stored = raw(key);
  if (stored == nullptr) {
    return Value();
  }
  return decodeValue(*stored, key, nullptr, 0);
}

Result<Value> KeyedUnarchiver::decodeTopLevelObject(const std::vector<std::string>& allowedClasses) {
  Result<Value> root = decodeObject(KeyedArchiver::kRootKey, allowedClasses);
  if (root && root->isNull() && !containsValueForKey(KeyedArchiver::kRootKey)) {
    return failWithError(makeError("the archive has no root object"));
  }
  return root;
}

std::shared_ptr<Archivable> KeyedUnarchiver::unwrapObject(const Value& value) { return KeyedArchiver::unwrap(value); }

}  // namespace platform
