#include "testing/fakes/measurement/FakeAttributionTokenSource.h"

#include <any>

#include "platform/runtime/ClassRegistry.h"

namespace testkit {

std::shared_ptr<FakeAttributionTokenSource> FakeAttributionTokenSource::install(std::string token) {
  uninstall();
  auto source = std::make_shared<FakeAttributionTokenSource>(std::move(token));
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  registry.registerClass(kClassName);
  registry.addMethod(
      kClassName, kSharedInstanceSelector,
      [source](platform::Object*, const platform::Arguments&) {
        return std::any(std::shared_ptr<platform::AttributionTokenSource>(source));
      },
      platform::MethodKind::Class);
  return source;
}

void FakeAttributionTokenSource::uninstall() { platform::ClassRegistry::shared().removeClass(kClassName); }

platform::Result<std::string> FakeAttributionTokenSource::attributionToken() {
  std::lock_guard lock(m_mutex);
  ++m_requests;
  if (m_error) return *m_error;
  return m_token;
}

void FakeAttributionTokenSource::setToken(std::string token) {
  std::lock_guard lock(m_mutex);
  m_token = std::move(token);
}

void FakeAttributionTokenSource::setError(std::optional<platform::Error> error) {
  std::lock_guard lock(m_mutex);
  m_error = std::move(error);
}

int FakeAttributionTokenSource::requestCount() const {
  std::lock_guard lock(m_mutex);
  return m_requests;
}

}  // namespace testkit
