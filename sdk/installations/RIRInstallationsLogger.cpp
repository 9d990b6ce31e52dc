#include "sdk/installations/RIRInstallationsLogger.h"

#include <algorithm>
#include <cctype>

#include "platform/storage/Json.h"

using platform::Value;

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool isSecretHeader(std::string_view name) {
  std::string key = lower(name);
  return key == "x-zoruvu-api-key" || key == "authorization" || key == "x-zoruvu-ris-ios-iid-migration-auth";
}

bool isSecretKey(const std::string& key) { return key == "token" || key == "refreshToken" || key == "authToken"; }

Value redacted(const Value& value) {
  if (auto dictionary = value.asDictionary()) {
    platform::Dictionary out;
    for (const auto& [key, item] : platform::Dictionary(*dictionary)) {
      out.set(key, isSecretKey(key) && !item.isDictionary() ? Value(kRIRInstallationsRedacted) : redacted(item));
    }
    return Value(out);
  }
  if (auto array = value.asArray()) {
    platform::Array out;
    for (const Value& item : platform::Array(*array)) out.append(redacted(item));
    return Value(out);
  }
  return value;
}

}  // namespace

std::string RIRInstallationsRedactedHeaders(const platform::HttpHeaders& headers) {
  std::string out = "{";
  bool first = true;
  for (const auto& [name, value] : headers.fields()) {
    if (!first) out += ", ";
    first = false;
    out += name + ": " + (isSecretHeader(name) ? std::string(kRIRInstallationsRedacted) : value);
  }
  return out + "}";
}

std::string RIRInstallationsRedactedBody(const platform::Bytes& body) {
  if (body.empty()) return "";
  platform::Result<Value> parsed = platform::Json::parse(body);
  if (!parsed) return "<" + std::to_string(body.size()) + " bytes, not JSON>";
  platform::Result<std::string> text = platform::Json::serialize(redacted(parsed.value()));
  return text ? text.value() : "<" + std::to_string(body.size()) + " bytes>";
}
