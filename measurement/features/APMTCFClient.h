// APMTCFClient: turns the TCF data a consent-management platform left in the
// standard user defaults into consent and the internal event "_tcf".
//
// setConsentFromTCFData (at the engine's start and before each upload):
//  1. read the values (APMTCFData);
//  2. stop when there is nothing ("_v_=2,isTCFDataEnabled=1") or when the
//     representation equals the one stored at the last change;
//  3. log "_tcf" (origin "auto") through the analytics front with
//     "_tcfd" (CMP, policy version, flags), "_tcfd2" (the consent reasons of
//     purposes 1, 3, 4, 7) and "_tcfm" (one-time vendor fix, consent changed
//     since the stored values);
//  4. store the values and the representation in the suite
//     "com.zoruvu.vod.measurement.tcf.userdefaults";
//  5. when the one-time fix applies or the data is to be applied
//     (TCF data enabled, advertiser consent mode and GDPR applying), hand the
//     consent to the consent setter under "consent_settings_tcf".
// The suite is the only persisted state: an unchanged representation makes
// later runs skip the data.
//
// The consent setter stands for the analytics front's setConsent; the event
// goes through APMEngineServices::logInternalEvent.
//
// Thread safety: used from one queue at a time (the engine's worker queue);
// isDMARegion may be set from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "measurement/base/APMConfigStore.h"
#include "measurement/features/APMTCFData.h"
#include "platform/values/Value.h"

class APMTCFClient {
 public:
  static constexpr const char* kSuiteName = "com.zoruvu.vod.measurement.tcf.userdefaults";
  static constexpr const char* kStringRepresentationKey = "tcf_StringRepresentation";
  static constexpr const char* kConsentKey = "consent_settings_tcf";
  static constexpr const char* kEventName = "_tcf";
  static constexpr const char* kEventOrigin = "auto";
  static constexpr const char* kNothingToRead = "_v_=2,isTCFDataEnabled=1";

  using ConsentSetter = std::function<void(const platform::Dictionary& consent, const std::string& key)>;

  // Empty stores: the standard user defaults and the TCF suite.
  explicit APMTCFClient(ConsentSetter setConsent, std::shared_ptr<APMConfigStore> standardDefaults = nullptr,
                        std::shared_ptr<APMConfigStore> userDefaults = nullptr);

  void setConsentFromTCFData();
  void readTCFData();
  const APMTCFData& tcfData() const { return m_tcfData; }

  bool isDMARegion() const { return m_isDMARegion.load(); }
  void setIsDMARegion(bool isDMARegion) { m_isDMARegion.store(isDMARegion); }

  std::string tcfBundleParameterValue() const { return m_tcfData.tcfBundleParameterValue(isDMARegion()); }
  std::string tcfd2ParamValue() const { return m_tcfData.tcfd2ParamValue(); }
  static std::string tcfdMigrationParamValueForMigrationDidOccur(bool migrationDidOccur,
                                                                 bool didMigrationChangeConsent);
  bool shouldApplyOneTimeTCFVendorFix();
  // The consent of the values stored at the last change.
  platform::Dictionary previousConsent();
  void storeCurrentData();
  void clearPersistedValues();
  // The stored representation, none before the first change.
  std::optional<std::string> storedStringRepresentation();

 private:
  const ConsentSetter m_setConsent;
  const std::shared_ptr<APMConfigStore> m_standardDefaults;
  const std::shared_ptr<APMConfigStore> m_userDefaults;
  APMTCFData m_tcfData;
  std::atomic<bool> m_isDMARegion{true};
};
