// APMPrivateSetMembershipClient: what the engine asks of an outside
// private-set-membership client, a class found at run time by name
// (kClassName, else kAlternateClassName) in platform::ClassRegistry::shared().
// None is linked on this platform; tests and the probe register a fake.
//
// Making a client: the engine makes an instance of the class
// (ClassRegistry::make) and sends it one of the initialiser selectors below,
// each only when instances of the class respond to it; the initialiser
// answers a std::shared_ptr<APMPrivateSetMembershipClient> (empty when it
// refuses). Arguments: the input (e-mail address or phone number as text, a
// hashed one as platform::Bytes), for kInitWithHashedInput also the input
// type (int64_t), then the app ID (std::string) and, for the prefix forms,
// the prefix bit length (uint32_t).
//
// Every operation of a client is checked the same way (instances respond to
// its selector) before the engine calls the virtual function of that name.
//
// Input types: 1 e-mail address, 2 phone number, 3 hashed e-mail address, 4
// hashed phone number.
//
// Thread safety: the engine uses a client from its worker queue only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/runtime/Object.h"
#include "platform/values/Value.h"

class APMPrivateSetMembershipClient : public platform::Object {
 public:
  static constexpr const char* kClassName = "APMPrivateSetMembershipClient";
  static constexpr const char* kAlternateClassName = "ODCPrivateSetMembershipClient";

  static constexpr const char* kInitWithEmailAddressPrefix = "initWithEmailAddress:appID:prefixBitLength:";
  static constexpr const char* kInitWithEmailAddress = "initWithEmailAddress:appID:";
  static constexpr const char* kInitWithPhoneNumberPrefix = "initWithPhoneNumber:appID:prefixBitLength:";
  static constexpr const char* kInitWithPhoneNumber = "initWithPhoneNumber:appID:";
  static constexpr const char* kInitWithHashedEmailAddressPrefix = "initWithHashedEmailAddress:appID:prefixBitLength:";
  static constexpr const char* kInitWithHashedPhoneNumberPrefix = "initWithHashedPhoneNumber:appID:prefixBitLength:";
  static constexpr const char* kInitWithHashedInput = "initWithHashedInput:inputType:appID:prefixBitLength:";

  static constexpr const char* kHashedInput = "hashedInput";
  static constexpr const char* kInputType = "inputType";
  static constexpr const char* kPayloadWithPSMRequest = "payloadWithPSMRequest";
  static constexpr const char* kPSMRequestURLWithRetryCount = "PSMRequestURLWithRetryCount:";
  static constexpr const char* kParsedPSMValueFromResponse = "parsedPSMValueFromResponse:";
  static constexpr const char* kDebugKey = "debugKey";

  static constexpr int64_t kEmailAddress = 1;
  static constexpr int64_t kPhoneNumber = 2;
  static constexpr int64_t kHashedEmailAddress = 3;
  static constexpr int64_t kHashedPhoneNumber = 4;

  using platform::Object::Object;

  virtual platform::Bytes hashedInput() const = 0;
  virtual int64_t inputType() const = 0;
  // The data to post.
  virtual platform::Bytes payloadWithPSMRequest() = 0;
  // The base address of the query, none when the client has none.
  virtual std::optional<std::string> PSMRequestURLWithRetryCount(int32_t retryCount) = 0;
  // The match in an answer; empty or none for no match.
  virtual std::optional<std::string> parsedPSMValueFromResponse(const platform::Bytes& response) = 0;
  virtual std::optional<std::string> debugKey() { return std::nullopt; }
};
