#include "testing/fakes/measurement/FakePrivateSetMembershipGroupClient.h"

#include <any>
#include <mutex>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/runtime/ClassRegistry.h"

namespace testkit {

namespace {

struct Installed {
  std::mutex mutex;
  std::string groupID;
  std::optional<platform::Error> error;
  int fetches = 0;
};

Installed& installed() {
  static Installed* const shared = new Installed();
  return *shared;
}

}  // namespace

void FakePrivateSetMembershipGroupClient::install(std::string groupID, std::optional<platform::Error> error) {
  uninstall();
  {
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    state.groupID = std::move(groupID);
    state.error = std::move(error);
    state.fetches = 0;
  }
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  registry.registerClass(kClassName, platform::ClassRegistry::kRootClass,
                         [] { return std::make_shared<FakePrivateSetMembershipGroupClient>(kClassName); });
  registry.addMethod(kClassName, kInitWithHashedInput, [](platform::Object* self, const platform::Arguments&) {
    return std::any(std::dynamic_pointer_cast<ODCPrivateSetMembershipGroupClient>(self->shared_from_this()));
  });
  registry.addMethod(kClassName, kFetchGroupIDWithNetwork,
                     [](platform::Object*, const platform::Arguments&) { return std::any(); });
}

void FakePrivateSetMembershipGroupClient::uninstall() { platform::ClassRegistry::shared().removeClass(kClassName); }

int FakePrivateSetMembershipGroupClient::fetchCount() {
  Installed& state = installed();
  std::lock_guard lock(state.mutex);
  return state.fetches;
}

void FakePrivateSetMembershipGroupClient::fetchGroupIDWithNetwork(const std::shared_ptr<ZULNetwork>&,
                                                                  Completion completion) {
  std::string groupID;
  std::optional<platform::Error> error;
  {
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    ++state.fetches;
    groupID = state.groupID;
    error = state.error;
  }
  platform::globalQueue().async([completion = std::move(completion), groupID, error] {
    if (error) {
      completion(std::nullopt, error);
    } else {
      completion(groupID, std::nullopt);
    }
  });
}

}  // namespace testkit
