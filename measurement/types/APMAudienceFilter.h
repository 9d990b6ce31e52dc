// APMAudienceFilter: what the audience evaluation asks of an event or
// property filter (APMEventFilter here, APMPropertyFilter in the base).
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
