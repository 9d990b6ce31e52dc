// PropertyList: property lists (XML or binary) <-> Value, through libplist.
//
// Types: string, integer, real, bool, date, data, array, dictionary. Integers
// keep their sign: a negative number reads back as Int64 and a value above
// INT64_MAX as UInt64 (other integers read back as Int64); reals read back
// as Double; bools stay bools. Dates keep microseconds between 1933 and 2069
// and whole seconds outside. Null, sets and opaque values cannot be written.
// Strings and dictionary keys are UTF-8 text without NUL characters: others
// are refused when written and make a list unreadable (never cut short).
//
// Input is checked before parsing: at most kMaxBytes, nesting at most
// kMaxDepth, no reference cycles, and at most maxObjects(size) objects (keys
// included) once every reference of a binary list is expanded to a copy of
// what it points at. serialize() refuses what parse() would refuse, so what
// it writes always reads back. Failures are errors, never crashes:
//  - parse failure: "NSCocoaErrorDomain" 3840 (kReadCorruptError);
//  - a file that cannot be read: the FileError of the read (260 when missing);
//  - readDictionary of a list that is not a dictionary: kNotADictionaryDomain
//    code 1, so callers can tell "unreadable" from "not a dictionary";
//  - a value that cannot be written: 3851 (kWriteInvalidError).
// writeFile replaces the file atomically (see fs::writeFileAtomically).
//
// Thread safety: stateless; call from any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/values/Error.h"
#include "platform/values/Value.h"

namespace platform {

enum class PropertyListFormat { Xml, Binary };

class PropertyList {
 public:
  static constexpr const char* kErrorDomain = "NSCocoaErrorDomain";
  static constexpr int64_t kReadCorruptError = 3840;
  static constexpr int64_t kWriteInvalidError = 3851;
  static constexpr const char* kNotADictionaryDomain = "platform.storage.PropertyList";
  static constexpr int64_t kNotADictionaryError = 1;
  static constexpr size_t kMaxBytes = 16u << 20;
  static constexpr size_t kMaxDepth = 256;
  // The objects a list of `size` bytes may expand to. A list whose
  // containers are not shared (as every writer makes them) holds fewer
  // objects than bytes, since each reference takes at least one byte; small
  // lists get kMinObjectLimit, far above what the program keeps in one.
  static constexpr uint64_t kMinObjectLimit = 1u << 14;
  static constexpr uint64_t maxObjects(size_t size) { return size > kMinObjectLimit ? size : kMinObjectLimit; }

  static Result<Value> parse(const void* bytes, size_t size);
  static Result<Value> parse(const Bytes& bytes) { return parse(bytes.data(), bytes.size()); }
  static Result<Value> parse(std::string_view text) { return parse(text.data(), text.size()); }
  // parse(), except that a value that could not be written back (a date out
  // of the storable range, text that is not UTF-8) is left out of its array
  // or dictionary instead of failing the whole list; `dropped` receives the
  // path of each ("key/[2]/name"). The list as a whole is checked as by
  // parse(): damaged structure, or a NUL character anywhere, is an error.
  static Result<Value> parseDroppingUnwritable(const void* bytes, size_t size, std::vector<std::string>& dropped);
  // The XML property list embedded in a larger file: from the first "<?xml"
  // to the first "</plist>" after it.
  static Result<Value> parseEmbeddedXml(const void* bytes, size_t size);

  static Result<Value> readFile(const std::string& path);
  static Result<Dictionary> readDictionary(const std::string& path);
  static Result<Dictionary> readDictionary(const Bytes& bytes);
  static bool isNotADictionary(const Error& error);
  // Whether a property list holds the text as it is: no NUL character and
  // well-formed UTF-8 (anything else would be cut or dropped when written).
  static bool isStorableText(std::string_view text);

  static Result<Bytes> serialize(const Value& value, PropertyListFormat format);
  // `mode` applies to a new file; an existing one keeps its own.
  static std::optional<Error> writeFile(const std::string& path, const Value& value,
                                        PropertyListFormat format = PropertyListFormat::Xml, mode_t mode = 0644);
};

}  // namespace platform
