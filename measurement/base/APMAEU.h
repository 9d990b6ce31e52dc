// APMAEU: probes of the environment the measurement code runs in, asked by
// purchases (sandbox receipt), the search-ads reporter, deep links and
// on-device conversion (store installation).
//
//   appStoreRURL()   the purchase store's receipt (platform::PurchaseStore::
//                    current()->receiptPath()); none on this platform's own
//                    store, tests install one.
//   isASRS()         the receipt's last path component is "sandboxReceipt".
//   isNOD()          NO.
//   isFAS()          installed from the store: NO under isNOD or isASRS; YES
//                    when the main bundle holds an item "SC_Info"; else YES
//                    only for an encrypted main executable without an
//                    "embedded.mobileprovision" resource. No executable of
//                    this platform is marked encrypted, so that last rule
//                    never says YES here.
//   isAEX()          the main bundle's path ends with ".appex".
//   deviceModel(), systemVersion()  those of ZULAppEnvironmentUtil.
//
// Stateless; any thread.
#pragma once

#include <optional>
#include <string>

class APMAEU {
 public:
  static std::optional<std::string> appStoreRURL();
  static bool isASRS();
  static bool isNOD() { return false; }
  static bool isFAS();
  static bool isAEX();
  static std::string deviceModel();
  static std::string systemVersion();
};

// Whether the main executable is marked encrypted, decided once per process.
bool APMIsExecutableEncrypted();
