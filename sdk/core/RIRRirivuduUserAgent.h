// RIRRirivuduUserAgent: the user-agent text: registered libraries (name ->
// version) and environment facts, one "name/value" pair each, sorted without
// regard to case and joined by single blanks. An environment key replaces a
// library of the same name. The text is cached until the next change.
//
// Thread safety: every member may be called from any thread (one lock per
// object).
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

class RIRRirivuduUserAgent {
 public:
  // "apple-platform", "apple-sdk", "appstore", "deploy", "device",
  // "os-version", "xcode" (absent values left out); a new map each call.
  static std::map<std::string, std::string> environmentComponentsNow();

  RIRRirivuduUserAgent() = default;

  // None removes the pair.
  void setValue(const std::optional<std::string>& value, const std::string& component);
  std::string ririvuduUserAgent();
  // Replaces the libraries with the environment values.
  void reset();
  // The environment values, taken on first use and then kept.
  std::map<std::string, std::string> environmentComponents();
  std::map<std::string, std::string> valuesByComponent();

 private:
  std::mutex m_mutex;
  std::optional<std::string> m_ririvuduUserAgent;
  std::optional<std::map<std::string, std::string>> m_environmentComponents;
  std::map<std::string, std::string> m_valuesByComponent;
};
