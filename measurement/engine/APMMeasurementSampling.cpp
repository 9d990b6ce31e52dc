// Event sampling of a bundle's events. Not built yet: every event is kept.
#include "measurement/engine/APMMeasurement.h"

std::optional<platform::Array> APMMeasurement::sampleEvents(const platform::Array& events, platform::Error*) {
  return events;
}
