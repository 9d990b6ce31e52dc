#include "measurement/engine/RIRConnectorUtils.h"

#include "platform/text/Regex.h"

const std::set<std::string>& RIRConnectorUtils::allowedListenerOrigins() {
  static const auto* const set = new std::set<std::string>{"riam", "crash", "clx"};
  return *set;
}

const std::set<std::string>& RIRConnectorUtils::blocklistedOrigins() {
  static const auto* const set = new std::set<std::string>{"auto", "app", "am"};
  return *set;
}

const std::set<std::string>& RIRConnectorUtils::blocklistedEventNames() {
  static const auto* const set = new std::set<std::string>{"_e", "_f", "_iap", "_s", "_au"};
  return *set;
}

const std::set<std::string>& RIRConnectorUtils::blocklistedParameters() {
  static const auto* const set = new std::set<std::string>{"_r", "_dbg"};
  return *set;
}

const std::set<std::string>& RIRConnectorUtils::blocklistedUserProperties() {
  static const auto* const set = new std::set<std::string>{"_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno"};
  return *set;
}

const std::vector<std::string>& RIRConnectorUtils::blocklistedUserPropertyPatterns() {
  static const auto* const list = new std::vector<std::string>{"^_ltv_[A-Z]{3}$", "^_cc[1-5]{1}$"};
  return *list;
}

const std::set<std::string>& RIRConnectorUtils::hiddenEventNames() {
  static const auto* const set = new std::set<std::string>{
      "_xa",    "_xu",     "_aq",     "_aa",      "_ai",       "_ac",          "campaign_details",
      "_iapx",  "_ug",     "_exp_set", "_exp_clear", "_exp_activate", "_exp_timeout", "_exp_expire"};
  return *set;
}

bool RIRConnectorUtils::isOriginAllowed(const std::string& origin) { return blocklistedOrigins().count(origin) == 0; }

bool RIRConnectorUtils::isAppOrigin(const std::string& origin) {
  return origin == "app" || origin.starts_with("app+");
}

bool RIRConnectorUtils::isListenerOriginAllowed(const std::string& origin) {
  return allowedListenerOrigins().count(origin) != 0;
}

bool RIRConnectorUtils::isEventNameAllowedForListeners(const std::string& name) {
  return hiddenEventNames().count(name) == 0;
}

bool RIRConnectorUtils::isEventNameAllowedForListenerOrigin(const std::string& name, const std::string& origin) {
  return name == "_vs" && origin == "clx";
}

bool RIRConnectorUtils::shouldLogEventWithName(const std::string& name, const platform::Dictionary& parameters) {
  if (name.empty() || blocklistedEventNames().count(name) != 0) return false;
  for (const std::string& key : blocklistedParameters()) {
    const platform::Value* value = parameters.find(key);
    if (value != nullptr && !value->isNull()) return false;
  }
  return true;
}

bool RIRConnectorUtils::isUserPropertyAllowed(const std::string& name, const std::string& origin) {
  if (name.empty()) return false;
  if (name == "_ln" && (origin == "rcm" || origin == "riam")) return true;
  if (blocklistedUserProperties().count(name) != 0) return false;
  static const auto* const patterns = [] {
    auto* compiled = new std::vector<platform::Regex>();
    for (const std::string& pattern : blocklistedUserPropertyPatterns()) {
      platform::Result<platform::Regex> regex = platform::Regex::compile(pattern);
      if (regex) compiled->push_back(std::move(regex.value()));
    }
    return compiled;
  }();
  for (const platform::Regex& pattern : *patterns) {
    platform::Result<bool> found = pattern.search(name);
    // A name the pattern cannot be run on is refused: better kept out than let through.
    if (!found || found.value()) return false;
  }
  return true;
}

bool RIRConnectorUtils::isUserPropertyAllowedForQuery(const std::string& name) {
  return !name.empty() && (name == "_fot" || name[0] != '_');
}
