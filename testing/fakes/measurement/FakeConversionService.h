// FakeConversionService: an outside on-device conversion service for tests
// and the probe. install() registers the class "ODCConversionService" (with
// its protocol) whose shared instance has the version number given and
// answers each measurement-information fetch, on a global queue, with the next
// scripted answer: a value ("" answers empty), or an error; once the script is
// used up it repeats its last answer. The first launch times it was told are
// recorded.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/engine/ODCConversionService.h"

namespace testkit {

class FakeConversionService : public ODCConversionService {
 public:
  struct Answer {
    std::string value;
    std::optional<platform::Error> error;
  };

  // Replaces an installed fake.
  static std::shared_ptr<FakeConversionService> install(int64_t versionNumber, std::vector<Answer> answers);
  static void uninstall();

  FakeConversionService(int64_t versionNumber, std::vector<Answer> answers);

  void setFirstLaunchTime(std::optional<double> firstLaunchTime) override;
  void fetchAggregateConversionInfoForInteraction(std::optional<int64_t> interaction, Completion completion) override;
  void fetchMeasurementInfoForInteraction(std::optional<int64_t> interaction, Completion completion) override;
  std::string versionString() const override { return std::to_string(m_versionNumber); }
  int64_t versionNumber() const override { return m_versionNumber; }

  void script(std::vector<Answer> answers);
  std::vector<std::optional<double>> firstLaunchTimes() const;
  int fetchCount() const;

 private:
  const int64_t m_versionNumber;
  mutable std::mutex m_mutex;
  std::deque<Answer> m_answers;
  Answer m_last;
  std::vector<std::optional<double>> m_firstLaunchTimes;
  int m_fetches = 0;
};

}  // namespace testkit
