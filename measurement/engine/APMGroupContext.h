// APMGroupContext: the state of the engine's group-ID query: its client, whether
// it runs, and its own network client.
//
// Thread safety: none; the engine's worker queue only.
#pragma once

#include <memory>

class ODCPrivateSetMembershipGroupClient;
class ZULNetwork;

class APMGroupContext {
 public:
  std::shared_ptr<ODCPrivateSetMembershipGroupClient> ODCGroupClient;
  bool isPSMRequestInProgress = false;
  std::shared_ptr<ZULNetwork> network;
};
