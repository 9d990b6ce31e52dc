// sdk-probe data coder subcommands, over the probe types Int, Int8, UInt64,
// Double, String, Bool, Date, Data, Record (optional members firstName:
// String, userID: Int, createdAt: Date, payload: Data), and arrays "[T]" and
// string-keyed dictionaries "[String:T]" of them:
//
//   coder decode --type T --json JSON [--container keyed|unkeyed|single]
//         [--date-strategy S] [--data-strategy S] [--nonconforming POS,NEG,NAN]
//         [--key-strategy snake]
//       decodes the JSON tree as T: at the top level, or with --container
//       through a keyed container (member "value"), an unkeyed container
//       (the first element) or the single-value container. Prints
//       "=> " and the value as compact JSON with sorted keys (dates as
//       seconds since 1970, data as base64, non-finite numbers as "inf",
//       "-inf", "nan"), or "=> error " and the error's description.
//   coder encode --type T --json JSON [--key-strategy snake]
//         [--date-strategy S] [--nonconforming POS,NEG,NAN]
//       decodes the JSON as T (with the same date and non-conforming
//       strategies) and encodes it with the given strategies; prints the
//       tree as compact JSON with sorted keys, or "=> error ...".
//   coder snake-case TEXT, coder from-snake-case TEXT
//       "=> " and the converted key.
//
// Date strategies: deferred, seconds, milliseconds, iso8601,
// formatted:PATTERN (UTC). Data strategies: base64, blob, deferred.
// JSON is inline or "@PATH" (a file). Usage errors print "=> usage: ..." and
// return 2; coding errors return 1.
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "sdk/data-coder/RirivuduDataDecoder.h"
#include "sdk/data-coder/RirivuduDataEncoder.h"
#include "testing/probes/sdk/ProbeCommand.h"
#include "testing/probes/sdk/ProbeJson.h"

namespace sdkprobe {

namespace {

struct Record {
  static constexpr const char* kCodingTypeName = "Record";
  std::optional<std::string> firstName;
  std::optional<coding::Int> userID;
  std::optional<coding::Date> createdAt;
  std::optional<coding::Data> payload;

  void encode(coding::Encoder& encoder) const {
    auto c = encoder.container();
    c.encodeIfPresent(firstName, "firstName");
    c.encodeIfPresent(userID, "userID");
    c.encodeIfPresent(createdAt, "createdAt");
    c.encodeIfPresent(payload, "payload");
  }
  static Record decode(coding::Decoder& decoder) {
    auto c = decoder.container();
    return {c.decodeIfPresent<std::string>("firstName"), c.decodeIfPresent<coding::Int>("userID"),
            c.decodeIfPresent<coding::Date>("createdAt"), c.decodeIfPresent<coding::Data>("payload")};
  }
};

template <class T>
struct ThroughKeyed {
  T value;
  static ThroughKeyed decode(coding::Decoder& decoder) { return {decoder.container().decode<T>("value")}; }
};

template <class T>
struct ThroughUnkeyed {
  T value;
  static ThroughUnkeyed decode(coding::Decoder& decoder) { return {decoder.unkeyedContainer().decode<T>()}; }
};

template <class T>
struct ThroughSingle {
  T value;
  static ThroughSingle decode(coding::Decoder& decoder) { return {decoder.singleValueContainer().decode<T>()}; }
};

struct Options {
  std::string action;
  std::map<std::string, std::string> values;  // "--type" -> "Int", ...

  std::optional<std::string> get(const std::string& name) const {
    auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  }
};

struct UsageError {
  std::string text;
};

std::optional<coding::NonConformingFloatStrings> nonConforming(const Options& options) {
  std::optional<std::string> text = options.get("--nonconforming");
  if (!text) return std::nullopt;
  std::vector<std::string> parts;
  std::stringstream stream(*text);
  std::string part;
  while (std::getline(stream, part, ',')) parts.push_back(part);
  if (parts.size() != 3) throw UsageError{"--nonconforming POS,NEG,NAN"};
  return coding::NonConformingFloatStrings{parts[0], parts[1], parts[2]};
}

template <class Strategy>
Strategy dateStrategy(const Options& options) {
  std::string name = options.get("--date-strategy").value_or("deferred");
  if (name == "deferred") return Strategy::deferredToDate();
  if (name == "seconds") return Strategy::secondsSince1970();
  if (name == "milliseconds") return Strategy::millisecondsSince1970();
  if (name == "iso8601") return Strategy::iso8601();
  if (name.rfind("formatted:", 0) == 0) {
    try {
      return Strategy::formatted(std::make_shared<platform::DateFormatter>(platform::DateFormatter::utc(name.substr(10))));
    } catch (const std::invalid_argument&) {
      throw UsageError{"bad date pattern '" + name.substr(10) + "'"};
    }
  }
  throw UsageError{"--date-strategy deferred|seconds|milliseconds|iso8601|formatted:PATTERN"};
}

RirivuduDataDecoder makeDecoder(const Options& options) {
  RirivuduDataDecoder decoder;
  decoder.setDateDecodingStrategy(dateStrategy<coding::DateDecodingStrategy>(options));
  std::string data = options.get("--data-strategy").value_or("base64");
  if (data == "blob") {
    decoder.setDataDecodingStrategy(coding::DataDecodingStrategy::blob());
  } else if (data == "deferred") {
    decoder.setDataDecodingStrategy(coding::DataDecodingStrategy::deferredToData());
  } else if (data != "base64") {
    throw UsageError{"--data-strategy base64|blob|deferred"};
  }
  if (auto strings = nonConforming(options)) {
    decoder.setNonConformingFloatDecodingStrategy(coding::NonConformingFloatDecodingStrategy::convertFromString(
        strings->positiveInfinity, strings->negativeInfinity, strings->nan));
  }
  std::optional<std::string> keys = options.get("--key-strategy");
  if (keys && *keys != "snake") throw UsageError{"--key-strategy snake"};
  if (keys && options.action == "decode") {
    decoder.setKeyDecodingStrategy(coding::KeyDecodingStrategy::convertFromSnakeCase());
  }
  return decoder;
}

RirivuduDataEncoder makeEncoder(const Options& options) {
  RirivuduDataEncoder encoder;
  encoder.setDateEncodingStrategy(dateStrategy<coding::DateEncodingStrategy>(options));
  if (auto strings = nonConforming(options)) {
    encoder.setNonConformingFloatEncodingStrategy(coding::NonConformingFloatEncodingStrategy::convertToString(
        strings->positiveInfinity, strings->negativeInfinity, strings->nan));
  }
  if (options.get("--key-strategy")) encoder.setKeyEncodingStrategy(coding::KeyEncodingStrategy::convertToSnakeCase());
  return encoder;
}

platform::Value readTree(const Options& options) {
  std::optional<std::string> json = options.get("--json");
  if (!json) throw UsageError{"--json JSON"};
  std::string error;
  std::optional<platform::Value> tree = parseJsonArgument(*json, error);
  if (!tree) throw UsageError{error};
  return *tree;
}

// The decoded value as a tree: dates in seconds, data as base64, non-finite numbers as text.
template <class T>
std::string show(const T& value) {
  RirivuduDataEncoder encoder;
  encoder.setDateEncodingStrategy(coding::DateEncodingStrategy::secondsSince1970());
  encoder.setNonConformingFloatEncodingStrategy(
      coding::NonConformingFloatEncodingStrategy::convertToString("inf", "-inf", "nan"));
  return compactJson(encoder.encode(value));
}

template <class T>
int decode(const Options& options) {
  RirivuduDataDecoder decoder = makeDecoder(options);
  platform::Value tree = readTree(options);
  std::string container = options.get("--container").value_or("");
  if (container.empty()) {
    result(show(decoder.decode<T>(tree)));
  } else if (container == "keyed") {
    result(show(decoder.decode<ThroughKeyed<T>>(tree).value));
  } else if (container == "unkeyed") {
    result(show(decoder.decode<ThroughUnkeyed<T>>(tree).value));
  } else if (container == "single") {
    result(show(decoder.decode<ThroughSingle<T>>(tree).value));
  } else {
    throw UsageError{"--container keyed|unkeyed|single"};
  }
  return 0;
}

template <class T>
int encode(const Options& options) {
  RirivuduDataEncoder encoder = makeEncoder(options);
  T value = makeDecoder(options).decode<T>(readTree(options));
  result(compactJson(encoder.encode(value)));
  return 0;
}

// Calls run.template operator()<T>() for the named probe type.
template <class Run>
int withBase(const std::string& name, Run&& run, int shape) {
  auto go = [&]<class T>() {
    if (shape == 0) return run.template operator()<T>();
    if (shape == 1) return run.template operator()<std::vector<T>>();
    return run.template operator()<std::map<std::string, T>>();
  };
  if (name == "Int") return go.template operator()<coding::Int>();
  if (name == "Int8") return go.template operator()<int8_t>();
  if (name == "UInt64") return go.template operator()<uint64_t>();
  if (name == "Double") return go.template operator()<double>();
  if (name == "String") return go.template operator()<std::string>();
  if (name == "Bool") return go.template operator()<bool>();
  if (name == "Date") return go.template operator()<coding::Date>();
  if (name == "Data") return go.template operator()<coding::Data>();
  if (name == "Record") return go.template operator()<Record>();
  throw UsageError{"--type: unknown type '" + name + "'"};
}

template <class Run>
int withType(std::string type, Run&& run) {
  std::string compactType;
  for (char c : type) {
    if (c != ' ') compactType += c;
  }
  auto inner = [](const std::string& text, const std::string& open, const std::string& close)
      -> std::optional<std::string> {
    if (text.size() > open.size() + close.size() && text.rfind(open, 0) == 0 &&
        text.compare(text.size() - close.size(), close.size(), close) == 0) {
      return text.substr(open.size(), text.size() - open.size() - close.size());
    }
    return std::nullopt;
  };
  if (auto element = inner(compactType, "[String:", "]")) return withBase(*element, run, 2);
  if (auto element = inner(compactType, "Dictionary<String,", ">")) return withBase(*element, run, 2);
  if (auto element = inner(compactType, "[", "]")) return withBase(*element, run, 1);
  if (auto element = inner(compactType, "Array<", ">")) return withBase(*element, run, 1);
  return withBase(compactType, run, 0);
}

int runCoder(const std::vector<std::string>& arguments) {
  try {
    if (arguments.empty()) throw UsageError{"coder decode|encode|snake-case|from-snake-case ..."};
    Options options;
    options.action = arguments[0];
    if (options.action == "snake-case" || options.action == "from-snake-case") {
      if (arguments.size() != 2) throw UsageError{"coder " + options.action + " TEXT"};
      result(options.action == "snake-case" ? coding::toSnakeCase(arguments[1])
                                            : coding::KeyedDecodingContainer::convertFromSnakeCase(arguments[1]));
      return 0;
    }
    if (options.action != "decode" && options.action != "encode") {
      throw UsageError{"coder decode|encode|snake-case|from-snake-case ..."};
    }
    for (size_t index = 1; index + 1 < arguments.size(); index += 2) options.values[arguments[index]] = arguments[index + 1];
    std::optional<std::string> type = options.get("--type");
    if (!type) throw UsageError{"--type T"};
    try {
      if (options.action == "decode") return withType(*type, [&]<class T>() { return decode<T>(options); });
      return withType(*type, [&]<class T>() { return encode<T>(options); });
    } catch (const coding::DecodingError& error) {
      result("error " + error.debugDescription());
    } catch (const coding::EncodingError& error) {
      result("error " + error.debugDescription());
    }
    return 1;
  } catch (const UsageError& error) {
    result("usage: " + error.text);
    return 2;
  }
}

// "coder ACTION" then "--name VALUE" pairs; the key conversions take one TEXT.
size_t countCoderArguments(const std::vector<std::string>& following) {
  if (following.empty()) return 0;
  if (following[0] == "snake-case" || following[0] == "from-snake-case") return std::min<size_t>(2, following.size());
  size_t count = 1;
  while (count < following.size() && following[count].rfind("--", 0) == 0) {
    count += count + 1 < following.size() ? 2 : 1;
  }
  return count;
}

}  // namespace

std::vector<Subcommand> coderSubcommands() {
  Subcommand coder{"coder", 0, "coder decode|encode --type T --json JSON [--OPTION VALUE ...] | snake-case TEXT | "
                               "from-snake-case TEXT",
                   runCoder};
  coder.countArguments = countCoderArguments;
  return {coder};
}

}  // namespace sdkprobe
