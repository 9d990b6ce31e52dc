// Audience evaluation's part in start-up, bundling and configuration. Not
// built yet: start-up goes on without audiences, bundles carry no audience
// results, and a configuration's audiences are accepted without being kept.
#include "measurement/engine/APMMeasurement.h"

bool APMMeasurement::startAudienceOnWorkerQueue() { return true; }

std::shared_ptr<APMAudienceTimestampsCache> APMMeasurement::newAudienceTimestampsCache() { return nullptr; }

bool APMMeasurement::evaluateAudienceFiltersForEvent(const APMEvent&, const APMEventAggregates&,
                                                     const std::shared_ptr<APMAudienceTimestampsCache>&) {
  return true;
}

bool APMMeasurement::evaluateAudienceFiltersForUserProperty(const APMPBUserAttribute&,
                                                            const std::shared_ptr<APMAudienceTimestampsCache>&,
                                                            std::optional<double>) {
  return true;
}

void APMMeasurement::clearAudienceResultsForSessionScopedFilters() {}

std::optional<platform::Array> APMMeasurement::audienceResultsForBundling() { return platform::Array(); }

bool APMMeasurement::updateAudiences(const platform::Array&) { return true; }
