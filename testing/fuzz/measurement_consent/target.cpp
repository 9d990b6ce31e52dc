// The consent the analytics front stored in its suite file: loading any file
// as that suite never crashes, and whatever settings and source it holds,
// the consent state answers well-formed signals and diagnostics texts.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "measurement/engine/APMAnalytics.h"
#include "measurement/features/APMConsentSettingsUtil.h"
#include "platform/storage/FileSystem.h"
#include "platform/storage/UserDefaults.h"
#include "testing/fuzz/FuzzCheck.h"
#include "testing/fuzz/FuzzHome.h"

using Util = APMConsentSettingsUtil;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::useTemporaryHome("measurement-consent");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::UserDefaults::resetForTesting();
  const std::string file = platform::UserDefaults::suite(APMAnalytics::kSuiteName)->filePath();
  platform::fs::removeItem(file + ".corrupt");
  FUZZ_CHECK(!platform::fs::createDirectory(platform::fs::parentPath(file)));
  FUZZ_CHECK(!platform::fs::writeFile(file, platform::Bytes(data, data + size)));
  platform::UserDefaults::resetForTesting();

  Util::resetForTesting();
  APMAnalytics::loadPersistedConsentSettings();
  const std::string signals = Util::consentSignals();
  FUZZ_CHECK(signals.size() == 4 && signals.rfind("G1", 0) == 0);
  for (char c : signals.substr(2)) FUZZ_CHECK(c == '0' || c == '1' || c == '-');
  const std::string diagnostics = Util::consentDiagnostics();
  FUZZ_CHECK(diagnostics.size() == 5 && diagnostics[0] == '1');
  for (char c : diagnostics) FUZZ_CHECK(std::isdigit(static_cast<unsigned char>(c)));
  FUZZ_CHECK(!Util::description().empty());
  Util::isAdUserDataDenied();
  Util::adPersonalization();
  // A stored source that outranks none is kept as it is; none stored is 100.
  FUZZ_CHECK(Util::consentSource() <= APMAnalytics::persistedConsentSource());
  return 0;
}
