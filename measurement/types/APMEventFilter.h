// APMEventFilter: an audience event filter (a row of event_filters):
// audience and filter IDs, the event name, the encoded EventFilter message
// and its three flags. Immutable. Header-only: the measurement database in
// the base library stores and reads these rows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/types/APMAudienceFilter.h"
#include "platform/values/Value.h"

class APMEventFilter : public APMAudienceFilter {
 public:
  static std::shared_ptr<APMEventFilter> initWithAudienceID(int32_t audienceID, int32_t filterID,
                                                            const std::string& eventName, const platform::Bytes& data,
                                                            bool sessionScoped, bool dynamic, bool sequence) {
    auto filter = std::make_shared<APMEventFilter>();
    filter->m_audienceID = audienceID;
    filter->m_filterID = filterID;
    filter->m_eventName = eventName;
    filter->m_data = data;
    filter->m_sessionScoped = sessionScoped;
    filter->m_dynamic = dynamic;
    filter->m_sequence = sequence;
    return filter;
  }

  int32_t audienceID() const override { return m_audienceID; }
  int32_t filterID() const override { return m_filterID; }
  const std::string& eventName() const { return m_eventName; }
  const platform::Bytes& data() const { return m_data; }
  bool isSessionScoped() const override { return m_sessionScoped; }
  bool isDynamic() const override { return m_dynamic; }
  bool isSequence() const override { return m_sequence; }

 private:
  int32_t m_audienceID = 0;
  int32_t m_filterID = 0;
  std::string m_eventName;
  platform::Bytes m_data;
  bool m_sessionScoped = false;
  bool m_dynamic = false;
  bool m_sequence = false;
};
