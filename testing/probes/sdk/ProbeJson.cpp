#include "testing/probes/sdk/ProbeJson.h"

#include <fstream>
#include <iterator>

#include "platform/storage/Json.h"

namespace sdkprobe {

std::optional<platform::Value> parseJsonArgument(const std::string& argument, std::string& error) {
  std::string text = argument;
  if (!text.empty() && text[0] == '@') {
    std::ifstream in(text.substr(1), std::ios::binary);
    if (!in) {
      error = "cannot read " + text.substr(1);
      return std::nullopt;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  platform::JsonReadOptions read;
  read.allowFragments = true;
  platform::Result<platform::Value> parsed = platform::Json::parse(text, read);
  if (!parsed.ok()) {
    error = "invalid JSON: " + parsed.error().localizedDescription();
    return std::nullopt;
  }
  return parsed.value();
}

std::string compactJson(const platform::Value& value) {
  platform::JsonWriteOptions write;
  write.allowFragments = true;
  write.sortedKeys = true;
  platform::Result<std::string> text = platform::Json::serialize(value, write);
  return text.ok() ? text.value() : value.description();
}

}  // namespace sdkprobe
