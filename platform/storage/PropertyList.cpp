#include "platform/storage/PropertyList.h"

#include <plist/plist.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/storage/FileSystem.h"
#include "platform/storage/internal/PlistGuard.h"
#include "platform/text/Unicode.h"

namespace platform {

namespace {

struct PlistFree {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

Error corrupt(const std::string& why) {
  return Error::make(PropertyList::kErrorDomain, PropertyList::kReadCorruptError,
                     "The data couldn’t be read because it isn’t in the correct format: " + why + ".");
}

Error invalid(const std::string& why) {
  return Error::make(PropertyList::kErrorDomain, PropertyList::kWriteInvalidError,
                     "The property list could not be written: " + why + ".");
}

// The XML text libplist gives for one node.
std::string xmlOf(plist_t node) {
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(node, &xml, &length);
  std::string out = xml != nullptr ? std::string(xml, length) : std::string();
  if (xml != nullptr) {
    plist_to_xml_free(xml);
  }
  return out;
}

// libplist keeps whether a large integer is unsigned but only shows it in
// its XML output; nodes with the top bit set are rare, so ask the text.
bool isNegativeInteger(plist_t node) {
  std::string xml = xmlOf(node);
  size_t p = xml.find("<integer>");
  return p != std::string::npos && p + 9 < xml.size() && xml[p + 9] == '-';
}

// Node made by libplist's XML reader, the only way its API builds large
// unsigned integers and dates outside the 32-bit seconds range.
plist_t nodeFromXml(const std::string& element) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">" + element + "</plist>";
  plist_t node = nullptr;
  plist_from_xml(xml.c_str(), static_cast<uint32_t>(xml.size()), &node);
  return node;
}

// Proleptic Gregorian date of a day count since 1970-01-01.
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// How a date (seconds since 2001) is stored: in whole microseconds when its
// second fits 32 bits (libplist's date node), else in whole seconds of a year
// from 0 to 9999 (libplist's XML date text). None when it cannot be stored.
struct StoredDate {
  int64_t seconds = 0;
  int64_t micros = 0;
  bool wide = false;  // outside the 32-bit seconds range
};

std::optional<StoredDate> storedDate(double t) {
  if (!std::isfinite(t)) {
    return std::nullopt;
  }
  double whole = std::floor(t);
  if (whole >= std::numeric_limits<int32_t>::min() && whole <= std::numeric_limits<int32_t>::max()) {
    auto sec = static_cast<int64_t>(whole);
    auto usec = static_cast<int64_t>(std::llround((t - whole) * 1e6));
    if (usec >= 1000000 && sec < std::numeric_limits<int32_t>::max()) {
      ++sec;
      usec -= 1000000;
    } else if (usec >= 1000000) {
      usec = 999999;
    }
    return StoredDate{sec, usec, false};
  }
  double since1970 = whole + Value::kReferenceDateOffset;
  if (std::fabs(since1970) > 253402300799.0 + 62135596800.0) {
    return std::nullopt;
  }
  auto seconds = static_cast<int64_t>(since1970);
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t year = 0;
  unsigned month = 0, day = 0;
  civilFromDays(days, year, month, day);
  if (year < 0 || year > 9999) {
    return std::nullopt;
  }
  return StoredDate{static_cast<int64_t>(whole), 0, true};
}

// The seconds since 2001 a stored date reads back as (libplist's own sum).
double storedDateValue(const StoredDate& date) {
  return date.wide ? static_cast<double>(date.seconds)
                   : static_cast<double>(date.seconds) + static_cast<double>(date.micros) / 1000000;
}

// The seconds since 2001 a date node holds. libplist keeps them as a double,
// but its getter truncates them to a 32-bit second and whole microseconds
// (so 0.414019 read back as 0.414018, and far dates wrapped); the node's
// binary form carries the double itself.
std::optional<double> dateNodeSeconds(plist_t node) {
  char* bin = nullptr;
  uint32_t length = 0;
  plist_to_bin(node, &bin, &length);
  std::optional<double> seconds;
  // "bplist00", then the root object: marker 0x33 and a big-endian double.
  if (bin != nullptr && length >= 17 && static_cast<uint8_t>(bin[8]) == 0x33) {
    uint64_t bits = 0;
    for (int i = 9; i < 17; ++i) {
      bits = (bits << 8) | static_cast<uint8_t>(bin[i]);
    }
    seconds = std::bit_cast<double>(bits);
  }
  if (bin != nullptr) {
    plist_to_bin_free(bin);
  }
  return seconds;
}

// Where a lenient read records what it left out: the path of each value
// (keys and "[index]" joined by "/"), and the path walked so far.
struct Dropped {
  std::vector<std::string>& paths;
  std::vector<std::string> trail;

  // The trail, steps joined by "/", as a dropped path.
  void record() {
    std::string path;
    for (const std::string& step : trail) {
      path += (path.empty() ? "" : "/") + step;
    }
    paths.push_back(std::move(path));
  }
};

Result<Value> toValue(plist_t node, size_t depth, Dropped* dropped);

// A container's child at `step`; with `dropped`, a child that cannot be read
// is recorded under its path (and the caller leaves it out).
Result<Value> childValue(plist_t child, size_t depth, Dropped* dropped, const std::string& step) {
  if (dropped == nullptr) {
    return toValue(child, depth, nullptr);
  }
  dropped->trail.push_back(step);
  Result<Value> value = toValue(child, depth, dropped);
  if (!value) {
    dropped->record();
  }
  dropped->trail.pop_back();
  return value;
}

Result<Value> toValue(plist_t node, size_t depth, Dropped* dropped) {
  if (depth > PropertyList::kMaxDepth) {
    return corrupt("nested too deeply");
  }
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      uint64_t v = 0;
      plist_get_uint_val(node, &v);
      if ((v >> 63) != 0 && !isNegativeInteger(node)) {
        return Value(static_cast<unsigned long long>(v));
      }
      return Value(static_cast<long long>(v));
    }
    case PLIST_UID: {
      uint64_t v = 0;
      plist_get_uid_val(node, &v);
      return Value(static_cast<unsigned long long>(v));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      std::string text = s != nullptr ? std::string(s, static_cast<size_t>(length)) : std::string();
      if (!PropertyList::isStorableText(text)) {
        return corrupt("a string is not UTF-8 text");
      }
      return Value(std::move(text));
    }
    case PLIST_KEY: {
      char* s = nullptr;
      plist_get_key_val(node, &s);
      std::string text = s != nullptr ? s : "";
      std::free(s);
      if (!PropertyList::isStorableText(text)) {
        return corrupt("a key is not UTF-8 text");
      }
      return Value(std::move(text));
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      Value v = Value::data(bytes, bytes != nullptr ? static_cast<size_t>(length) : 0);
      std::free(bytes);
      return v;
    }
    case PLIST_DATE: {
      // Read as written again: a date read and stored once more stays the same.
      std::optional<double> seconds = dateNodeSeconds(node);
      std::optional<StoredDate> stored = seconds ? storedDate(*seconds) : std::nullopt;
      if (!stored) {
        return corrupt("a date is out of range");
      }
      return Value::dateSinceReference(storedDateValue(*stored));
    }
    case PLIST_ARRAY: {
      Array array;
      uint32_t n = plist_array_get_size(node);
      array.reserve(n);
      // Walked with an iterator: plist_array_get_item counts from the first
      // item each time, which made large arrays take quadratic time.
      plist_array_iter raw = nullptr;
      plist_array_new_iter(node, &raw);
      std::unique_ptr<void, void (*)(void*)> iter(raw, std::free);
      for (uint32_t i = 0; i < n; ++i) {
        plist_t child = nullptr;
        plist_array_next_item(node, iter.get(), &child);
        if (child == nullptr) {
          break;
        }
        Result<Value> item =
            childValue(child, depth + 1, dropped, dropped != nullptr ? "[" + std::to_string(i) + "]" : std::string());
        if (!item) {
          if (dropped != nullptr) {
            continue;
          }
          return item;
        }
        array.append(std::move(item.value()));
      }
      return Value(std::move(array));
    }
    case PLIST_DICT: {
      Dictionary dict;
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (item == nullptr) {
          std::free(key);
          break;
        }
        std::string name = key != nullptr ? key : "";
        std::free(key);
        if (!PropertyList::isStorableText(name)) {
          std::free(it);
          return corrupt("a key is not UTF-8 text");
        }
        Result<Value> v = childValue(item, depth + 1, dropped, name);
        if (!v) {
          if (dropped != nullptr) {
            continue;
          }
          std::free(it);
          return v;
        }
        dict.set(std::move(name), std::move(v.value()));
      }
      std::free(it);
      return Value(std::move(dict));
    }
    default:
      return corrupt("unknown element");
  }
}

Result<PlistPtr> toPlist(const Value& value, size_t depth) {
  if (depth > PropertyList::kMaxDepth) {
    return invalid("nested too deeply (or a container contains itself)");
  }
  switch (value.type()) {
    case ValueType::Bool:
      return PlistPtr(plist_new_bool(*value.asBool() ? 1 : 0));
    case ValueType::Number: {
      Number n = *value.asNumber();
      if (n.isFloating()) {
        return PlistPtr(plist_new_real(n.m_double));
      }
      if (n.isSigned()) {
        return PlistPtr(plist_new_uint(static_cast<uint64_t>(n.m_int)));
      }
      if (n.m_uint > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        plist_t node = nodeFromXml("<integer>" + std::to_string(n.m_uint) + "</integer>");
        if (node == nullptr) {
          return invalid("unsigned integer not accepted");
        }
        return PlistPtr(node);
      }
      return PlistPtr(plist_new_uint(n.m_uint));
    }
    case ValueType::String:
      if (!PropertyList::isStorableText(*value.asString())) {
        return invalid("a string is not UTF-8 text without NUL characters");
      }
      return PlistPtr(plist_new_string(value.asString()->c_str()));
    case ValueType::Data: {
      const Bytes& bytes = *value.asData();
      return PlistPtr(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    case ValueType::Date: {
      double t = *value.asDateSinceReference();
      if (!std::isfinite(t)) {
        return invalid("date is not finite");
      }
      std::optional<StoredDate> stored = storedDate(t);
      if (!stored) {
        return invalid("date out of range");
      }
      if (!stored->wide) {
        return PlistPtr(plist_new_date(static_cast<int32_t>(stored->seconds), static_cast<int32_t>(stored->micros)));
      }
      auto seconds = static_cast<int64_t>(static_cast<double>(stored->seconds) + Value::kReferenceDateOffset);
      int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
      int64_t rest = seconds - days * 86400;
      int64_t year = 0;
      unsigned month = 0, day = 0;
      civilFromDays(days, year, month, day);
      char text[64];
      std::snprintf(text, sizeof text, "<date>%04lld-%02u-%02uT%02lld:%02lld:%02lldZ</date>",
                    static_cast<long long>(year), month, day, static_cast<long long>(rest / 3600),
                    static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
      plist_t node = nodeFromXml(text);
      if (node == nullptr) {
        return invalid("date not accepted");
      }
      return PlistPtr(node);
    }
    case ValueType::Array: {
      PlistPtr array(plist_new_array());
      for (const Value& item : Array(*value.asArray())) {
        Result<PlistPtr> child = toPlist(item, depth + 1);
        if (!child) {
          return child.error();
        }
        plist_array_append_item(array.get(), child.value().release());
      }
      return array;
    }
    case ValueType::Dictionary: {
      PlistPtr dict(plist_new_dict());
      for (const auto& [key, item] : Dictionary(*value.asDictionary())) {
        if (!PropertyList::isStorableText(key)) {
          return invalid("a key is not UTF-8 text without NUL characters");
        }
        Result<PlistPtr> child = toPlist(item, depth + 1);
        if (!child) {
          return child.error();
        }
        plist_dict_set_item(dict.get(), key.c_str(), child.value().release());
      }
      return dict;
    }
    default:
      return invalid("a " + value.typeName() + " value cannot be stored");
  }
}

}  // namespace

namespace {

Result<Value> parseWith(const void* bytes, size_t size, Dropped* dropped) {
  using P = PropertyList;
  if (size == 0) {
    return corrupt("empty");
  }
  if (size > P::kMaxBytes) {
    return corrupt("too large");
  }
  const auto* data = static_cast<const uint8_t*>(bytes);
  plist_t root = nullptr;
  if (size >= 8 && std::memcmp(data, "bplist00", 8) == 0) {
    if (auto why = storage_internal::checkBinaryPlist(data, size, P::kMaxDepth, P::maxObjects(size))) {
      return corrupt(*why);
    }
    plist_from_bin(static_cast<const char*>(bytes), static_cast<uint32_t>(size), &root);
  } else {
    std::string text(static_cast<const char*>(bytes), size);
    // NUL is no XML character; libplist's string getters abort on it.
    if (text.find('\0') != std::string::npos) {
      return corrupt("NUL character in XML text");
    }
    if (auto why = storage_internal::checkXmlPlistDepth(text.data(), text.size(), P::kMaxDepth)) {
      return corrupt(*why);
    }
    plist_from_xml(text.c_str(), static_cast<uint32_t>(text.size()), &root);
  }
  if (root == nullptr) {
    return corrupt("not a property list");
  }
  PlistPtr owner(root);
  return toValue(root, 0, dropped);
}

}  // namespace

Result<Value> PropertyList::parse(const void* bytes, size_t size) { return parseWith(bytes, size, nullptr); }

Result<Value> PropertyList::parseDroppingUnwritable(const void* bytes, size_t size, std::vector<std::string>& dropped) {
  Dropped record{dropped, {}};
  return parseWith(bytes, size, &record);
}

Result<Value> PropertyList::parseEmbeddedXml(const void* bytes, size_t size) {
  std::string_view text(static_cast<const char*>(bytes), size);
  size_t start = text.find("<?xml");
  if (start == std::string_view::npos) {
    return corrupt("no embedded property list");
  }
  static constexpr std::string_view kEnd = "</plist>";
  size_t end = text.find(kEnd, start);
  if (end == std::string_view::npos) {
    return corrupt("embedded property list is not terminated");
  }
  std::string_view slice = text.substr(start, end + kEnd.size() - start);
  return parse(slice.data(), slice.size());
}

Result<Value> PropertyList::readFile(const std::string& path) {
  Result<Bytes> bytes = fs::readFile(path);
  if (!bytes) {
    return bytes.error();
  }
  return parse(bytes.value());
}

namespace {
Result<Dictionary> asDictionaryResult(Result<Value> value) {
  if (!value) {
    return value.error();
  }
  if (auto dict = value->asDictionary()) {
    return *dict;
  }
  return Error::make(PropertyList::kNotADictionaryDomain, PropertyList::kNotADictionaryError,
                     "The property list is a " + value->typeName() + ", not a dictionary.");
}
}  // namespace

Result<Dictionary> PropertyList::readDictionary(const std::string& path) {
  return asDictionaryResult(readFile(path));
}

Result<Dictionary> PropertyList::readDictionary(const Bytes& bytes) {
  return asDictionaryResult(parse(bytes));
}

// libplist stores strings as C strings and writes them as UTF-8 (XML) or
// UTF-16 (binary): a NUL character or ill-formed UTF-8 would be cut off or
// dropped there, so such text is neither written nor accepted when read.
bool PropertyList::isStorableText(std::string_view text) {
  return text.find('\0') == std::string_view::npos && Unicode::isValidUtf8(text);
}

bool PropertyList::isNotADictionary(const Error& error) {
  return error.domain == kNotADictionaryDomain && error.code == kNotADictionaryError;
}

Result<Bytes> PropertyList::serialize(const Value& value, PropertyListFormat format) {
  Result<PlistPtr> root = toPlist(value, 0);
  if (!root) {
    return root.error();
  }
  char* out = nullptr;
  uint32_t length = 0;
  if (format == PropertyListFormat::Binary) {
    plist_to_bin(root->get(), &out, &length);
  } else {
    plist_to_xml(root->get(), &out, &length);
  }
  if (out == nullptr) {
    return invalid("serialisation failed");
  }
  Bytes bytes(reinterpret_cast<uint8_t*>(out), reinterpret_cast<uint8_t*>(out) + length);
  if (format == PropertyListFormat::Binary) {
    plist_to_bin_free(out);
  } else {
    plist_to_xml_free(out);
  }
  // Never hand out a list that parse() would refuse. libplist shares no
  // containers, so what it writes never expands beyond its own size.
  if (bytes.size() > kMaxBytes) {
    return invalid("larger than " + std::to_string(kMaxBytes) + " bytes");
  }
  return bytes;
}

std::optional<Error> PropertyList::writeFile(const std::string& path, const Value& value,
                                             PropertyListFormat format, mode_t mode) {
  Result<Bytes> bytes = serialize(value, format);
  if (!bytes) {
    return bytes.error();
  }
  return fs::writeFileAtomically(path, bytes.value(), mode);
}

}  // namespace platform
