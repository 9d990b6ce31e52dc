// Value: the dynamic value tree used for JSON, property lists, user defaults,
// archives, notification user info and every loosely typed dictionary.
//
// Kinds: null, bool, number (with its kind: int8..int64, uint8..uint64,
// float, double), string (UTF-8), data (bytes), date (seconds since 1970),
// array, dictionary (string keys, insertion order kept), set (insertion order
// kept), and an opaque slot for any non-plist object (shared_ptr).
//
// Aliasing rules:
//  - null, bool, numbers, strings and dates are plain values: copying a Value
//    copies them.
//  - data is immutable and shared: copying is cheap, nobody can change it.
//  - Array, Dictionary and Set are handles to shared mutable storage. Copying
//    a handle (or a Value holding one) shares the storage, so a writer through
//    any handle is seen by every other handle; this is how an encoder fills a
//    dictionary that already sits inside the tree. `copy()` makes a deep copy
//    whose containers are all new (aliasing inside the copied graph is kept,
//    cycles included). A default-constructed handle owns new empty storage.
//  - Opaque payloads are shared by pointer and never copied.
//  - Storage is reference counted: a container that (indirectly) contains
//    itself is never freed until the cycle is broken. copy(), description(),
//    ==, <=> and hash() terminate on cycles.
//  - Do not mutate a container while it is an element of a Set (its hash
//    would change); references and iterators into a container are valid
//    until the next mutation of that container through any handle.
//
// Bool vs numbers: a bool is its own kind. Value(true) != Value(1); isNumber()
// is false for bools; isNumeric() is true for bools and numbers (what the
// original platform calls a number object). isTrueObject()/isFalseObject()
// are the "is the very true/false object" tests.
//
// Numbers compare mathematically across kinds (int vs uint vs double, never
// through a lossy cast): Value(int64 2^53+1) != Value(double 2^53). For ==,
// hashing and the total order of <=>, every NaN equals every NaN and sorts
// after all other numbers, and -0.0 == 0.0 == 0. compareNumbers() is the
// IEEE-style partial order (NaN unordered, bools as 0/1).
//
// Text conversions always use the C locale, whatever the process locale.
//
// Thread safety: a Value and its containers are not synchronised. Values may
// be read from several threads at once; a container that is mutated must be
// confined to one thread (or guarded by its owner) for as long as others can
// reach it. copy() gives a snapshot that can be handed to another thread.
#pragma once

#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

class Value;
class Array;
class Dictionary;
class Set;

using Bytes = std::vector<uint8_t>;

enum class ValueType : uint8_t {
  Null,
  Bool,
  Number,
  String,
  Data,
  Date,
  Array,
  Dictionary,
  Set,
  Opaque,
};

// The number kinds. Bool appears here so that numberKind() can describe a
// bool too; a Value of kind Bool has ValueType::Bool, never ValueType::Number.
enum class NumberKind : uint8_t {
  Bool,
  Int8,
  Int16,
  Int32,
  Int64,
  UInt8,
  UInt16,
  UInt32,
  UInt64,
  Float,
  Double,
};

// A number with its kind. Signed kinds live in m_int, unsigned kinds in
// m_uint, Float and Double in m_double (a float is stored exactly).
struct Number {
  NumberKind kind = NumberKind::Int64;
  union {
    int64_t m_int;
    uint64_t m_uint;
    double m_double = 0;
  };

  bool isSigned() const;    // Int8..Int64
  bool isUnsigned() const;  // UInt8..UInt64 (and Bool)
  bool isFloating() const;  // Float, Double
};

// Handle to a shared, mutable, ordered list of values.
class Array {
 public:
  using Storage = std::vector<Value>;
  using const_iterator = Storage::const_iterator;

  Array();                                  // new empty storage
  Array(std::initializer_list<Value> items);
  explicit Array(std::vector<Value> items);

  size_t size() const;
  bool empty() const;
  // Element access; an index out of range throws Exception (NSRangeException).
  const Value& operator[](size_t index) const;
  const Value& at(size_t index) const;
  Value& at(size_t index);
  // Null when out of range.
  Value get(size_t index) const;

  void append(Value value);
  void insert(size_t index, Value value);   // index <= size(), else throws
  void set(size_t index, Value value);      // index < size(), else throws
  void removeAt(size_t index);              // index < size(), else throws
  void clear();
  void reserve(size_t n);

  const_iterator begin() const;
  const_iterator end() const;
  const std::vector<Value>& items() const;

  Array copy() const;                       // deep copy, new storage
  bool sameStorage(const Array& other) const;

 private:
  friend class Value;
  friend class ValueCopier;
  struct Impl;
  std::shared_ptr<Impl> m_impl;
};

// Handle to a shared, mutable dictionary with string keys. Enumeration is in
// insertion order; setting an existing key replaces its value in place.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;
  using const_iterator = std::vector<Entry>::const_iterator;

  Dictionary();                             // new empty storage
  Dictionary(std::initializer_list<Entry> entries);  // later duplicates win

  size_t size() const;
  bool empty() const;
  bool contains(std::string_view key) const;
  // Pointer to the stored value, nullptr when absent.
  const Value* find(std::string_view key) const;
  Value* find(std::string_view key);
  // The stored value, or null when absent.
  Value get(std::string_view key) const;
  // Null marker when absent (reference to a shared static null).
  const Value& operator[](std::string_view key) const;

  void set(std::string key, Value value);
  bool remove(std::string_view key);        // true when it was present
  void clear();
  void reserve(size_t n);

  std::vector<std::string> keys() const;    // insertion order
  const_iterator begin() const;
  const_iterator end() const;

  Dictionary copy() const;                  // deep copy, new storage
  bool sameStorage(const Dictionary& other) const;

 private:
  friend class Value;
  friend class ValueCopier;
  struct Impl;
  std::shared_ptr<Impl> m_impl;
};

// Handle to a shared, mutable set of values (equality as Value::operator==).
// Enumeration is in insertion order.
class Set {
 public:
  using const_iterator = std::vector<Value>::const_iterator;

  Set();                                    // new empty storage
  Set(std::initializer_list<Value> items);

  size_t size() const;
  bool empty() const;
  bool contains(const Value& value) const;
  bool insert(Value value);                 // false when already present
  bool remove(const Value& value);          // true when it was present
  void clear();

  const_iterator begin() const;
  const_iterator end() const;
  const std::vector<Value>& items() const;

  Set copy() const;                         // deep copy, new storage
  bool sameStorage(const Set& other) const;

 private:
  friend class Value;
  friend class ValueCopier;
  struct Impl;
  std::shared_ptr<Impl> m_impl;
};

// Any non-plist object carried in a tree (typed notification payloads,
// errors, decimals, protocol values). Shared by pointer. Two opaque values
// are equal when they hold the same object, or objects of the same type that
// compare equal with the type's operator== (when it has one).
struct Opaque {
  std::shared_ptr<void> object;
  const std::type_info* type = nullptr;
  std::string typeName;  // word for error texts, e.g. "Decimal"
  bool (*equal)(const void*, const void*) = nullptr;
};

class Value {
 public:
  // Seconds from 1970-01-01T00:00:00Z to the 2001-01-01T00:00:00Z reference date.
  static constexpr double kReferenceDateOffset = 978307200.0;

  // --- construction ---------------------------------------------------------
  Value();                                  // null
  Value(std::nullptr_t);                    // null
  Value(bool b);
  Value(signed char n);                     // Int8
  Value(short n);                           // Int16
  Value(int n);                             // Int32
  Value(long n);                            // Int64
  Value(long long n);                       // Int64
  Value(unsigned char n);                   // UInt8
  Value(unsigned short n);                  // UInt16
  Value(unsigned int n);                    // UInt32
  Value(unsigned long n);                   // UInt64
  Value(unsigned long long n);              // UInt64
  Value(float n);                           // Float
  Value(double n);                          // Double
  Value(const char* text);                  // String (nullptr gives null)
  Value(std::string text);
  Value(std::string_view text);
  Value(Array array);
  Value(Dictionary dictionary);
  Value(Set set);
  Value(Number number);                     // NumberKind::Bool gives a bool
  Value(char) = delete;                     // ambiguous: use a string or an int
  template <typename T>
  Value(const T*) = delete;                 // no pointer-to-bool surprises

  static Value null();
  static Value boolean(bool b);
  // A number of the given kind. The value is converted to the kind's width
  // as C does (integers wrap; doubles truncate and saturate, NaN gives 0).
  static Value integer(NumberKind kind, int64_t n);
  static Value unsignedInteger(NumberKind kind, uint64_t n);
  static Value floating(NumberKind kind, double d);
  static Value string(std::string text);
  static Value data(Bytes bytes);
  static Value data(const void* bytes, size_t size);
  static Value date(double secondsSince1970);
  static Value dateSinceReference(double secondsSince2001);
  static Value array(std::initializer_list<Value> items = {});
  static Value array(std::vector<Value> items);
  static Value dict(std::initializer_list<Dictionary::Entry> entries = {});
  static Value set(std::initializer_list<Value> items = {});
  template <typename T>
  static Value opaque(std::shared_ptr<T> object, std::string typeName = {}) {
    Opaque o;
    o.type = &typeid(T);
    o.typeName = typeName.empty() ? std::string("object") : std::move(typeName);
    o.object = std::const_pointer_cast<void>(std::static_pointer_cast<const void>(std::move(object)));
    if constexpr (std::equality_comparable<T>) {
      o.equal = [](const void* a, const void* b) {
        return *static_cast<const T*>(a) == *static_cast<const T*>(b);
      };
    }
    return Value(std::move(o));
  }
  explicit Value(Opaque opaque);

  // --- kind tests ------------------------------------------------------------
  ValueType type() const;
  bool isNull() const { return type() == ValueType::Null; }
  bool isBool() const { return type() == ValueType::Bool; }
  bool isNumber() const { return type() == ValueType::Number; }  // bools excluded
  bool isNumeric() const { return isBool() || isNumber(); }      // bools included
  bool isString() const { return type() == ValueType::String; }
  bool isData() const { return type() == ValueType::Data; }
  bool isDate() const { return type() == ValueType::Date; }
  bool isArray() const { return type() == ValueType::Array; }
  bool isDictionary() const { return type() == ValueType::Dictionary; }
  bool isSet() const { return type() == ValueType::Set; }
  bool isOpaque() const { return type() == ValueType::Opaque; }
  bool isTrueObject() const;                // the bool true, not the number 1
  bool isFalseObject() const;               // the bool false, not the number 0
  bool isInteger() const;                   // integer number kind (bools excluded)
  bool isFloatingNumber() const;            // Float or Double kind
  std::optional<NumberKind> numberKind() const;  // Bool for bools, empty for non-numbers

  // --- typed accessors (empty / nullptr when the kind differs) ---------------
  std::optional<bool> asBool() const;       // bools only
  std::optional<Number> asNumber() const;   // numbers and bools
  // Numbers (not bools) whose value is exactly representable in T; 3.0 -> 3,
  // 3.5 -> empty, 300 as int8_t -> empty, NaN -> empty for integers.
  std::optional<int64_t> asInt64() const;
  std::optional<uint64_t> asUInt64() const;
  std::optional<double> asDouble() const;   // any number (not bool), rounded to double
  template <typename T>
  std::optional<T> exactAs() const;         // T: an integer type, float or double
  const std::string* asString() const;
  const Bytes* asData() const;
  std::optional<double> asDate() const;     // seconds since 1970
  std::optional<double> asDateSinceReference() const;  // seconds since 2001
  // Handles sharing the storage. The optional is a temporary: iterate over a
  // copy of the handle, `for (auto& x : Array(*v.asArray()))`, never over
  // `*v.asArray()` directly (the optional dies before the loop runs).
  std::optional<Array> asArray() const;
  std::optional<Dictionary> asDictionary() const;
  std::optional<Set> asSet() const;
  const Opaque* asOpaque() const;
  template <typename T>
  std::shared_ptr<T> asOpaque() const {     // empty unless the payload is a T
    const Opaque* o = asOpaque();
    if (o == nullptr || o->type == nullptr || *o->type != typeid(T)) {
      return nullptr;
    }
    return std::static_pointer_cast<T>(o->object);
  }

  // Convenience reading of trees: a shared static null when this is not a
  // dictionary / array or the key / index is absent.
  const Value& operator[](std::string_view key) const;
  const Value& operator[](const char* key) const { return (*this)[std::string_view(key)]; }
  const Value& operator[](size_t index) const;
  const Value& operator[](int index) const;

  // --- platform-style conversions (never fail) -------------------------------
  // Numbers: != 0 (NaN is true). Strings: after optional whitespace, an
  // optional sign and leading zeros, true when the next character is one of
  // "YyTt1-9". Bools: themselves. Anything else: false.
  bool boolValue() const;
  // Numbers: exact value rounded to double; bools 0/1. Strings: leading
  // whitespace skipped, longest decimal prefix ([sign] digits [. digits]
  // [e [sign] digits]) read in the C locale, 0 when none, +-inf on overflow.
  // Dates: seconds since 1970. Anything else: 0.
  double doubleValue() const;
  float floatValue() const;
  // Numbers: converted as C does, with a defined result where C has none:
  // doubles truncate toward zero and saturate, NaN gives 0; unsigned values
  // above INT64_MAX wrap. Strings: whitespace, optional sign, digits up to the
  // first non-digit, saturating at the int64 limits; 0 when no digit.
  int64_t longLongValue() const;
  int64_t integerValue() const { return longLongValue(); }
  int32_t intValue() const;                 // strings saturate at the int32 limits
  uint64_t unsignedLongLongValue() const;
  // A number converted to the width of T as the platform's accessors do
  // (integers wrap to the width, doubles truncate and saturate, NaN gives 0).
  // Strings go through longLongValue()/doubleValue().
  template <typename T>
  T numberAs() const;
  // Strings: themselves. Bools: "1"/"0". Integers: decimal. Float and double:
  // shortest text that reads back to the same value, integral values without
  // ".0", exponent form ("1e+21", "1e-07") when the decimal exponent is below
  // -4 or at least 17; "nan", "inf", "-inf". Anything else: "".
  std::string stringValue() const;

  // UTF-16 length of a string value (non-BMP characters count 2); 0 otherwise.
  size_t utf16Length() const;
  static size_t utf16Length(std::string_view utf8);

  // --- words for messages ------------------------------------------------------
  // One word per kind: "null", "bool", "number", "string", "data", "date",
  // "array", "dictionary", "set", or an opaque payload's type name.
  std::string typeName() const;
  // The words decoders put in type-mismatch texts: "a null value", "a number"
  // (bools included), "a string/data", "an array", "a dictionary", else
  // "Data", "Date", "Set" or the opaque payload's type name.
  std::string typeDescription() const;
  // Debugging text. A top-level string is itself; numbers as stringValue();
  // nested strings quoted; arrays [a, b]; dictionaries {"k": v}; sets {(a, b)};
  // data <0a1b...>; dates "2001-01-01 00:00:00 +0000"; null "<null>".
  std::string description() const;

  // --- comparison and hashing -------------------------------------------------
  // Deep structural equality. Numbers compare mathematically across kinds;
  // bools equal only bools; dictionaries and sets ignore order; dates compare
  // their seconds; opaque payloads by identity; containers sharing storage
  // are equal without looking inside.
  friend bool operator==(const Value& a, const Value& b);
  // A total order for sorting: by ValueType first (the enum's order), then
  // by contents (numbers mathematically with NaN last; strings by bytes;
  // arrays lexicographically; dictionaries by size then sorted entries).
  friend std::weak_ordering operator<=>(const Value& a, const Value& b);
  // Mathematical comparison of two numeric values (bools as 0/1). Unordered
  // when either is NaN or not numeric.
  static std::partial_ordering compareNumbers(const Value& a, const Value& b);
  size_t hash() const;

  // Deep copy: every container reachable from this value is new.
  Value copy() const;

 private:
  friend class ValueCopier;
  struct DataBox {
    std::shared_ptr<const Bytes> bytes;
  };
  struct DateBox {
    double seconds;
  };
  // Opaque sits behind a pointer so that a Value stays the size of a string.
  using Storage = std::variant<std::monostate, bool, Number, std::string, DataBox, DateBox,
                               Array, Dictionary, Set, std::shared_ptr<const Opaque>>;
  Storage m_storage;
};

// Hash functor for unordered containers keyed by Value.
struct ValueHash {
  size_t operator()(const Value& v) const { return v.hash(); }
};

// --- templates -----------------------------------------------------------------

template <typename T>
std::optional<T> Value::exactAs() const {
  static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>, "number types only");
  if (!isNumber()) {
    return std::nullopt;
  }
  T converted = numberAs<T>();
  if (compareNumbers(*this, Value(converted)) != std::partial_ordering::equivalent) {
    return std::nullopt;
  }
  return converted;
}

namespace values_detail {
int64_t toInt64Saturating(double d);
uint64_t toUInt64Saturating(double d);
float toFloat(double d);  // out of range gives +-inf, never undefined behaviour
}  // namespace values_detail

template <typename T>
T Value::numberAs() const {
  static_assert(std::is_arithmetic_v<T>, "number types only");
  if constexpr (std::is_same_v<T, bool>) {
    return boolValue();
  } else if constexpr (std::is_same_v<T, float>) {
    return values_detail::toFloat(doubleValue());
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(doubleValue());
  } else {
    std::optional<Number> n = asNumber();
    if (!n) {
      if (isString()) {
        return static_cast<T>(longLongValue());
      }
      return static_cast<T>(numberAs<double>());
    }
    if (n->isFloating()) {
      if constexpr (std::is_signed_v<T>) {
        return static_cast<T>(values_detail::toInt64Saturating(n->m_double));
      } else {
        // Negative doubles convert through the signed path, as C code does.
        if (n->m_double < 0) {
          return static_cast<T>(values_detail::toInt64Saturating(n->m_double));
        }
        return static_cast<T>(values_detail::toUInt64Saturating(n->m_double));
      }
    }
    if (n->isSigned()) {
      return static_cast<T>(n->m_int);
    }
    return static_cast<T>(n->m_uint);
  }
}

}  // namespace platform

template <>
struct std::hash<platform::Value> {
  size_t operator()(const platform::Value& v) const { return v.hash(); }
};
