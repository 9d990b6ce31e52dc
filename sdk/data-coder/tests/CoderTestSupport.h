// Shared helpers of the data coder's tests: JSON trees, compact text of a
// tree, the text of the first coding error a call throws, and small coded
// types.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/storage/Json.h"
#include "sdk/data-coder/RirivuduDataDecoder.h"
#include "sdk/data-coder/RirivuduDataEncoder.h"

namespace codertest {

inline platform::Value tree(const std::string& json) {
  platform::JsonReadOptions options;
  options.allowFragments = true;
  platform::Result<platform::Value> parsed = platform::Json::parse(json, options);
  EXPECT_TRUE(parsed.ok()) << json;
  return parsed.ok() ? parsed.value() : platform::Value();
}

inline std::string text(const platform::Value& value) {
  platform::JsonWriteOptions options;
  options.allowFragments = true;
  options.sortedKeys = true;
  platform::Result<std::string> written = platform::Json::serialize(value, options);
  return written.ok() ? written.value() : "<" + value.description() + ">";
}

// "kind: description" of the coding error `run` throws, "no error" when none.
template <class F>
std::string failure(F&& run) {
  try {
    run();
  } catch (const coding::DecodingError& error) {
    return error.kindName() + ": " + error.debugDescription();
  } catch (const coding::EncodingError& error) {
    return "invalidValue: " + error.debugDescription();
  }
  return "no error";
}

// The coding path of the coding error `run` throws.
template <class F>
std::string failurePath(F&& run) {
  try {
    run();
  } catch (const coding::DecodingError& error) {
    return coding::describePath(error.codingPath());
  } catch (const coding::EncodingError& error) {
    return coding::describePath(error.codingPath());
  }
  return "no error";
}

// Encodes nothing at all.
struct Empty {
  static constexpr const char* kCodingTypeName = "Empty";
  void encode(coding::Encoder&) const {}
  static Empty decode(coding::Decoder&) { return {}; }
};

}  // namespace codertest
