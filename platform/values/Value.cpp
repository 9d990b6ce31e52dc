#include "platform/values/Value.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale.h>
#include <unordered_map>

namespace platform {

// Friend of the containers: storage identity for copies and cycle checks.
class ValueCopier {
 public:
  static const void* id(const Array& a) { return a.m_impl.get(); }
  static const void* id(const Dictionary& d) { return d.m_impl.get(); }
  static const void* id(const Set& s) { return s.m_impl.get(); }

  Value copy(const Value& v) {
    if (const Array* a = std::get_if<Array>(&v.m_storage)) {
      if (auto it = m_done.find(id(*a)); it != m_done.end()) {
        return it->second;
      }
      Array out;
      m_done.emplace(id(*a), Value(out));
      out.reserve(a->size());
      for (const Value& item : *a) {
        out.append(copy(item));
      }
      return Value(out);
    }
    if (const Dictionary* d = std::get_if<Dictionary>(&v.m_storage)) {
      if (auto it = m_done.find(id(*d)); it != m_done.end()) {
        return it->second;
      }
      Dictionary out;
      m_done.emplace(id(*d), Value(out));
      out.reserve(d->size());
      for (const auto& [key, item] : *d) {
        out.set(key, copy(item));
      }
      return Value(out);
    }
    if (const Set* s = std::get_if<Set>(&v.m_storage)) {
      if (auto it = m_done.find(id(*s)); it != m_done.end()) {
        return it->second;
      }
      Set out;
      m_done.emplace(id(*s), Value(out));
      for (const Value& item : *s) {
        out.insert(copy(item));
      }
      return Value(out);
    }
    return v;
  }

 private:
  std::unordered_map<const void*, Value> m_done;
};

namespace values_detail {

int64_t toInt64Saturating(double d) {
  if (std::isnan(d)) {
    return 0;
  }
  if (d >= 9223372036854775808.0) {
    return std::numeric_limits<int64_t>::max();
  }
  if (d < -9223372036854775808.0) {
    return std::numeric_limits<int64_t>::min();
  }
  return static_cast<int64_t>(d);
}

uint64_t toUInt64Saturating(double d) {
  if (std::isnan(d) || d <= 0) {
    return 0;
  }
  if (d >= 18446744073709551616.0) {
    return std::numeric_limits<uint64_t>::max();
  }
  return static_cast<uint64_t>(d);
}

float toFloat(double d) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (std::isfinite(d) && std::fabs(d) > kMax) {
    // Values that round to FLT_MAX still do; beyond half an ulp is infinity.
    const double halfUlp = std::ldexp(1.0, 127 - 24);
    if (std::fabs(d) < kMax + halfUlp) {
      return d > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
    }
    return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(d);
}

}  // namespace values_detail

namespace {

constexpr int kMaxDepth = 512;  // equality, ordering and hashing stop descending here

const Value& sharedNull() {
  static const Value kNull;
  return kNull;
}

Number makeInt(NumberKind kind, int64_t n) {
  Number num;
  num.kind = kind;
  num.m_int = n;
  return num;
}

Number makeUInt(NumberKind kind, uint64_t n) {
  Number num;
  num.kind = kind;
  num.m_uint = n;
  return num;
}

Number makeDouble(NumberKind kind, double d) {
  Number num;
  num.kind = kind;
  num.m_double = d;
  return num;
}

// --- exact mixed-kind comparison ----------------------------------------------

std::partial_ordering compareIntDouble(int64_t i, double d) {
  if (std::isnan(d)) {
    return std::partial_ordering::unordered;
  }
  if (d >= 9223372036854775808.0) {
    return std::partial_ordering::less;
  }
  if (d < -9223372036854775808.0) {
    return std::partial_ordering::greater;
  }
  const double t = std::trunc(d);  // fits int64 exactly here
  const int64_t ti = static_cast<int64_t>(t);
  if (i != ti) {
    return i < ti ? std::partial_ordering::less : std::partial_ordering::greater;
  }
  const double frac = d - t;
  if (frac > 0) {
    return std::partial_ordering::less;
  }
  if (frac < 0) {
    return std::partial_ordering::greater;
  }
  return std::partial_ordering::equivalent;
}

std::partial_ordering compareUIntDouble(uint64_t u, double d) {
  if (std::isnan(d)) {
    return std::partial_ordering::unordered;
  }
  if (d < 0) {
    return std::partial_ordering::greater;
  }
  if (d >= 18446744073709551616.0) {
    return std::partial_ordering::less;
  }
  const double t = std::trunc(d);
  const uint64_t tu = static_cast<uint64_t>(t);
  if (u != tu) {
    return u < tu ? std::partial_ordering::less : std::partial_ordering::greater;
  }
  return (d - t) > 0 ? std::partial_ordering::less : std::partial_ordering::equivalent;
}

std::partial_ordering flip(std::partial_ordering o) {
  if (o == std::partial_ordering::less) {
    return std::partial_ordering::greater;
  }
  if (o == std::partial_ordering::greater) {
    return std::partial_ordering::less;
  }
  return o;
}

std::partial_ordering compareNumber(const Number& a, const Number& b) {
  if (a.isFloating()) {
    if (b.isFloating()) {
      return a.m_double <=> b.m_double;
    }
    return flip(b.isSigned() ? compareIntDouble(b.m_int, a.m_double)
                             : compareUIntDouble(b.m_uint, a.m_double));
  }
  if (b.isFloating()) {
    return a.isSigned() ? compareIntDouble(a.m_int, b.m_double)
                        : compareUIntDouble(a.m_uint, b.m_double);
  }
  if (a.isSigned() && b.isSigned()) {
    return a.m_int <=> b.m_int;
  }
  if (!a.isSigned() && !b.isSigned()) {
    return a.m_uint <=> b.m_uint;
  }
  if (a.isSigned()) {
    return a.m_int < 0 ? std::partial_ordering::less : static_cast<uint64_t>(a.m_int) <=> b.m_uint;
  }
  return b.m_int < 0 ? std::partial_ordering::greater : a.m_uint <=> static_cast<uint64_t>(b.m_int);
}

bool isNaN(const Number& n) { return n.isFloating() && std::isnan(n.m_double); }

// Total order: NaN equals NaN and sorts last.
std::weak_ordering totalCompare(const Number& a, const Number& b) {
  const bool an = isNaN(a);
  const bool bn = isNaN(b);
  if (an || bn) {
    if (an && bn) {
      return std::weak_ordering::equivalent;
    }
    return an ? std::weak_ordering::greater : std::weak_ordering::less;
  }
  std::partial_ordering o = compareNumber(a, b);
  if (o == std::partial_ordering::less) {
    return std::weak_ordering::less;
  }
  if (o == std::partial_ordering::greater) {
    return std::weak_ordering::greater;
  }
  return std::weak_ordering::equivalent;
}

// --- hashing --------------------------------------------------------------------

size_t mix(size_t h) {
  uint64_t x = h;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return static_cast<size_t>(x);
}

size_t combine(size_t seed, size_t h) { return mix(seed ^ (h + 0x9e3779b97f4a7c15ULL + (seed << 6))); }

size_t hashNumber(const Number& n) {
  if (n.isFloating()) {
    const double d = n.m_double;
    if (std::isnan(d)) {
      return mix(0x7ff8);
    }
    if (d == std::trunc(d)) {  // integral: hash like the equal integer
      if (d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
        return mix(static_cast<uint64_t>(static_cast<int64_t>(d)));
      }
      if (d >= 0 && d < 18446744073709551616.0) {
        return mix(static_cast<uint64_t>(d));
      }
    }
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return mix(bits);
  }
  return mix(n.isSigned() ? static_cast<uint64_t>(n.m_int) : n.m_uint);
}

// --- text -------------------------------------------------------------------------

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t skipSpace(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isSpace(s[i])) {
    ++i;
  }
  return i;
}

double parseDouble(std::string_view s) {
  size_t i = skipSpace(s);
  const size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    ++i;
  }
  size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) {
    ++i;
    ++digits;
  }
  if (i < s.size() && s[i] == '.') {
    size_t j = i + 1;
    size_t fraction = 0;
    while (j < s.size() && isDigit(s[j])) {
      ++j;
      ++fraction;
    }
    if (digits + fraction > 0) {
      i = j;
      digits += fraction;
    }
  }
  if (digits == 0) {
    return 0;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
      ++j;
    }
    if (j < s.size() && isDigit(s[j])) {
      while (j < s.size() && isDigit(s[j])) {
        ++j;
      }
      i = j;
    }
  }
  // strtod in the C locale rounds correctly and gives +-HUGE_VAL / 0 when the
  // value is out of range; the prefix has been validated above.
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  std::string prefix(s.substr(start, i - start));
  return strtod_l(prefix.c_str(), nullptr, cLocale);
}

int64_t parseInteger(std::string_view s) {
  size_t i = skipSpace(s);
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  // Accumulate as a negative number so that INT64_MIN is reachable.
  int64_t value = 0;
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  bool overflow = false;
  for (; i < s.size() && isDigit(s[i]); ++i) {
    const int digit = s[i] - '0';
    if (overflow || value < (kMin + digit) / 10) {
      overflow = true;
      continue;
    }
    value = value * 10 - digit;
  }
  if (overflow) {
    return negative ? kMin : std::numeric_limits<int64_t>::max();
  }
  if (negative) {
    return value;
  }
  return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

bool parseBool(std::string_view s) {
  size_t i = skipSpace(s);
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    ++i;
  }
  while (i < s.size() && s[i] == '0') {
    ++i;
  }
  if (i >= s.size()) {
    return false;
  }
  const char c = s[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// Shortest round-trip digits, laid out like printf's %.17g: fixed notation
// for decimal exponents -4..16, exponent notation otherwise.
template <typename F>
std::string formatFloating(F value) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value > 0 ? "inf" : "-inf";
  }
  if (value == 0) {
    return std::signbit(value) ? "-0" : "0";
  }
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  std::string sci(buf, res.ptr);
  const size_t e = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + e + 1);
  if (exponent < -4 || exponent >= 17) {
    return sci;
  }
  std::string mantissa = sci.substr(0, e);
  std::string sign;
  if (mantissa[0] == '-') {
    sign = "-";
    mantissa.erase(0, 1);
  }
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') {
      digits += c;
    }
  }
  std::string out;
  if (exponent < 0) {
    out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else {
    const size_t intDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intDigits) {
      out = digits + std::string(intDigits - digits.size(), '0');
    } else {
      out = digits.substr(0, intDigits) + "." + digits.substr(intDigits);
    }
  }
  return sign + out;
}

std::string numberText(const Number& n) {
  switch (n.kind) {
    case NumberKind::Bool:
      return n.m_uint ? "1" : "0";
    case NumberKind::Float:
      return formatFloating(static_cast<float>(n.m_double));
    case NumberKind::Double:
      return formatFloating(n.m_double);
    default:
      return n.isSigned() ? std::to_string(n.m_int) : std::to_string(n.m_uint);
  }
}

void appendQuoted(std::string& out, const std::string& s) {
  out += '"';
  for (char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  out += '"';
}

std::string dateText(double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) {
    return formatFloating(seconds);
  }
  const time_t t = static_cast<time_t>(std::floor(seconds));
  struct tm tm {};
  if (gmtime_r(&t, &tm) == nullptr) {
    return formatFloating(seconds);
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d +0000", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace

// --- Number -------------------------------------------------------------------------

bool Number::isSigned() const { return kind >= NumberKind::Int8 && kind <= NumberKind::Int64; }
bool Number::isUnsigned() const {
  return kind == NumberKind::Bool || (kind >= NumberKind::UInt8 && kind <= NumberKind::UInt64);
}
bool Number::isFloating() const { return kind == NumberKind::Float || kind == NumberKind::Double; }

// --- construction -----------------------------------------------------------------

Value::Value() = default;
Value::Value(std::nullptr_t) {}
Value::Value(bool b) : m_storage(b) {}
Value::Value(signed char n) : m_storage(makeInt(NumberKind::Int8, n)) {}
Value::Value(short n) : m_storage(makeInt(NumberKind::Int16, n)) {}
Value::Value(int n) : m_storage(makeInt(NumberKind::Int32, n)) {}
Value::Value(long n) : m_storage(makeInt(NumberKind::Int64, n)) {}
Value::Value(long long n) : m_storage(makeInt(NumberKind::Int64, n)) {}
Value::Value(unsigned char n) : m_storage(makeUInt(NumberKind::UInt8, n)) {}
Value::Value(unsigned short n) : m_storage(makeUInt(NumberKind::UInt16, n)) {}
Value::Value(unsigned int n) : m_storage(makeUInt(NumberKind::UInt32, n)) {}
Value::Value(unsigned long n) : m_storage(makeUInt(NumberKind::UInt64, n)) {}
Value::Value(unsigned long long n) : m_storage(makeUInt(NumberKind::UInt64, n)) {}
Value::Value(float n) : m_storage(makeDouble(NumberKind::Float, n)) {}
Value::Value(double n) : m_storage(makeDouble(NumberKind::Double, n)) {}
Value::Value(const char* text) {
  if (text != nullptr) {
    m_storage = std::string(text);
  }
}
Value::Value(std::string text) : m_storage(std::move(text)) {}
Value::Value(std::string_view text) : m_storage(std::string(text)) {}
Value::Value(Array array) : m_storage(std::move(array)) {}
Value::Value(Dictionary dictionary) : m_storage(std::move(dictionary)) {}
Value::Value(Set set) : m_storage(std::move(set)) {}
Value::Value(Opaque opaque) : m_storage(std::make_shared<const Opaque>(std::move(opaque))) {}

Value::Value(Number number) {
  // Normalise through the kind-specific factories so the stored bits always
  // fit the kind.
  if (number.kind == NumberKind::Bool) {
    m_storage = number.m_uint != 0;
  } else if (number.isFloating()) {
    *this = floating(number.kind, number.m_double);
  } else if (number.isSigned()) {
    *this = integer(number.kind, number.m_int);
  } else {
    *this = unsignedInteger(number.kind, number.m_uint);
  }
}

Value Value::null() { return Value(); }
Value Value::boolean(bool b) { return Value(b); }

Value Value::integer(NumberKind kind, int64_t n) {
  switch (kind) {
    case NumberKind::Bool: return Value(n != 0);
    case NumberKind::Int8: return Value(static_cast<signed char>(n));
    case NumberKind::Int16: return Value(static_cast<short>(n));
    case NumberKind::Int32: return Value(static_cast<int>(n));
    case NumberKind::Int64: return Value(static_cast<long long>(n));
    case NumberKind::UInt8: return Value(static_cast<unsigned char>(n));
    case NumberKind::UInt16: return Value(static_cast<unsigned short>(n));
    case NumberKind::UInt32: return Value(static_cast<unsigned int>(n));
    case NumberKind::UInt64: return Value(static_cast<unsigned long long>(n));
    case NumberKind::Float: return Value(static_cast<float>(n));
    case NumberKind::Double: return Value(static_cast<double>(n));
  }
  return Value();
}

Value Value::unsignedInteger(NumberKind kind, uint64_t n) {
  switch (kind) {
    case NumberKind::Float: return Value(static_cast<float>(n));
    case NumberKind::Double: return Value(static_cast<double>(n));
    case NumberKind::UInt64: return Value(static_cast<unsigned long long>(n));
    case NumberKind::Bool: return Value(n != 0);
    default: return integer(kind, static_cast<int64_t>(n));
  }
}

Value Value::floating(NumberKind kind, double d) {
  switch (kind) {
    case NumberKind::Float: return Value(values_detail::toFloat(d));
    case NumberKind::Double: return Value(d);
    case NumberKind::Bool: return Value(d != 0);
    case NumberKind::UInt64:
      return d < 0 ? integer(kind, values_detail::toInt64Saturating(d))
                   : unsignedInteger(kind, values_detail::toUInt64Saturating(d));
    default: return integer(kind, values_detail::toInt64Saturating(d));
  }
}

Value Value::string(std::string text) { return Value(std::move(text)); }

Value Value::data(Bytes bytes) {
  Value v;
  v.m_storage = DataBox{std::make_shared<const Bytes>(std::move(bytes))};
  return v;
}

Value Value::data(const void* bytes, size_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  return data(size == 0 ? Bytes() : Bytes(p, p + size));
}

Value Value::date(double secondsSince1970) {
  Value v;
  v.m_storage = DateBox{secondsSince1970};
  return v;
}

Value Value::dateSinceReference(double secondsSince2001) {
  return date(secondsSince2001 + kReferenceDateOffset);
}

Value Value::array(std::initializer_list<Value> items) { return Value(Array(items)); }
Value Value::array(std::vector<Value> items) { return Value(Array(std::move(items))); }
Value Value::dict(std::initializer_list<Dictionary::Entry> entries) {
  return Value(Dictionary(entries));
}
Value Value::set(std::initializer_list<Value> items) { return Value(Set(items)); }

// --- kind tests ---------------------------------------------------------------------

ValueType Value::type() const {
  static constexpr ValueType kTypes[] = {
      ValueType::Null, ValueType::Bool,  ValueType::Number,     ValueType::String, ValueType::Data,
      ValueType::Date, ValueType::Array, ValueType::Dictionary, ValueType::Set,    ValueType::Opaque,
  };
  return kTypes[m_storage.index()];
}

bool Value::isTrueObject() const {
  const bool* b = std::get_if<bool>(&m_storage);
  return b != nullptr && *b;
}
bool Value::isFalseObject() const {
  const bool* b = std::get_if<bool>(&m_storage);
  return b != nullptr && !*b;
}
bool Value::isInteger() const {
  const Number* n = std::get_if<Number>(&m_storage);
  return n != nullptr && !n->isFloating();
}
bool Value::isFloatingNumber() const {
  const Number* n = std::get_if<Number>(&m_storage);
  return n != nullptr && n->isFloating();
}
std::optional<NumberKind> Value::numberKind() const {
  if (isBool()) {
    return NumberKind::Bool;
  }
  if (const Number* n = std::get_if<Number>(&m_storage)) {
    return n->kind;
  }
  return std::nullopt;
}

// --- typed accessors ------------------------------------------------------------------

std::optional<bool> Value::asBool() const {
  if (const bool* b = std::get_if<bool>(&m_storage)) {
    return *b;
  }
  return std::nullopt;
}

std::optional<Number> Value::asNumber() const {
  if (const bool* b = std::get_if<bool>(&m_storage)) {
    return makeUInt(NumberKind::Bool, *b ? 1 : 0);
  }
  if (const Number* n = std::get_if<Number>(&m_storage)) {
    return *n;
  }
  return std::nullopt;
}

std::optional<int64_t> Value::asInt64() const {
  if (const Number* n = std::get_if<Number>(&m_storage)) {
    if (n->isSigned()) {
      return n->m_int;
    }
    if (!n->isFloating()) {
      return n->m_uint <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                 ? std::optional<int64_t>(static_cast<int64_t>(n->m_uint))
                 : std::nullopt;
    }
  }
  return exactAs<int64_t>();
}

std::optional<uint64_t> Value::asUInt64() const {
  if (const Number* n = std::get_if<Number>(&m_storage)) {
    if (n->isUnsigned()) {
      return n->m_uint;
    }
    if (n->isSigned()) {
      return n->m_int >= 0 ? std::optional<uint64_t>(static_cast<uint64_t>(n->m_int)) : std::nullopt;
    }
  }
  return exactAs<uint64_t>();
}

std::optional<double> Value::asDouble() const {
  if (!isNumber()) {
    return std::nullopt;
  }
  return doubleValue();
}

const std::string* Value::asString() const { return std::get_if<std::string>(&m_storage); }

const Bytes* Value::asData() const {
  const DataBox* d = std::get_if<DataBox>(&m_storage);
  return d ? d->bytes.get() : nullptr;
}

std::optional<double> Value::asDate() const {
  if (const DateBox* d = std::get_if<DateBox>(&m_storage)) {
    return d->seconds;
  }
  return std::nullopt;
}

std::optional<double> Value::asDateSinceReference() const {
  std::optional<double> d = asDate();
  return d ? std::optional<double>(*d - kReferenceDateOffset) : std::nullopt;
}

std::optional<Array> Value::asArray() const {
  const Array* a = std::get_if<Array>(&m_storage);
  return a ? std::optional<Array>(*a) : std::nullopt;
}
std::optional<Dictionary> Value::asDictionary() const {
  const Dictionary* d = std::get_if<Dictionary>(&m_storage);
  return d ? std::optional<Dictionary>(*d) : std::nullopt;
}
std::optional<Set> Value::asSet() const {
  const Set* s = std::get_if<Set>(&m_storage);
  return s ? std::optional<Set>(*s) : std::nullopt;
}
const Opaque* Value::asOpaque() const {
  const auto* o = std::get_if<std::shared_ptr<const Opaque>>(&m_storage);
  return o ? o->get() : nullptr;
}

const Value& Value::operator[](std::string_view key) const {
  if (const Dictionary* d = std::get_if<Dictionary>(&m_storage)) {
    return (*d)[key];
  }
  return sharedNull();
}

const Value& Value::operator[](size_t index) const {
  if (const Array* a = std::get_if<Array>(&m_storage)) {
    if (index < a->size()) {
      return a->items()[index];
    }
  }
  return sharedNull();
}

const Value& Value::operator[](int index) const {
  return index < 0 ? sharedNull() : (*this)[static_cast<size_t>(index)];
}

// --- conversions ----------------------------------------------------------------------

bool Value::boolValue() const {
  if (const bool* b = std::get_if<bool>(&m_storage)) {
    return *b;
  }
  if (const Number* n = std::get_if<Number>(&m_storage)) {
    if (n->isFloating()) {
      return n->m_double != 0;
    }
    return n->m_uint != 0;  // same bits for signed kinds
  }
  if (const std::string* s = std::get_if<std::string>(&m_storage)) {
    return parseBool(*s);
  }
  return false;
}

double Value::doubleValue() const {
  if (const bool* b = std::get_if<bool>(&m_storage)) {
    return *b ? 1 : 0;
  }
  if (const Number* n = std::get_if<Number>(&m_storage)) {
    if (n->isFloating()) {
      return n->m_double;
    }
    return n->isSigned() ? static_cast<double>(n->m_int) : static_cast<double>(n->m_uint);
  }
  if (const std::string* s = std::get_if<std::string>(&m_storage)) {
    return parseDouble(*s);
  }
  if (const DateBox* d = std::get_if<DateBox>(&m_storage)) {
    return d->seconds;
  }
  return 0;
}

float Value::floatValue() const { return values_detail::toFloat(doubleValue()); }

int64_t Value::longLongValue() const {
  if (const std::string* s = std::get_if<std::string>(&m_storage)) {
    return parseInteger(*s);
  }
  if (isNumeric()) {
    return numberAs<int64_t>();
  }
  return values_detail::toInt64Saturating(doubleValue());
}

int32_t Value::intValue() const {
  if (const std::string* s = std::get_if<std::string>(&m_storage)) {
    const int64_t n = parseInteger(*s);
    return static_cast<int32_t>(std::clamp<int64_t>(n, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
  }
  return numberAs<int32_t>();
}

uint64_t Value::unsignedLongLongValue() const { return numberAs<uint64_t>(); }

std::string Value::stringValue() const {
  if (const std::string* s = std::get_if<std::string>(&m_storage)) {
    return *s;
  }
  if (std::optional<Number> n = asNumber()) {
    return numberText(*n);
  }
  return {};
}

size_t Value::utf16Length(std::string_view utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) {
    if ((c & 0xC0) != 0x80) {
      ++units;  // a lead byte (or an ASCII byte) starts one character
    }
    if (c >= 0xF0) {
      ++units;  // four-byte sequences are outside the BMP: a surrogate pair
    }
  }
  return units;
}

size_t Value::utf16Length() const {
  const std::string* s = asString();
  return s ? utf16Length(*s) : 0;
}

// --- words ----------------------------------------------------------------------------

std::string Value::typeName() const {
  switch (type()) {
    case ValueType::Null: return "null";
    case ValueType::Bool: return "bool";
    case ValueType::Number: return "number";
    case ValueType::String: return "string";
    case ValueType::Data: return "data";
    case ValueType::Date: return "date";
    case ValueType::Array: return "array";
    case ValueType::Dictionary: return "dictionary";
    case ValueType::Set: return "set";
    case ValueType::Opaque: return asOpaque()->typeName;
  }
  return {};
}

std::string Value::typeDescription() const {
  switch (type()) {
    case ValueType::Null: return "a null value";
    case ValueType::Bool:
    case ValueType::Number: return "a number";
    case ValueType::String: return "a string/data";
    case ValueType::Array: return "an array";
    case ValueType::Dictionary: return "a dictionary";
    case ValueType::Data: return "Data";
    case ValueType::Date: return "Date";
    case ValueType::Set: return "Set";
    case ValueType::Opaque: return asOpaque()->typeName;
  }
  return {};
}

namespace {

void describe(const Value& v, std::string& out, bool nested, std::vector<const void*>& path) {
  switch (v.type()) {
    case ValueType::Null:
      out += "<null>";
      return;
    case ValueType::Bool:
    case ValueType::Number:
      out += v.stringValue();
      return;
    case ValueType::String:
      if (nested) {
        appendQuoted(out, *v.asString());
      } else {
        out += *v.asString();
      }
      return;
    case ValueType::Data: {
      static const char kHex[] = "0123456789abcdef";
      const Bytes& bytes = *v.asData();
      out += '<';
      for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0) {
          out += ' ';
        }
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
      }
      out += '>';
      return;
    }
    case ValueType::Date:
      out += dateText(*v.asDate());
      return;
    case ValueType::Opaque:
      out += '<' + v.asOpaque()->typeName + '>';
      return;
    default:
      break;
  }
  const void* id = nullptr;
  if (auto a = v.asArray()) {
    id = ValueCopier::id(*a);
  } else if (auto d = v.asDictionary()) {
    id = ValueCopier::id(*d);
  } else if (auto s = v.asSet()) {
    id = ValueCopier::id(*s);
  }
  if (std::find(path.begin(), path.end(), id) != path.end()) {
    out += "<cycle>";
    return;
  }
  path.push_back(id);
  bool first = true;
  auto separator = [&] {
    if (!first) {
      out += ", ";
    }
    first = false;
  };
  if (auto a = v.asArray()) {
    out += '[';
    for (const Value& item : *a) {
      separator();
      describe(item, out, true, path);
    }
    out += ']';
  } else if (auto d = v.asDictionary()) {
    out += '{';
    for (const auto& [key, item] : *d) {
      separator();
      appendQuoted(out, key);
      out += ": ";
      describe(item, out, true, path);
    }
    out += '}';
  } else if (auto s = v.asSet()) {
    out += "{(";
    for (const Value& item : *s) {
      separator();
      describe(item, out, true, path);
    }
    out += ")}";
  }
  path.pop_back();
}

}  // namespace

std::string Value::description() const {
  std::string out;
  std::vector<const void*> path;
  describe(*this, out, false, path);
  return out;
}

// --- comparison -----------------------------------------------------------------------

namespace {

// Storage identity of a container value, nullptr for other kinds.
const void* storageId(const Value& v) {
  if (auto a = v.asArray()) return ValueCopier::id(*a);
  if (auto d = v.asDictionary()) return ValueCopier::id(*d);
  if (auto s = v.asSet()) return ValueCopier::id(*s);
  return nullptr;
}

// The pairs of containers being compared on the current recursion path. A
// pair met again is a cycle: treating it as equal (and as an equivalent
// order, and a constant hash) makes these functions terminate on cyclic
// graphs and stay linear in their size.
using PairPath = std::vector<std::pair<const void*, const void*>>;

struct PathGuard {
  PairPath& path;
  bool cycle = false;
  PathGuard(PairPath& p, const Value& a, const Value& b) : path(p) {
    std::pair<const void*, const void*> key{storageId(a), storageId(b)};
    cycle = std::find(path.begin(), path.end(), key) != path.end();
    path.push_back(key);
  }
  ~PathGuard() { path.pop_back(); }
};

bool equalAt(const Value& a, const Value& b, int depth, PairPath& path);
std::weak_ordering orderAt(const Value& a, const Value& b, int depth, PairPath& path);
size_t hashAt(const Value& v, int depth, PairPath& path);

bool equalAt(const Value& a, const Value& b, int depth, PairPath& path) {
  if (a.type() != b.type()) {
    return false;
  }
  switch (a.type()) {
    case ValueType::Null: return true;
    case ValueType::Bool: return *a.asBool() == *b.asBool();
    case ValueType::Number: {
      Number x = *a.asNumber();
      Number y = *b.asNumber();
      if (isNaN(x) || isNaN(y)) {
        return isNaN(x) && isNaN(y);
      }
      return compareNumber(x, y) == std::partial_ordering::equivalent;
    }
    case ValueType::String: return *a.asString() == *b.asString();
    case ValueType::Data: return *a.asData() == *b.asData();
    case ValueType::Date: {
      const double x = *a.asDate();
      const double y = *b.asDate();
      return x == y || (std::isnan(x) && std::isnan(y));
    }
    case ValueType::Opaque: {
      const Opaque* x = a.asOpaque();
      const Opaque* y = b.asOpaque();
      if (x->object == y->object) {
        return true;
      }
      if (x->type == nullptr || y->type == nullptr || *x->type != *y->type || x->equal == nullptr ||
          !x->object || !y->object) {
        return false;
      }
      return x->equal(x->object.get(), y->object.get());
    }
    default:
      break;
  }
  PathGuard guard(path, a, b);
  if (guard.cycle) {
    return true;
  }
  if (auto x = a.asArray()) {
    Array y = *b.asArray();
    if (x->sameStorage(y)) {
      return true;
    }
    if (x->size() != y.size() || depth >= kMaxDepth) {
      return false;
    }
    for (size_t i = 0; i < x->size(); ++i) {
      if (!equalAt(x->items()[i], y.items()[i], depth + 1, path)) {
        return false;
      }
    }
    return true;
  }
  if (auto x = a.asDictionary()) {
    Dictionary y = *b.asDictionary();
    if (x->sameStorage(y)) {
      return true;
    }
    if (x->size() != y.size() || depth >= kMaxDepth) {
      return false;
    }
    for (const auto& [key, item] : *x) {
      const Value* other = y.find(key);
      if (other == nullptr || !equalAt(item, *other, depth + 1, path)) {
        return false;
      }
    }
    return true;
  }
  Set x = *a.asSet();
  Set y = *b.asSet();
  if (x.sameStorage(y)) {
    return true;
  }
  if (x.size() != y.size()) {
    return false;
  }
  for (const Value& item : x) {
    if (!y.contains(item)) {
      return false;
    }
  }
  return true;
}

std::weak_ordering fromStrong(std::strong_ordering o) {
  if (o == std::strong_ordering::less) {
    return std::weak_ordering::less;
  }
  if (o == std::strong_ordering::greater) {
    return std::weak_ordering::greater;
  }
  return std::weak_ordering::equivalent;
}

std::weak_ordering orderDouble(double x, double y) {
  const bool xn = std::isnan(x);
  const bool yn = std::isnan(y);
  if (xn || yn) {
    return xn == yn ? std::weak_ordering::equivalent
                    : (xn ? std::weak_ordering::greater : std::weak_ordering::less);
  }
  return x < y ? std::weak_ordering::less
               : (y < x ? std::weak_ordering::greater : std::weak_ordering::equivalent);
}

std::weak_ordering orderSequence(const std::vector<Value>& x, const std::vector<Value>& y,
                                 int depth, PairPath& path) {
  const size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    std::weak_ordering o = orderAt(x[i], y[i], depth + 1, path);
    if (o != 0) {
      return o;
    }
  }
  return fromStrong(x.size() <=> y.size());
}

std::vector<Value> sortedItems(const std::vector<Value>& items, int depth, PairPath& path) {
  std::vector<Value> sorted = items;
  std::sort(sorted.begin(), sorted.end(), [depth, &path](const Value& l, const Value& r) {
    return orderAt(l, r, depth + 1, path) < 0;
  });
  return sorted;
}

std::weak_ordering orderAt(const Value& a, const Value& b, int depth, PairPath& path) {
  if (a.type() != b.type()) {
    return fromStrong(static_cast<int>(a.type()) <=> static_cast<int>(b.type()));
  }
  if (depth >= kMaxDepth) {
    return std::weak_ordering::equivalent;
  }
  switch (a.type()) {
    case ValueType::Null: return std::weak_ordering::equivalent;
    case ValueType::Bool: return fromStrong(*a.asBool() <=> *b.asBool());
    case ValueType::Number: return totalCompare(*a.asNumber(), *b.asNumber());
    case ValueType::String: return fromStrong(a.asString()->compare(*b.asString()) <=> 0);
    case ValueType::Data: return fromStrong(*a.asData() <=> *b.asData());
    case ValueType::Date: return orderDouble(*a.asDate(), *b.asDate());
    case ValueType::Opaque: {
      if (equalAt(a, b, depth, path)) {
        return std::weak_ordering::equivalent;
      }
      return fromStrong(std::less<const void*>()(a.asOpaque()->object.get(),
                                                 b.asOpaque()->object.get())
                            ? std::strong_ordering::less
                            : std::strong_ordering::greater);
    }
    default:
      break;
  }
  PathGuard guard(path, a, b);
  if (guard.cycle) {
    return std::weak_ordering::equivalent;
  }
  switch (a.type()) {
    case ValueType::Array: return orderSequence(a.asArray()->items(), b.asArray()->items(), depth, path);
    case ValueType::Set: {
      Set x = *a.asSet();
      Set y = *b.asSet();
      if (x.size() != y.size()) {
        return fromStrong(x.size() <=> y.size());
      }
      return orderSequence(sortedItems(x.items(), depth, path), sortedItems(y.items(), depth, path),
                           depth, path);
    }
    case ValueType::Dictionary: {
      Dictionary x = *a.asDictionary();
      Dictionary y = *b.asDictionary();
      if (x.size() != y.size()) {
        return fromStrong(x.size() <=> y.size());
      }
      auto sortedEntries = [](const Dictionary& d) {
        std::vector<const Dictionary::Entry*> e;
        for (const auto& entry : d) {
          e.push_back(&entry);
        }
        std::sort(e.begin(), e.end(), [](auto* l, auto* r) { return l->first < r->first; });
        return e;
      };
      auto ex = sortedEntries(x);
      auto ey = sortedEntries(y);
      for (size_t i = 0; i < ex.size(); ++i) {
        if (std::weak_ordering o = fromStrong(ex[i]->first.compare(ey[i]->first) <=> 0); o != 0) {
          return o;
        }
        if (std::weak_ordering o = orderAt(ex[i]->second, ey[i]->second, depth + 1, path); o != 0) {
          return o;
        }
      }
      return std::weak_ordering::equivalent;
    }
    default:
      break;
  }
  return std::weak_ordering::equivalent;
}

size_t hashAt(const Value& v, int depth, PairPath& path) {
  const size_t tag = static_cast<size_t>(v.type()) * 0x100000001b3ULL;
  switch (v.type()) {
    case ValueType::Null: return mix(tag);
    case ValueType::Bool: return mix(tag + (*v.asBool() ? 1 : 2));
    case ValueType::Number: return combine(tag, hashNumber(*v.asNumber()));
    case ValueType::String: return combine(tag, std::hash<std::string>{}(*v.asString()));
    case ValueType::Data: {
      const Bytes& b = *v.asData();
      return combine(tag, std::hash<std::string_view>{}(std::string_view(
                              reinterpret_cast<const char*>(b.data()), b.size())));
    }
    case ValueType::Date: {
      const double d = *v.asDate();
      return combine(tag, std::isnan(d) ? 0 : std::hash<double>{}(d == 0 ? 0.0 : d));
    }
    case ValueType::Opaque: {
      const Opaque* o = v.asOpaque();
      return combine(tag, o->type ? o->type->hash_code() : 0);
    }
    default:
      break;
  }
  PathGuard guard(path, v, v);
  if (guard.cycle) {
    return mix(tag);
  }
  size_t h = tag;
  if (auto a = v.asArray()) {
    h = combine(h, a->size());
    if (depth < kMaxDepth) {
      for (const Value& item : *a) {
        h = combine(h, hashAt(item, depth + 1, path));
      }
    }
    return h;
  }
  size_t sum = 0;  // order-independent for dictionaries and sets
  if (auto d = v.asDictionary()) {
    if (depth < kMaxDepth) {
      for (const auto& [key, item] : *d) {
        sum += combine(std::hash<std::string>{}(key), hashAt(item, depth + 1, path));
      }
    }
    return combine(combine(h, d->size()), sum);
  }
  Set s = *v.asSet();
  if (depth < kMaxDepth) {
    for (const Value& item : s) {
      sum += hashAt(item, depth + 1, path);
    }
  }
  return combine(combine(h, s.size()), sum);
}

}  // namespace

bool operator==(const Value& a, const Value& b) {
  PairPath path;
  return equalAt(a, b, 0, path);
}

std::weak_ordering operator<=>(const Value& a, const Value& b) {
  PairPath path;
  return orderAt(a, b, 0, path);
}

std::partial_ordering Value::compareNumbers(const Value& a, const Value& b) {
  std::optional<Number> x = a.asNumber();
  std::optional<Number> y = b.asNumber();
  if (!x || !y) {
    return std::partial_ordering::unordered;
  }
  return compareNumber(*x, *y);
}

size_t Value::hash() const {
  PairPath path;
  return hashAt(*this, 0, path);
}

Value Value::copy() const {
  ValueCopier copier;
  return copier.copy(*this);
}

}  // namespace platform
