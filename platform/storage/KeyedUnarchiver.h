// KeyedUnarchiver: reads archives written by KeyedArchiver.
//
// decodeObject(key, allowedClasses) returns the stored value with archivable
// objects rebuilt through ArchiveClassRegistry (as KeyedArchiver::wrap
// payloads). Every class met, including the classes of plain values
// (KeyedArchiver::kStringClass, ...) and of the elements of containers, must
// be in the allow-list, or decoding fails with an error naming the class.
// decodeObject(key) without a list accepts every plain value and every
// registered class. An absent key gives null. setClass(className,
// forStoredName) decodes objects stored under `forStoredName` as
// `className` (the allow-list is checked against `className`).
//
// Scalars (decodeInt32 ...) give 0 / false when absent or not numeric.
// The first failure is kept in error(); after it every decodeObject fails
// with that error. forReadingFromData() refuses bytes that are not an
// archive of this format (corrupt data gives no unarchiver and an error).
// All decode errors are "NSCocoaErrorDomain" 4864.
//
// Thread safety: one unarchiver per thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/storage/Archivable.h"
#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform {

class KeyedUnarchiver {
 public:
  static constexpr const char* kErrorDomain = "NSCocoaErrorDomain";
  static constexpr int64_t kReadCorruptError = 4864;

  static Result<std::unique_ptr<KeyedUnarchiver>> forReadingFromData(const Bytes& data);
  // Convenience: the root object, checked against `allowedClasses`.
  static Result<Value> unarchivedObject(const std::vector<std::string>& allowedClasses, const Bytes& data);

  void setClass(const std::string& className, const std::string& forStoredName);

  Result<Value> decodeObject(const std::string& key, const std::vector<std::string>& allowedClasses);
  Result<Value> decodeObject(const std::string& key);
  Result<Value> decodeTopLevelObject(const std::vector<std::string>& allowedClasses);

  // The archivable object of class `className` (or a subclass registered
  // under that name) as T; nullptr when the key is absent.
  template <typename T>
  Result<std::shared_ptr<T>> decodeObjectOfClass(const std::string& key, const std::string& className) {
    Result<Value> v = decodeObject(key, {className});
    if (!v) {
      return v.error();
    }
    if (v->isNull()) {
      return std::shared_ptr<T>();
    }
    auto object = std::dynamic_pointer_cast<T>(unwrapObject(v.value()));
    if (!object) {
      return failWithError(makeError("object for key '" + key + "' is not of the requested type"));
    }
    return object;
  }

  bool containsValueForKey(const std::string& key) const;
  int32_t decodeInt32(const std::string& key) const;
  int64_t decodeInt64(const std::string& key) const;
  int64_t decodeInteger(const std::string& key) const { return decodeInt64(key); }
  bool decodeBool(const std::string& key) const;
  double decodeDouble(const std::string& key) const;

  const std::optional<Error>& error() const { return m_error; }
  // Records the failure (the first one wins) and returns the recorded error.
  Error failWithError(Error error);
  static Error makeError(const std::string& description);

  explicit KeyedUnarchiver(Dictionary top);  // use forReadingFromData

 private:
  static std::shared_ptr<Archivable> unwrapObject(const Value& value);
  const Value* raw(const std::string& key) const;
  Result<Value> decodeValue(const Value& raw, const std::string& key, const std::vector<std::string>* allowed,
                            size_t depth);
  bool allowed(const std::string& className, const std::vector<std::string>* allowed) const;

  std::map<std::string, std::string> m_classForName;
  std::vector<Dictionary> m_stack;
  std::optional<Error> m_error;
};

}  // namespace platform
