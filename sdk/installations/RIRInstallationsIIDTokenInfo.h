// RIRInstallationsIIDTokenInfo: the legacy default token as an older identity
// library archived it (stored class name "RIRInstanceIDTokenInfo", the token
// under "token"). Decoding only; encoding writes nothing.
// Thread safety: an immutable value once decoded.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"

class RIRInstallationsIIDTokenInfo : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "RIRInstallationsIIDTokenInfo";
  static constexpr const char* kLegacyClassName = "RIRInstanceIDTokenInfo";

  std::optional<std::string> token;

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver&) const override {}
  static std::shared_ptr<RIRInstallationsIIDTokenInfo> initWithCoder(platform::KeyedUnarchiver& coder);
  // Registers the decoder (idempotent).
  static void registerClass();
};
