// KeyedArchiver: writes values and archivable objects by key into our own
// archive format, a binary property list:
//
//   { "$archiver": "platform.KeyedArchiver", "$version": 1, "$top": { keys } }
//
// Each archived object is a dictionary { "$class": <class name>, keys... };
// strings, numbers, bools, data and dates are stored as themselves, arrays as
// arrays, and dictionaries, sets and null as { "$class": "Dictionary" /
// "Set" / "Null", ... }. A string a property list cannot hold (one with a
// NUL character, or bytes that are not UTF-8) is stored whole as
// { "$class": "String", "$bytes": <data> }; dictionary keys must be UTF-8
// text without NUL characters, or finishEncoding() fails. Keys starting with "$" are stored with one more "$"
// so they never clash with the format's own keys. The root object is the
// top-level key "root".
//
// setClassName(stored, forClass) writes objects of class `forClass` under
// the name `stored` (this archiver only). Problems while encoding (a value
// that cannot be archived, nesting deeper than kMaxDepth, an object that
// contains itself) are reported once, by finishEncoding().
//
// Thread safety: one archiver per thread.
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

class KeyedArchiver {
 public:
  static constexpr const char* kRootKey = "root";
  static constexpr const char* kErrorDomain = "NSCocoaErrorDomain";
  static constexpr int64_t kInvalidValueError = 4866;
  static constexpr size_t kMaxDepth = 128;

  // Class names of the plain values, for allow-lists.
  static constexpr const char* kStringClass = "String";
  static constexpr const char* kNumberClass = "Number";  // numbers and bools
  static constexpr const char* kDataClass = "Data";
  static constexpr const char* kDateClass = "Date";
  static constexpr const char* kArrayClass = "Array";
  static constexpr const char* kDictionaryClass = "Dictionary";
  static constexpr const char* kSetClass = "Set";
  static constexpr const char* kNullClass = "Null";

  KeyedArchiver();

  void setClassName(const std::string& storedName, const std::string& forClass);

  // A Value may hold archivable objects (made with wrap()) anywhere inside.
  void encodeObject(const std::string& key, const Value& value);
  void encodeObject(const std::string& key, const Archivable& object);
  void encodeObject(const std::string& key, const std::shared_ptr<const Archivable>& object);  // null: nothing
  void encodeInt32(const std::string& key, int32_t value);
  void encodeInt64(const std::string& key, int64_t value);
  void encodeInteger(const std::string& key, int64_t value);
  void encodeBool(const std::string& key, bool value);
  void encodeDouble(const std::string& key, double value);

  void encodeRootObject(const Value& value) { encodeObject(kRootKey, value); }
  void encodeRootObject(const Archivable& object) { encodeObject(kRootKey, object); }

  // The archive bytes, or the first encoding problem.
  Result<Bytes> finishEncoding();

  static Result<Bytes> archivedData(const Archivable& root);
  static Result<Bytes> archivedData(const Value& root);

  // An archivable object as a Value (an opaque payload), and back.
  static Value wrap(std::shared_ptr<Archivable> object);
  static std::shared_ptr<Archivable> unwrap(const Value& value);

 private:
  Value encodeValue(const Value& value, size_t depth);
  Value encodeArchivable(const Archivable& object, size_t depth);
  void fail(std::string why);
  Dictionary& current() { return m_stack.back(); }

  std::map<std::string, std::string> m_classNames;
  std::vector<Dictionary> m_stack;
  std::optional<Error> m_error;
};

}  // namespace platform
