// The 72 measurement settings as one table: getter, key, kind, default,
// minimum, maximum, and whether the getter is plain (made from the row) or
// written by hand (experiment flags, debug mode, further conditions).
//
// Kinds: Int (signed 32-bit), Int64, Bool (YES only for the value 1; bounds
// 0 and 1), Time (a duration: default and bounds in seconds, configured in
// whole milliseconds), TimeInt (read like Time, the result truncated to a
// 32-bit count).
#pragma once

// X(getter, key, kind, default, minimum, maximum, plain-or-custom)
#define APM_REMOTE_CONFIG_SETTINGS(X)                                                                              \
  X(analyticsAccountTimeZoneOffsetMinutes, "measurement.account.time_zone_offset_minutes", Int, 0, -900, 900, Plain) \
  X(adIDCacheTime, "measurement.ad_id_cache_time", Time, 1, 0, 86400, Plain)                                       \
  X(gateIDFAOnATTMASEnabled, "measurement.attmas_gate", Bool, 0, 0, 1, Plain)                                      \
  X(attributionCacheTTLInterval, "measurement.attribution.cache.ttl", Time, 604800, 86400, 2592000, Plain)         \
  X(maxFiltersPerAudience, "measurement.audience.filter_max_count_per_audience", Int, 10, 0, 100, Plain)           \
  X(maxFilterResultCount, "measurement.audience.filter_result_max_count", Int, 200, 0, 2000, Plain)                \
  X(maxAudienceCount, "measurement.audience.max_count", Int, 100, 0, 500, Plain)                                   \
  X(maxParametersPerFilter, "measurement.audience.parameter_max_count_filter", Int, 25, 0, 250, Plain)             \
  X(efficientEngagementReportingEnabled, "measurement.collection.efficient_engagement_reporting_enabled", Bool, 0, \
    0, 1, Plain)                                                                                                   \
  X(redundantEngagementRemovalEnabled, "measurement.collection.redundant_engagement_removal_enabled", Bool, 0, 0,  \
    1, Plain)                                                                                                      \
  X(remoteConfigCacheTimeInterval, "measurement.config.cache_time", Time, 3600, 60, 86400, Plain)                  \
  X(customerTypeEnabled, "measurement.customer_type_enabled", Bool, 1, 0, 1, Custom)                               \
  X(isDeferredDeepLinkEnabled, "measurement.ddl.enabled", Bool, 1, 0, 1, Plain)                                    \
  X(maxDeferredDeepLinkRetryCount, "measurement.ddl.retry_count", Int, 5, 0, 10, Plain)                            \
  X(maxRealtimeDCUEventCountPerDay, "measurement.dma.dcu_event_max_realtime_daily_count", Int, 1, 0, 10, Plain)    \
  X(isEventSamplingEnabled, "measurement.event_sampling_enabled", Bool, 0, 0, 1, Plain)                            \
  X(appInBackgroundParameterEnabled, "measurement.lifecycle.app_in_background_parameter", Bool, 1, 0, 1, Plain)    \
  X(maxTrackedCurrencies, "measurement.lifetimevalue.max_currency_tracked", Int, 4, 1, 100, Plain)                 \
  X(monitoringSamplePeriod, "measurement.monitoring.sample_period_millis", Time, 86400, 0, 604800, Plain)           \
  X(isNetworkBackgroundSessionEnabled, "measurement.network.background_session_enabled", Bool, 0, 0, 1, Plain)     \
  X(networkTimeout, "measurement.network.network_timeout", Time, 60, 30, 3600, Plain)                              \
  X(adsOnDeviceConversionFeatureEnabled, "measurement.odm2_enabled", Bool, 0, 0, 1, Plain)                         \
  X(PSMGroupIDEnabled, "measurement.psm_group_id_enabled", Bool, 1, 0, 1, Custom)                                  \
  X(PSMGroupIDHashPrefixBitLengthEmail, "measurement.psm_group_id_prefix_email", Int, 22, 6, 30, Plain)            \
  X(hashPrefixBitLengthEmail, "measurement.psm_prefix_email", Int, 14, 6, 20, Plain)                               \
  X(hashPrefixBitLengthPhone, "measurement.psm_prefix_phone", Int, 11, 6, 18, Plain)                               \
  X(maxPSMRetryCount, "measurement.psm_retry_count", Int, 5, 0, 10, Plain)                                         \
  X(PSMRetryInterval, "measurement.psm_retry_interval", Time, 300, 30, 1800, Plain)                                \
  X(PSMSessionStartHashPrefixBitLengthEmail, "measurement.psm_session_prefix_email", Int, 13, 6, 20, Plain)        \
  X(PSMSessionStartHashPrefixBitLengthPhone, "measurement.psm_session_prefix_phone", Int, 11, 6, 18, Plain)        \
  X(PSMSessionStartEnabled, "measurement.psm_session_start_enabled", Bool, 1, 0, 1, Custom)                        \
  X(maxSignInDelayInDays, "measurement.psm_signin_delay", Int, 60, 7, 90, Plain)                                   \
  X(maxPSMStartCount, "measurement.psm_start_count", Int, 3, 0, 10, Custom)                                        \
  X(checksumEnabled, "measurement.quality.checksum", Bool, 0, 0, 1, Plain)                                         \
  X(sessionDefaultTimeoutInterval, "measurement.session.default_timeout_interval", Time, 1800, 0, 86400, Plain)    \
  X(sessionEventUserEngagementInterval, "measurement.session.event_user_engagement_interval", Time, 3600, 0,       \
    86400, Plain)                                                                                                  \
  X(sessionStitchingTokenFeatureEnabled, "measurement.session_stitching_token_enabled", Bool, 0, 0, 1, Plain)      \
  X(SZTMUploadEnabledSetting, "measurement.sztm_upload_enabled", Bool, 1, 0, 1, Plain)                             \
  X(SKANCVFetchRetryInterval, "measurement.skan.cv_fetch_retry_interval_sec", Time, 120, 30, 3600, Plain)          \
  X(SKANCVFetchRetryLimit, "measurement.skan.cv_fetch_retry_limit", Int, 4, 1, 10, Plain)                          \
  X(SKANFirstWindowCVFetchRetryInterval, "measurement.skan.first_window.cv_fetch_retry_interval_sec", Time, 120,   \
    30, 3600, Plain)                                                                                               \
  X(SKANFirstWindowCVFetchRetryLimit, "measurement.skan.first_window.cv_fetch_retry_limit", Int, 4, 1, 10, Plain)  \
  X(SKANFirstWindowCVFetchDelay, "measurement.skan.first_window.initial_cv_fetch_delay_sec", Time, 20, 1, 3600,    \
    Plain)                                                                                                         \
  X(SKANFirstWindowUploadInterval, "measurement.skan.first_window.upload_interval_sec", Time, 1800, 15, 86400,     \
    Plain)                                                                                                         \
  X(SKANInitialCVFetchDelay, "measurement.skan.initial_cv_fetch_delay_sec", Time, 120, 30, 3600, Plain)            \
  X(SKANUpdateConversionValueEnabled, "measurement.skan.update_conversion_value_enabled", Bool, 0, 0, 1, Plain)    \
  X(maxEventsStored, "measurement.store.max_stored_events_per_app", Int, 100000, 0, 1000000, Plain)                \
  X(uploadingBackoffInterval, "measurement.upload.backoff_period", Time, 43200, 3600, 604800, Plain)               \
  X(blocklistInternal, "measurement.upload.blacklist_internal", Bool, 0, 0, 1, Plain)                              \
  X(blocklistPublic, "measurement.upload.blacklist_public", Bool, 0, 0, 1, Plain)                                  \
  X(uploadingDebugModeInterval, "measurement.upload.debug_upload_interval", Time, 1, 1, 15, Plain)                 \
  X(uploadingInitialDelayInterval, "measurement.upload.initial_upload_delay_time", Time, 15, 1, 86400, Plain)      \
  X(uploadingInterval, "measurement.upload.interval", Time, 3600, 15, 86400, Plain)                                \
  X(uploadMaxSizeLimitBytes, "measurement.upload.max_batch_size", Int64, 65536, 0, 10485760, Plain)                \
  X(uploadMaxBundlesLimit, "measurement.upload.max_bundles", Int64, 100, 1, 10000, Plain)                          \
  X(maxBundlesCreatedPerIteration, "measurement.upload.max_bundles_created_per_iteration", TimeInt, 100, 1, 10000, \
    Plain)                                                                                                         \
  X(maxConversionsPerDay, "measurement.upload.max_conversions_per_day", Int, 10000, 0, 1000000, Plain)             \
  X(maxErrorEventsPerDay, "measurement.upload.max_error_events_per_day", Int, 1000, 0, 1000000, Plain)             \
  X(maxEventNameCardinality, "measurement.upload.max_event_name_cardinality", Int, 2000, 500, 2000, Plain)         \
  X(maxPublicEventParameterValueLength, "measurement.upload.max_event_parameter_value_length", Int, 500, 100, 500, \
    Plain)                                                                                                         \
  X(uploadMaxEventsPerBundle, "measurement.upload.max_events_per_bundle", Int64, 1000, 1, 1000000, Plain)          \
  X(maxEventsPerDay, "measurement.upload.max_events_per_day", Int, 100000, 0, 1000000, Plain)                      \
  X(maxItemScopedCustomParameters, "measurement.upload.max_item_scoped_custom_parameters", Int, 27, 10, 35, Plain) \
  X(maxPublicEventParams, "measurement.upload.max_public_event_params", Int, 100, 25, 100, Plain)                  \
  X(maxPublicEventsPerDay, "measurement.upload.max_public_events_per_day", Int, 50000, 0, 1000000, Plain)          \
  X(maxPublicUserProperties, "measurement.upload.max_public_user_properties", Int, 100, 25, 100, Plain)            \
  X(maxQueueTime, "measurement.upload.max_queue_time", Time, 2419200, 604800, 7862400, Plain)                      \
  X(maxRealtimeEventCountPerDay, "measurement.upload.max_realtime_events_per_day", Int, 10, 0, 10, Plain)          \
  X(uploadingRealTimeInterval, "measurement.upload.realtime_upload_interval", Time, 10, 10, 15, Plain)             \
  X(uploadingRetryCount, "measurement.upload.retry_count", Int, 6, 1, 24, Plain)                                   \
  X(uploadingRetryInterval, "measurement.upload.retry_time", Time, 1800, 60, 86400, Plain)                         \
  X(databaseDeleteStaleBundlesInterval, "measurement.upload.stale_data_deletion_interval", Time, 86400, 3600,      \
    604800, Plain)
