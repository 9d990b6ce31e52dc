// RIRInstallationsAuthTokenResult: an auth token and its expiration date
// (seconds since 1970), as handed to callers of RIRInstallations.
// Thread safety: an immutable value.
#pragma once

#include <string>

class RIRInstallationsAuthTokenResult {
 public:
  RIRInstallationsAuthTokenResult(std::string token, double expirationDate)
      : m_authToken(std::move(token)), m_expirationDate(expirationDate) {}

  const std::string& authToken() const { return m_authToken; }
  double expirationDate() const { return m_expirationDate; }

 private:
  std::string m_authToken;
  double m_expirationDate;
};
