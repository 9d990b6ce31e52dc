// MeasurementConfigNotation: a measurement configuration written as a JSON
// object, turned into the MeasurementConfig wire message the engine decodes.
// The fake configuration service and the probe's analytics-config take it.
//
//   {"version": 3,                         configuration version (int64)
//    "app_id": "1:…",                      default: the app ID given by the caller
//    "settings": {"measurement.upload.interval": "60000"},   name -> text
//    "event_config": [{"name": "e", "blocklisted": true, "conversion": true,
//                      "sampling_rate": 10}],
//    "audiences": [{"audience_id": 1, "event_filters": [{"filter_id": 1,
//                   "event_name": "e", "filters": [{"param_name": "p",
//                   "string_filter": {"match_type": 5, "expression": "x"}}],
//                   "event_count_filter": {…}, "dynamic": …, "sequence": …,
//                   "session_scoped": …}],
//                   "property_filters": [{"filter_id", "property_name",
//                   "filter": {…}, "dynamic", "sequence", "session_scoped"}]}],
//    "programs": [PROGRAM, …],             the script entity notation
//    "data_controls": ["name", …],
//    "upload_subdomain": "text",
//    "consent": {"defaults": {"ad_storage": "granted"},
//                "delegations": {"ad_user_data": "ad_storage"},
//                "core_platform_services": ["name", …], "dma": true,
//                "regional_defaults": {"analytics_storage": "denied"}},
//    "experiment_ids": [1, 2]}
//
// Audience objects use the field names of the audience wire messages
// (audience_id, property_filters, event_filters; filter_id, event_name,
// filters, event_count_filter, property_name, filter, dynamic, sequence,
// session_scoped; string_filter, number_filter, complement, param_name;
// match_type, expression, case_sensitive, expression_list; comparison_type,
// match_as_float, comparison_value, min_comparison_value,
// max_comparison_value). Consent types are "ad_storage",
// "analytics_storage", "ad_user_data", "ad_personalization"; statuses
// "granted" and "denied".
//
// Failure: an unknown member, a value of the wrong kind or an unknown consent
// name gives nullptr with `error` set to a short reason.
//
// Thread safety: pure; any thread.
#pragma once

#include <memory>
#include <string>

#include "measurement/messages/APMPBMessage.h"
#include "platform/values/Value.h"

namespace testkit {

std::shared_ptr<APMPBMeasurementConfig> measurementConfigFromNotation(const platform::Value& notation,
                                                                      const std::string& defaultAppID,
                                                                      std::string& error);

}  // namespace testkit
