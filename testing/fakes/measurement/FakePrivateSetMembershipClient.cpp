#include "testing/fakes/measurement/FakePrivateSetMembershipClient.h"

#include <any>

#include "measurement/base/APMRemoteConfig.h"
#include "platform/net/ServiceAddress.h"
#include "platform/runtime/ClassRegistry.h"

namespace testkit {

namespace {

struct Installed {
  std::mutex mutex;
  std::optional<FakePrivateSetMembershipClient::Options> options;
  std::vector<FakePrivateSetMembershipClient::Initialisation> initialisations;
};

Installed& installed() {
  static Installed* const shared = new Installed();
  return *shared;
}

platform::Bytes inputBytes(const std::any& argument) {
  if (const auto* text = std::any_cast<std::string>(&argument)) return platform::Bytes(text->begin(), text->end());
  if (const auto* bytes = std::any_cast<platform::Bytes>(&argument)) return *bytes;
  return {};
}

template <class T>
T argumentAs(const platform::Arguments& arguments, size_t index) {
  if (index >= arguments.size()) return T();
  const T* value = std::any_cast<T>(&arguments[index]);
  return value ? *value : T();
}

}  // namespace

void FakePrivateSetMembershipClient::install(Options options) {
  uninstall();
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  const std::string className = options.className;
  registry.registerClass(className, platform::ClassRegistry::kRootClass,
                         [className] { return std::make_shared<FakePrivateSetMembershipClient>(className); });
  {
    Installed& state = installed();
    std::lock_guard lock(state.mutex);
    state.options = options;
    state.initialisations.clear();
  }
  // Initialisers: (input[, input type], app ID[, prefix bit length]).
  struct Form {
    const char* selector;
    int64_t inputType;  // 0: given as an argument
    bool hasPrefix;
  };
  const Form forms[] = {
      {kInitWithEmailAddressPrefix, kEmailAddress, true},
      {kInitWithEmailAddress, kEmailAddress, false},
      {kInitWithPhoneNumberPrefix, kPhoneNumber, true},
      {kInitWithPhoneNumber, kPhoneNumber, false},
      {kInitWithHashedEmailAddressPrefix, kHashedEmailAddress, true},
      {kInitWithHashedPhoneNumberPrefix, kHashedPhoneNumber, true},
      {kInitWithHashedInput, 0, true},
  };
  for (const Form& form : forms) {
    if (options.withoutSelectors.count(form.selector)) continue;
    registry.addMethod(className, form.selector, [form](platform::Object* self, const platform::Arguments& arguments) {
      auto* client = dynamic_cast<FakePrivateSetMembershipClient*>(self);
      if (client == nullptr) return std::any();
      Initialisation made;
      made.selector = form.selector;
      made.input = inputBytes(arguments.empty() ? std::any() : arguments[0]);
      size_t next = 1;
      made.inputType = form.inputType != 0 ? form.inputType : argumentAs<int64_t>(arguments, next++);
      made.appID = argumentAs<std::string>(arguments, next++);
      if (form.hasPrefix) made.prefixBitLength = argumentAs<uint32_t>(arguments, next);
      std::string path;
      {
        Installed& state = installed();
        std::lock_guard lock(state.mutex);
        state.initialisations.push_back(made);
        path = state.options ? state.options->path : std::string();
      }
      client->configure(made, path);
      return std::any(std::dynamic_pointer_cast<APMPrivateSetMembershipClient>(self->shared_from_this()));
    });
  }
  for (const char* operation : {kHashedInput, kInputType, kPayloadWithPSMRequest, kPSMRequestURLWithRetryCount,
                                kParsedPSMValueFromResponse, kDebugKey}) {
    if (options.withoutSelectors.count(operation)) continue;
    // The engine calls the virtual functions; the method marks that the
    // class offers the operation.
    registry.addMethod(className, operation, [](platform::Object*, const platform::Arguments&) { return std::any(); });
  }
}

void FakePrivateSetMembershipClient::uninstall() {
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  for (const char* name : {kClassName, kAlternateClassName}) registry.removeClass(name);
  Installed& state = installed();
  std::lock_guard lock(state.mutex);
  state.options.reset();
}

std::vector<FakePrivateSetMembershipClient::Initialisation> FakePrivateSetMembershipClient::initialisations() {
  Installed& state = installed();
  std::lock_guard lock(state.mutex);
  return state.initialisations;
}

void FakePrivateSetMembershipClient::configure(const Initialisation& initialisation, std::string path) {
  std::lock_guard lock(m_mutex);
  m_initialisation = initialisation;
  m_path = std::move(path);
}

platform::Bytes FakePrivateSetMembershipClient::hashedInput() const {
  std::lock_guard lock(m_mutex);
  return m_initialisation.input;
}

int64_t FakePrivateSetMembershipClient::inputType() const {
  std::lock_guard lock(m_mutex);
  return m_initialisation.inputType;
}

std::optional<std::string> FakePrivateSetMembershipClient::PSMRequestURLWithRetryCount(int32_t retryCount) {
  std::lock_guard lock(m_mutex);
  return platform::ServiceAddress::resolve(APMRemoteConfig::uploadServiceBaseURL() + m_path) +
         "?retry=" + std::to_string(retryCount);
}

std::optional<std::string> FakePrivateSetMembershipClient::parsedPSMValueFromResponse(const platform::Bytes& response) {
  return std::string(response.begin(), response.end());
}

}  // namespace testkit
