// APMAudienceFilter: what the audience evaluation asks of an event or
// property filter (APMEventFilter in the features, APMPropertyFilter here).
#pragma once

#include <cstdint>

class APMAudienceFilter {
 public:
  virtual ~APMAudienceFilter() = default;
  virtual int32_t audienceID() const = 0;
  virtual int32_t filterID() const = 0;
  virtual bool isSessionScoped() const = 0;
  virtual bool isDynamic() const = 0;
  virtual bool isSequence() const = 0;
};
