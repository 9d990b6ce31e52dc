// APMFilterResult: the evaluation results of one audience (a row of
// audience_filter_values): the current results and, when any, the previous
// ones (encoded result data). Immutable. Header-only: the measurement
// database in the base library stores and reads these rows.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/values/Value.h"

class APMFilterResult {
 public:
  static std::shared_ptr<APMFilterResult> initWithAudienceID(int32_t audienceID, platform::Bytes currentResults,
                                                             std::optional<platform::Bytes> previousResults) {
    auto result = std::make_shared<APMFilterResult>();
    result->m_audienceID = audienceID;
    result->m_currentResults = std::move(currentResults);
    result->m_previousResults = std::move(previousResults);
    return result;
  }

  int32_t audienceID() const { return m_audienceID; }
  const platform::Bytes& currentResults() const { return m_currentResults; }
  const std::optional<platform::Bytes>& previousResults() const { return m_previousResults; }

 private:
  int32_t m_audienceID = 0;
  platform::Bytes m_currentResults;
  std::optional<platform::Bytes> m_previousResults;
};
