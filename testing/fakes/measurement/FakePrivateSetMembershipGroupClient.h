// FakePrivateSetMembershipGroupClient: an outside group client for tests and
// the probe. install() registers its class; every fetch answers, on a global
// queue, the group ID given ("" for no match) or the error given. Fetches
// are counted.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <optional>
#include <string>

#include "measurement/engine/ODCPrivateSetMembershipGroupClient.h"

namespace testkit {

class FakePrivateSetMembershipGroupClient : public ODCPrivateSetMembershipGroupClient {
 public:
  static constexpr const char* kDefaultGroupID = "fake-group-7";

  static void install(std::string groupID = kDefaultGroupID, std::optional<platform::Error> error = std::nullopt);
  static void uninstall();
  static int fetchCount();

  using ODCPrivateSetMembershipGroupClient::ODCPrivateSetMembershipGroupClient;

  void fetchGroupIDWithNetwork(const std::shared_ptr<ZULNetwork>& network, Completion completion) override;
};

class ScopedPrivateSetMembershipGroupClient {
 public:
  explicit ScopedPrivateSetMembershipGroupClient(
      std::string groupID = FakePrivateSetMembershipGroupClient::kDefaultGroupID,
      std::optional<platform::Error> error = std::nullopt) {
    FakePrivateSetMembershipGroupClient::install(std::move(groupID), std::move(error));
  }
  ~ScopedPrivateSetMembershipGroupClient() { FakePrivateSetMembershipGroupClient::uninstall(); }
  ScopedPrivateSetMembershipGroupClient(const ScopedPrivateSetMembershipGroupClient&) = delete;
  ScopedPrivateSetMembershipGroupClient& operator=(const ScopedPrivateSetMembershipGroupClient&) = delete;
};

}  // namespace testkit
