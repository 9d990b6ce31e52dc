#include "measurement/base/APMPropertyFilter.h"

std::shared_ptr<APMPropertyFilter> APMPropertyFilter::initWithAudienceID(int32_t audienceID, int32_t filterID,
                                                                         const std::string& propertyName,
                                                                         const platform::Bytes& data, bool sessionScoped,
                                                                         bool dynamic, bool sequence) {
  auto filter = std::make_shared<APMPropertyFilter>();
  filter->m_audienceID = audienceID;
  filter->m_filterID = filterID;
  filter->m_propertyName = propertyName;
  filter->m_data = data;
  filter->m_sessionScoped = sessionScoped;
  filter->m_dynamic = dynamic;
  filter->m_sequence = sequence;
  return filter;
}
