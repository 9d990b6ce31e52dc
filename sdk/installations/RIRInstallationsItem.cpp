#include "sdk/installations/RIRInstallationsItem.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/net/HttpHeaders.h"
#include "platform/storage/Json.h"
#include "platform/text/Base64.h"
#include "platform/text/NumberText.h"
#include "platform/text/Uuid.h"
#include "platform/time/ReferenceDate.h"
#include "sdk/installations/RIRInstallationsErrorUtil.h"

using platform::Dictionary;
using platform::Error;
using platform::Result;
using platform::Value;

std::shared_ptr<RIRInstallationsItem> RIRInstallationsItem::copy() const {
  auto item = std::make_shared<RIRInstallationsItem>(*this);
  if (m_authToken) item->m_authToken = m_authToken->copy();
  return item;
}

std::shared_ptr<RIRInstallationsStoredItem> RIRInstallationsItem::storedItem() const {
  auto stored = std::make_shared<RIRInstallationsStoredItem>();
  stored->ririvuduInstallationID = m_ririvuduInstallationID;
  stored->refreshToken = m_refreshToken;
  stored->authToken = m_authToken;
  stored->registrationStatus = m_registrationStatus;
  stored->IIDDefaultToken = m_IIDDefaultToken;
  return stored;
}

void RIRInstallationsItem::updateWithStoredItem(const RIRInstallationsStoredItem& item) {
  m_ririvuduInstallationID = item.ririvuduInstallationID;
  m_refreshToken = item.refreshToken;
  m_authToken = item.authToken;
  m_registrationStatus = item.registrationStatus;
  m_IIDDefaultToken = item.IIDDefaultToken;
}

bool RIRInstallationsItem::isValid(std::optional<Error>* error) const {
  std::vector<std::string> messages;
  if (m_appID.empty()) messages.emplace_back("`appID` must not be empty");
  if (m_ririvuduAppName.empty()) messages.emplace_back("`ririvuduAppName` must not be empty");
  if (!m_ririvuduInstallationID || m_ririvuduInstallationID->empty()) {
    messages.emplace_back("`ririvuduInstallationID` must not be empty");
  }
  if (m_registrationStatus == RIRInstallationStatusUnknown) {
    messages.emplace_back("invalid `registrationStatus`");
  } else if (m_registrationStatus == RIRInstallationStatusRegistered) {
    if (!m_refreshToken) messages.emplace_back("registered installation must have non-empty `refreshToken`");
    if (!m_authToken || !m_authToken->token()) {
      messages.emplace_back("registered installation must have non-empty `authToken.token`");
    }
    if (!m_authToken || !m_authToken->expirationDate()) {
      messages.emplace_back("registered installation must have non-empty `authToken.expirationDate`");
    }
  }
  if (messages.empty()) return true;
  if (error != nullptr) {
    std::string joined;
    for (const std::string& message : messages) joined += (joined.empty() ? "" : ", ") + message;
    *error = RIRInstallationsErrorUtil::installationsErrorWithCode(
        RIRInstallationsErrorCodeUnknown, "RIRInstallationsItem validation errors: " + joined, std::nullopt);
  }
  return false;
}

std::string RIRInstallationsItem::generateFID() {
  platform::Uuid::Bytes uuid = platform::Uuid::random().bytes();
  platform::Bytes buffer;
  buffer.reserve(17);
  buffer.push_back(static_cast<uint8_t>(0x70 | (uuid[15] & 0x0F)));
  buffer.insert(buffer.end(), uuid.begin(), uuid.end());
  return base64URLEncodedStringWithData(buffer).substr(0, 22);
}

std::string RIRInstallationsItem::base64URLEncodedStringWithData(const platform::Bytes& data) {
  std::string text = platform::Base64::encode(data);
  std::replace(text.begin(), text.end(), '/', '_');
  std::replace(text.begin(), text.end(), '+', '-');
  return text;
}

std::optional<std::string> RIRInstallationsItem::validStringOrNilForKey(const std::string& key, const Dictionary& dict) {
  const Value* value = dict.find(key);
  const std::string* text = value ? value->asString() : nullptr;
  if (text == nullptr || text->empty()) return std::nullopt;
  return *text;
}

Result<Dictionary> RIRInstallationsItem::dictionaryFromJSONData(const platform::Bytes& data) {
  Result<Value> parsed = platform::Json::parse(data);
  if (!parsed || !parsed->isDictionary()) return RIRInstallationsErrorUtil::JSONSerializationError();
  return *parsed->asDictionary();
}

Result<std::shared_ptr<RIRInstallationsStoredAuthToken>> RIRInstallationsItem::authTokenWithJSONDict(
    const Dictionary& dictionary, double date) {
  std::optional<std::string> token = validStringOrNilForKey("token", dictionary);
  if (!token) return RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken.token");
  // Callers send it in a header too.
  if (!platform::HttpHeaders::travelsUnchanged(*token)) {
    return RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseUnsendableField("authToken.token");
  }
  std::optional<std::string> expiresIn = validStringOrNilForKey("expiresIn", dictionary);
  if (!expiresIn) return RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken.expiresIn");
  // "3600s": the number before the unit letter; text that is no number reads as 0.
  double seconds = Value(expiresIn->substr(0, expiresIn->size() - 1)).doubleValue();
  // A lifetime beyond what a stored date can hold ("1e400s") would make the
  // installation impossible to save: the token then lasts until the distant
  // future (or is expired since the distant past).
  const double expiration = std::isnan(seconds) ? date : date + seconds;
  auto result = std::make_shared<RIRInstallationsStoredAuthToken>();
  result->setStatus(RIRInstallationsAuthTokenStatusTokenReceived);
  result->setToken(*token);
  result->setExpirationDate(std::clamp(expiration, platform::ReferenceDate::kDistantPastSince1970,
                                       platform::ReferenceDate::since1970(platform::ReferenceDate::kDistantFutureSince2001)));
  return result;
}

Result<std::shared_ptr<RIRInstallationsStoredAuthToken>> RIRInstallationsItem::authTokenWithGenerateTokenAPIJSONData(
    const platform::Bytes& data, double date) {
  Result<Dictionary> dictionary = dictionaryFromJSONData(data);
  if (!dictionary) return dictionary.error();
  return authTokenWithJSONDict(dictionary.value(), date);
}

Result<std::shared_ptr<RIRInstallationsItem>> RIRInstallationsItem::registeredInstallationWithJSONData(
    const platform::Bytes& data, double date) const {
  Result<Dictionary> parsed = dictionaryFromJSONData(data);
  if (!parsed) return parsed.error();
  const Dictionary& dictionary = parsed.value();
  std::optional<std::string> refreshToken = validStringOrNilForKey("refreshToken", dictionary);
  if (!refreshToken) return RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("refreshToken");
  // Sent back in the Authorization header: a token the header would alter is
  // refused now rather than presented altered later.
  if (!platform::HttpHeaders::travelsUnchanged(*refreshToken)) {
    return RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseUnsendableField("refreshToken");
  }
  const Value* authTokenValue = dictionary.find("authToken");
  if (authTokenValue == nullptr || !authTokenValue->isDictionary()) {
    return RIRInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken");
  }
  auto authToken = authTokenWithJSONDict(*authTokenValue->asDictionary(), date);
  if (!authToken) return authToken.error();

  auto item = std::make_shared<RIRInstallationsItem>(m_appID, m_ririvuduAppName);
  std::optional<std::string> fid = validStringOrNilForKey("fid", dictionary);
  item->m_ririvuduInstallationID = fid ? fid : m_ririvuduInstallationID;
  item->m_refreshToken = refreshToken;
  item->m_authToken = authToken.value();
  item->m_registrationStatus = RIRInstallationStatusRegistered;
  return item;
}

Value RIRInstallationsItemValue(RIRInstallationsItemPtr item) {
  return Value::opaque(std::move(item), "RIRInstallationsItem");
}

RIRInstallationsItemPtr RIRInstallationsItemFromValue(const Value& value) {
  return value.asOpaque<RIRInstallationsItem>();
}
