// RIRInstallationsStoredItem: the persisted form of an installation (no app
// identifier or name: those form the key of its record). Archived under the
// class name "RIRInstallationsStoredItem" with the keys
// "ririvuduInstallationID", "refreshToken", "authToken" (a nested
// RIRInstallationsStoredAuthToken), "registrationStatus", "IIDDefaultToken"
// and "storageVersion" (written as 1). A record of a newer storage version is
// decoded anyway, after a warning (I-RIS003000).
//
// RIRInstallationsRegisterArchiveClasses() registers the decoders of both
// stored classes (idempotent).
//
// Thread safety: as RIRInstallationsStoredAuthToken.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"
#include "sdk/installations/RIRInstallationsStoredAuthToken.h"

enum RIRInstallationsRegistrationStatus : int64_t {
  RIRInstallationStatusUnknown = 0,
  RIRInstallationStatusUnregistered = 1,
  RIRInstallationStatusRegistered = 2,
};

class RIRInstallationsStoredItem : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "RIRInstallationsStoredItem";
  static constexpr int64_t kStorageVersion = 1;

  std::optional<std::string> ririvuduInstallationID;
  std::optional<std::string> refreshToken;
  std::shared_ptr<RIRInstallationsStoredAuthToken> authToken;
  int64_t registrationStatus = RIRInstallationStatusUnknown;
  std::optional<std::string> IIDDefaultToken;

  int64_t storageVersion() const { return kStorageVersion; }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  static std::shared_ptr<RIRInstallationsStoredItem> initWithCoder(platform::KeyedUnarchiver& coder);
};

void RIRInstallationsRegisterArchiveClasses();
