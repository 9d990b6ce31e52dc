// ODCConversionService: what the engine asks of an outside on-device
// conversion service, the class kClassName found at run time in
// platform::ClassRegistry::shared() (none on this platform; tests and the
// probe register a fake). The class method kSharedInstance answers a
// std::shared_ptr<ODCConversionService>, accepted only when its class
// conforms to the protocol kProtocolName. A version number above
// kDeprecatedVersionLimit is the current framework, one at or below it the
// deprecated one.
//
// Thread safety: the engine calls it from its worker queue; completions may
// come on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/runtime/Object.h"
#include "platform/values/Error.h"

class ODCConversionService : public platform::Object {
 public:
  static constexpr const char* kClassName = "ODCConversionService";
  static constexpr const char* kProtocolName = "ODCConversionService";
  static constexpr const char* kSharedInstance = "sharedInstance";
  static constexpr int64_t kDeprecatedVersionLimit = 10000;

  using Completion =
      std::function<void(const std::optional<std::string>& value, const std::optional<platform::Error>& error)>;

  using platform::Object::Object;

  // Seconds since 1970; none when unknown.
  virtual void setFirstLaunchTime(std::optional<double> firstLaunchTime) = 0;
  // Each calls its completion exactly once.
  virtual void fetchAggregateConversionInfoForInteraction(std::optional<int64_t> interaction,
                                                          Completion completion) = 0;
  virtual void fetchMeasurementInfoForInteraction(std::optional<int64_t> interaction, Completion completion) = 0;
  virtual std::string versionString() const = 0;
  virtual int64_t versionNumber() const = 0;
};
