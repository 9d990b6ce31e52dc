// FakeAttributionTokenSource: the platform's ad-attribution framework for
// tests and the probe. install() registers the class "AAAttribution" in
// ClassRegistry::shared() whose shared instance hands out the token given
// (or fails with the error given); uninstall() removes the class again, so
// that the framework counts as absent.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/app/AttributionTokenSource.h"

namespace testkit {

class FakeAttributionTokenSource : public platform::AttributionTokenSource {
 public:
  // Replaces an installed fake.
  static std::shared_ptr<FakeAttributionTokenSource> install(std::string token);
  static void uninstall();

  explicit FakeAttributionTokenSource(std::string token) : m_token(std::move(token)) {}

  platform::Result<std::string> attributionToken() override;
  void setToken(std::string token);
  // The next tokens fail with this error (none: they succeed again).
  void setError(std::optional<platform::Error> error);
  int requestCount() const;

 private:
  mutable std::mutex m_mutex;
  std::string m_token;
  std::optional<platform::Error> m_error;
  int m_requests = 0;
};

// Installs a fake for one scope.
class ScopedAttributionTokenSource {
 public:
  explicit ScopedAttributionTokenSource(std::string token = "attribution-token")
      : source(FakeAttributionTokenSource::install(std::move(token))) {}
  ~ScopedAttributionTokenSource() { FakeAttributionTokenSource::uninstall(); }
  ScopedAttributionTokenSource(const ScopedAttributionTokenSource&) = delete;
  ScopedAttributionTokenSource& operator=(const ScopedAttributionTokenSource&) = delete;

  const std::shared_ptr<FakeAttributionTokenSource> source;
};

}  // namespace testkit
