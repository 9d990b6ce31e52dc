// ODCPrivateSetMembershipGroupClient: what the engine asks of an outside
// private-set-membership group client, the class kClassName found at run
// time in platform::ClassRegistry::shared() (none on this platform; tests and
// the probe register a fake). It is made like a private-set-membership client
// (APMPrivateSetMembershipClient.h) with kInitWithHashedInput, arguments
// (platform::Bytes hashed input, int64_t input type, std::string app ID,
// uint32_t prefix bit length), and asked, after the check on
// kFetchGroupIDWithNetwork, for the group ID of its input.
//
// Thread safety: the engine uses a client from its worker queue only; the
// completion may come on any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/runtime/Object.h"
#include "platform/values/Error.h"

class ZULNetwork;

class ODCPrivateSetMembershipGroupClient : public platform::Object {
 public:
  static constexpr const char* kClassName = "ODCPrivateSetMembershipGroupClient";
  static constexpr const char* kInitWithHashedInput = "initWithHashedInput:inputType:appID:prefixBitLength:";
  static constexpr const char* kFetchGroupIDWithNetwork = "fetchGroupIDWithNetwork:completion:";

  using Completion = std::function<void(const std::optional<std::string>& groupID,
                                        const std::optional<platform::Error>& error)>;

  using platform::Object::Object;

  // Calls the completion exactly once.
  virtual void fetchGroupIDWithNetwork(const std::shared_ptr<ZULNetwork>& network, Completion completion) = 0;
};
