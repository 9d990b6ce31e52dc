#include "sdk/messaging/RIRMessagingDictionary.h"

std::string rcm_string(const platform::Dictionary& dictionary) {
  std::string out;
  for (const auto& [key, value] : dictionary) {
    if (const std::string* text = value.asString()) out += key + ":" + *text + "|";
  }
  if (!out.empty()) out.pop_back();
  return out;
}

bool rcm_hasNonStringKeysOrValues(const platform::Dictionary& dictionary) {
  for (const auto& entry : dictionary) {
    if (!entry.second.isString()) return true;
  }
  return false;
}

platform::Dictionary rcm_trimNonStringValues(const platform::Dictionary& dictionary) {
  platform::Dictionary out;
  out.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) {
    if (value.isString()) out.set(key, value);
  }
  return out;
}
