#include "testing/fakes/measurement/FakeConversionService.h"

#include <any>

#include "platform/dispatch/ConcurrentQueue.h"
#include "platform/runtime/ClassRegistry.h"

namespace testkit {

std::shared_ptr<FakeConversionService> FakeConversionService::install(int64_t versionNumber,
                                                                      std::vector<Answer> answers) {
  uninstall();
  auto service = std::make_shared<FakeConversionService>(versionNumber, std::move(answers));
  platform::ClassRegistry& registry = platform::ClassRegistry::shared();
  registry.registerClass(kClassName);
  registry.addProtocol(kClassName, kProtocolName);
  registry.addMethod(
      kClassName, kSharedInstance,
      [service](platform::Object*, const platform::Arguments&) {
        return std::any(std::shared_ptr<ODCConversionService>(service));
      },
      platform::MethodKind::Class);
  return service;
}

void FakeConversionService::uninstall() { platform::ClassRegistry::shared().removeClass(kClassName); }

FakeConversionService::FakeConversionService(int64_t versionNumber, std::vector<Answer> answers)
    : ODCConversionService(kClassName), m_versionNumber(versionNumber) {
  script(std::move(answers));
}

void FakeConversionService::script(std::vector<Answer> answers) {
  std::lock_guard lock(m_mutex);
  for (Answer& answer : answers) m_answers.push_back(std::move(answer));
}

void FakeConversionService::setFirstLaunchTime(std::optional<double> firstLaunchTime) {
  std::lock_guard lock(m_mutex);
  m_firstLaunchTimes.push_back(firstLaunchTime);
}

void FakeConversionService::fetchAggregateConversionInfoForInteraction(std::optional<int64_t>, Completion completion) {
  platform::globalQueue().async([completion = std::move(completion)] { completion(std::nullopt, std::nullopt); });
}

void FakeConversionService::fetchMeasurementInfoForInteraction(std::optional<int64_t>, Completion completion) {
  Answer answer;
  {
    std::lock_guard lock(m_mutex);
    ++m_fetches;
    if (!m_answers.empty()) {
      m_last = std::move(m_answers.front());
      m_answers.pop_front();
    }
    answer = m_last;
  }
  platform::globalQueue().async([completion = std::move(completion), answer] {
    if (answer.error) {
      completion(std::nullopt, answer.error);
    } else {
      completion(answer.value, std::nullopt);
    }
  });
}

std::vector<std::optional<double>> FakeConversionService::firstLaunchTimes() const {
  std::lock_guard lock(m_mutex);
  return m_firstLaunchTimes;
}

int FakeConversionService::fetchCount() const {
  std::lock_guard lock(m_mutex);
  return m_fetches;
}

}  // namespace testkit
