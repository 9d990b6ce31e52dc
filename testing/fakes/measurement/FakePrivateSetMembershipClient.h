// FakePrivateSetMembershipClient: an outside private-set-membership client
// for tests and the probe. install() registers its class (by default under
// the alternate client name, so that it never counts as the deprecated
// framework) with every initialiser and operation, less the selectors the
// options leave out; uninstall() removes the class.
//
// A client's payload and hashed input are its input (the text's bytes, or the
// hashed bytes given); its query address is the measurement service's base
// address (through APP_SERVICES_URL) plus the options' path and
// "?retry=<count>"; its match is the answer body as text; its debug key is
// kDebugKey. Every initialisation is recorded.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "measurement/engine/APMPrivateSetMembershipClient.h"

namespace testkit {

class FakePrivateSetMembershipClient : public APMPrivateSetMembershipClient {
 public:
  static constexpr const char* kDebugKey = "fake-debug-key";

  struct Options {
    std::string path = "/psm/query";
    std::string className = APMPrivateSetMembershipClient::kAlternateClassName;
    // Selectors (initialisers or operations) the class does not offer.
    std::set<std::string> withoutSelectors;
  };

  struct Initialisation {
    std::string selector;
    platform::Bytes input;
    int64_t inputType = 0;
    std::string appID;
    uint32_t prefixBitLength = 0;
  };

  // Replaces an installed fake.
  static void install(Options options);
  static void install() { install(Options()); }
  static void uninstall();
  static std::vector<Initialisation> initialisations();

  explicit FakePrivateSetMembershipClient(std::string className) : APMPrivateSetMembershipClient(std::move(className)) {}

  platform::Bytes hashedInput() const override;
  int64_t inputType() const override;
  platform::Bytes payloadWithPSMRequest() override { return hashedInput(); }
  std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) override;
  std::optional<std::string> parsedPSMValueFromResponse(const platform::Bytes& response) override;
  std::optional<std::string> debugKey() override { return std::string(kDebugKey); }

 private:
  void configure(const Initialisation& initialisation, std::string path);

  mutable std::mutex m_mutex;
  Initialisation m_initialisation;
  std::string m_path;
};

// Installs a fake for one scope.
class ScopedPrivateSetMembershipClient {
 public:
  explicit ScopedPrivateSetMembershipClient(FakePrivateSetMembershipClient::Options options = {}) {
    FakePrivateSetMembershipClient::install(std::move(options));
  }
  ~ScopedPrivateSetMembershipClient() { FakePrivateSetMembershipClient::uninstall(); }
  ScopedPrivateSetMembershipClient(const ScopedPrivateSetMembershipClient&) = delete;
  ScopedPrivateSetMembershipClient& operator=(const ScopedPrivateSetMembershipClient&) = delete;
};

}  // namespace testkit
