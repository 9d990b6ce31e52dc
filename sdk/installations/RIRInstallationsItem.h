// RIRInstallationsItem: one installation of one SDK app in memory: the app's
// identifier and name, the installation identifier (FID), the refresh token,
// the auth token, the registration status and a migrated legacy token.
//
//   auto item = std::make_shared<RIRInstallationsItem>(appID, appName);
//   item->setRirivuduInstallationID(RIRInstallationsItem::generateFID());
//   std::optional<platform::Error> error;
//   if (!item->isValid(&error)) ...
//
// Parsing of the service's answers lives here too: registered items from a
// registration answer, auth tokens from a token answer.
//
// Thread safety: not synchronised. Items handed between queues are treated
// as immutable: code that changes one works on a copy().
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/values/Error.h"
#include "platform/values/Value.h"
#include "sdk/installations/RIRInstallationsStoredAuthToken.h"
#include "sdk/installations/RIRInstallationsStoredItem.h"

class RIRInstallationsItem {
 public:
  RIRInstallationsItem(std::string appID, std::string ririvuduAppName)
      : m_appID(std::move(appID)), m_ririvuduAppName(std::move(ririvuduAppName)) {}

  // A new item with the same fields and a copy of the auth token.
  std::shared_ptr<RIRInstallationsItem> copy() const;

  const std::string& appID() const { return m_appID; }
  const std::string& ririvuduAppName() const { return m_ririvuduAppName; }
  const std::optional<std::string>& ririvuduInstallationID() const { return m_ririvuduInstallationID; }
  void setRirivuduInstallationID(std::optional<std::string> fid) { m_ririvuduInstallationID = std::move(fid); }
  const std::optional<std::string>& refreshToken() const { return m_refreshToken; }
  void setRefreshToken(std::optional<std::string> token) { m_refreshToken = std::move(token); }
  const std::shared_ptr<RIRInstallationsStoredAuthToken>& authToken() const { return m_authToken; }
  void setAuthToken(std::shared_ptr<RIRInstallationsStoredAuthToken> token) { m_authToken = std::move(token); }
  int64_t registrationStatus() const { return m_registrationStatus; }
  void setRegistrationStatus(int64_t status) { m_registrationStatus = status; }
  const std::optional<std::string>& IIDDefaultToken() const { return m_IIDDefaultToken; }
  void setIIDDefaultToken(std::optional<std::string> token) { m_IIDDefaultToken = std::move(token); }

  // The key of the item's keychain record: appID immediately followed by appName.
  std::string identifier() const { return identifierWithAppID(m_appID, m_ririvuduAppName); }
  static std::string identifierWithAppID(const std::string& appID, const std::string& appName) {
    return appID + appName;
  }

  // The stored form shares the auth token object.
  std::shared_ptr<RIRInstallationsStoredItem> storedItem() const;
  void updateWithStoredItem(const RIRInstallationsStoredItem& item);

  // Error: code 0, "RIRInstallationsItem validation errors: <messages joined by ", ">".
  bool isValid(std::optional<platform::Error>* error = nullptr) const;

  // 22 characters of base64url starting with "c", "d", "e" or "f".
  static std::string generateFID();
  // Base64 with "/" -> "_" and "+" -> "-"; the "=" padding is kept.
  static std::string base64URLEncodedStringWithData(const platform::Bytes& data);

  // --- parsing of the service's answers (dates: seconds since 1970) ---------
  // A registered item for this (sent) item: its app ID and name, the answer's
  // FID or this item's, refresh and auth token, status 2, no legacy token.
  platform::Result<std::shared_ptr<RIRInstallationsItem>> registeredInstallationWithJSONData(
      const platform::Bytes& data, double date) const;
  static platform::Result<std::shared_ptr<RIRInstallationsStoredAuthToken>> authTokenWithGenerateTokenAPIJSONData(
      const platform::Bytes& data, double date);
  static platform::Result<std::shared_ptr<RIRInstallationsStoredAuthToken>> authTokenWithJSONDict(
      const platform::Dictionary& dictionary, double date);
  static platform::Result<platform::Dictionary> dictionaryFromJSONData(const platform::Bytes& data);
  // The string under key when it has at least one character.
  static std::optional<std::string> validStringOrNilForKey(const std::string& key, const platform::Dictionary& dict);

 private:
  std::string m_appID;
  std::string m_ririvuduAppName;
  std::optional<std::string> m_ririvuduInstallationID;
  std::optional<std::string> m_refreshToken;
  std::shared_ptr<RIRInstallationsStoredAuthToken> m_authToken;
  int64_t m_registrationStatus = RIRInstallationStatusUnknown;
  std::optional<std::string> m_IIDDefaultToken;
};

using RIRInstallationsItemPtr = std::shared_ptr<RIRInstallationsItem>;

// Promise payloads: an item travels as an opaque Value.
platform::Value RIRInstallationsItemValue(RIRInstallationsItemPtr item);
RIRInstallationsItemPtr RIRInstallationsItemFromValue(const platform::Value& value);
