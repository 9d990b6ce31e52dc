// RIRInstallationsStoredAuthToken: an auth token with its expiration date and
// status, as kept inside a stored installation. Archived under the class name
// "RIRInstallationsStoredAuthToken" with the keys "status", "token",
// "expirationDate" and "storageVersion" (written as 1). A record of a newer
// storage version is decoded anyway, after a warning (I-RIS004000).
//
// Thread safety: the setters are not synchronised; share a token only after
// it is complete (copy() before changing a shared one).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/storage/Archivable.h"
#include "platform/storage/KeyedUnarchiver.h"

enum RIRInstallationsAuthTokenStatus : int64_t {
  RIRInstallationsAuthTokenStatusUnknown = 0,
  RIRInstallationsAuthTokenStatusTokenReceived = 1,
};

class RIRInstallationsStoredAuthToken : public platform::Archivable {
 public:
  static constexpr const char* kClassName = "RIRInstallationsStoredAuthToken";
  static constexpr int64_t kStorageVersion = 1;

  RIRInstallationsAuthTokenStatus status() const { return m_status; }
  void setStatus(RIRInstallationsAuthTokenStatus status) { m_status = status; }
  const std::optional<std::string>& token() const { return m_token; }
  void setToken(std::optional<std::string> token) { m_token = std::move(token); }
  // Seconds since 1970.
  const std::optional<double>& expirationDate() const { return m_expirationDate; }
  void setExpirationDate(std::optional<double> date) { m_expirationDate = date; }
  int64_t storageVersion() const { return kStorageVersion; }

  std::shared_ptr<RIRInstallationsStoredAuthToken> copy() const {
    return std::make_shared<RIRInstallationsStoredAuthToken>(*this);
  }
  bool operator==(const RIRInstallationsStoredAuthToken& other) const {
    return m_status == other.m_status && m_token == other.m_token && m_expirationDate == other.m_expirationDate;
  }

  std::string className() const override { return kClassName; }
  void encodeWith(platform::KeyedArchiver& archiver) const override;
  // nullptr after recording the failure in the unarchiver.
  static std::shared_ptr<RIRInstallationsStoredAuthToken> initWithCoder(platform::KeyedUnarchiver& coder);

 private:
  RIRInstallationsAuthTokenStatus m_status = RIRInstallationsAuthTokenStatusUnknown;
  std::optional<std::string> m_token;
  std::optional<double> m_expirationDate;
};
