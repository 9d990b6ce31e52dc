// The slot tables of the 46 measurement messages: per slot its tag, flag
// word, schema field name and, for message slots, the field's type. Slots
// follow ascending tag order except in MeasurementBundle, whose slots 0-5 hold
// tags 1-6, slot 6 tag 26, slot 7 tag 7, slots 8-19 tags 8-19, slot 20 tag
// 27, slots 21-26 tags 20-25 and slots 27-55 the tags from 28 up. Enum fields
// are uint32 on the wire and enum (0x42) here. The tables are checked against
// the generated nanopb descriptors by the tests; APMPBSlots.h names every
// slot, and the tests hold those names against these tables.
#include <algorithm>
#include <cstring>

#include "measurement.pb.h"
#include "measurement/messages/APMPBMessageType.h"

namespace {

// AdCampaignInfo
constexpr APMPBFieldFlags kAdCampaignInfoFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kAdCampaignInfoSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
    {7, "field_7", nullptr},
    {8, "field_8", nullptr},
    {9, "deep_link_gad_params", &kAPMPBDeepLinkGadParamsEntry},
    {10, "market_referrer_gad_params", &kAPMPBMarketReferrerGadParamsEntry},
};

// AppProperty
constexpr APMPBFieldFlags kAppPropertyFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
};
constexpr APMPBSlot kAppPropertySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
    {7, "field_7", nullptr},
};

// Audience
constexpr APMPBFieldFlags kAudienceFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldBool,
};
constexpr APMPBSlot kAudienceSlots[] = {
    {1, "field_1", nullptr},
    {2, "property_filters", &kAPMPBPropertyFilter},
    {3, "event_filters", &kAPMPBEventFilter},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
};

// AudienceLeafFilterResult
constexpr APMPBFieldFlags kAudienceLeafFilterResultFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
};
constexpr APMPBSlot kAudienceLeafFilterResultSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", &kAPMPBResultData},
    {3, "field_3", &kAPMPBResultData},
    {4, "field_4", nullptr},
};

// ClientProperty
constexpr APMPBFieldFlags kClientPropertyFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kClientPropertySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "custom_properties", &kAPMPBCustomProperty},
};

// ConsentConfig
constexpr APMPBFieldFlags kConsentConfigFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kConsentConfigSlots[] = {
    {1, "defaults", &kAPMPBConsentDefaultEntry},
    {2, "delegations", &kAPMPBConsentDelegationEntry},
    {3, "core_platform_services", &kAPMPBCorePlatformServiceEntry},
    {4, "field_4", nullptr},
    {5, "enforced_defaults", &kAPMPBConsentDefaultEntry},
};

// ConsentDefaultEntry
constexpr APMPBFieldFlags kConsentDefaultEntryFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
};
constexpr APMPBSlot kConsentDefaultEntrySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
};

// ConsentDelegationEntry
constexpr APMPBFieldFlags kConsentDelegationEntryFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
};
constexpr APMPBSlot kConsentDelegationEntrySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// ConsentInfoExtra
constexpr APMPBFieldFlags kConsentInfoExtraFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kConsentInfoExtraSlots[] = {
    {1, "limited_data_modes", &kAPMPBLimitedDataEntry},
};

// CorePlatformServiceEntry
constexpr APMPBFieldFlags kCorePlatformServiceEntryFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kCorePlatformServiceEntrySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// CustomProperty
constexpr APMPBFieldFlags kCustomPropertyFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kCustomPropertySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// DataControl
constexpr APMPBFieldFlags kDataControlFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
};
constexpr APMPBSlot kDataControlSlots[] = {
    {1, "field_1", nullptr},
    {2, "opt_out_regions", &kAPMPBRegion},
    {3, "field_3", nullptr},
};

// DeepLinkGadParamsEntry
constexpr APMPBFieldFlags kDeepLinkGadParamsEntryFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kDeepLinkGadParamsEntrySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// DynamicFilterResultTimestamp
constexpr APMPBFieldFlags kDynamicFilterResultTimestampFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
};
constexpr APMPBSlot kDynamicFilterResultTimestampSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// Event
constexpr APMPBFieldFlags kEventFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
};
constexpr APMPBSlot kEventSlots[] = {
    {1, "params", &kAPMPBEventParam},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
    {7, "field_7", nullptr},
};

// EventConfig
constexpr APMPBFieldFlags kEventConfigFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
};
constexpr APMPBSlot kEventConfigSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
};

// EventFilter
constexpr APMPBFieldFlags kEventFilterFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldBool,
};
constexpr APMPBSlot kEventFilterSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "filters", &kAPMPBFilter},
    {4, "field_4", nullptr},
    {5, "field_5", &kAPMPBNumberFilter},
    {6, "field_6", nullptr},
    {7, "field_7", nullptr},
    {8, "field_8", nullptr},
};

// EventParam
constexpr APMPBFieldFlags kEventParamFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldFloat,
    kAPMPBFieldSingular | kAPMPBFieldDouble,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kEventParamSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "param_value", &kAPMPBEventParam},
};

// Experiment
constexpr APMPBFieldFlags kExperimentFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kExperimentSlots[] = {
    {1, "field_1", nullptr},
    {2, "flags", &kAPMPBFlag},
};

// ExperimentRequest
constexpr APMPBFieldFlags kExperimentRequestFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kExperimentRequestSlots[] = {
    {1, "field_1", &kAPMPBAppProperty},
    {2, "client_properties", &kAPMPBClientProperty},
};

// ExperimentResponse
constexpr APMPBFieldFlags kExperimentResponseFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kExperimentResponseSlots[] = {
    {1, "snapshots", &kAPMPBSnapshot},
    {2, "sdk_responses", &kAPMPBSdkResponse},
};

// Filter
constexpr APMPBFieldFlags kFilterFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kFilterSlots[] = {
    {1, "field_1", &kAPMPBStringFilter},
    {2, "field_2", &kAPMPBNumberFilter},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
};

// Flag
constexpr APMPBFieldFlags kFlagFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldDouble,
    kAPMPBFieldSingular | kAPMPBFieldBool,
};
constexpr APMPBSlot kFlagSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
};

// LimitedDataEntry
constexpr APMPBFieldFlags kLimitedDataEntryFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
};
constexpr APMPBSlot kLimitedDataEntrySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// MarketReferrerGadParamsEntry
constexpr APMPBFieldFlags kMarketReferrerGadParamsEntryFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kMarketReferrerGadParamsEntrySlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// MeasurementBatch
constexpr APMPBFieldFlags kMeasurementBatchFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
};
constexpr APMPBSlot kMeasurementBatchSlots[] = {
    {1, "bundles", &kAPMPBMeasurementBundle},
    {7, "field_7", nullptr},
    {8, "field_8", nullptr},
    {9, "field_9", nullptr},
};

// MeasurementBundle
constexpr APMPBFieldFlags kMeasurementBundleFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldUInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
};
constexpr APMPBSlot kMeasurementBundleSlots[] = {
    {1, "field_1", nullptr},
    {2, "events", &kAPMPBEvent},
    {3, "user_attributes", &kAPMPBUserAttribute},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
    {26, "field_26", nullptr},
    {7, "field_7", nullptr},
    {8, "field_8", nullptr},
    {9, "field_9", nullptr},
    {10, "field_10", nullptr},
    {11, "field_11", nullptr},
    {12, "field_12", nullptr},
    {13, "field_13", nullptr},
    {14, "field_14", nullptr},
    {15, "field_15", nullptr},
    {16, "field_16", nullptr},
    {17, "field_17", nullptr},
    {18, "field_18", nullptr},
    {19, "field_19", nullptr},
    {27, "field_27", nullptr},
    {20, "field_20", nullptr},
    {21, "field_21", nullptr},
    {22, "field_22", nullptr},
    {23, "field_23", nullptr},
    {24, "field_24", nullptr},
    {25, "field_25", nullptr},
    {28, "field_28", nullptr},
    {29, "audience_evaluation_results", &kAPMPBAudienceLeafFilterResult},
    {30, "field_30", nullptr},
    {31, "field_31", nullptr},
    {32, "field_32", nullptr},
    {33, "field_33", nullptr},
    {34, "field_34", nullptr},
    {35, "field_35", nullptr},
    {39, "field_39", nullptr},
    {41, "field_41", nullptr},
    {45, "experiment_ids", nullptr},
    {47, "field_47", nullptr},
    {50, "field_50", nullptr},
    {52, "field_52", nullptr},
    {53, "field_53", nullptr},
    {55, "field_55", nullptr},
    {63, "field_63", nullptr},
    {64, "redacted_fields", nullptr},
    {65, "field_65", nullptr},
    {67, "field_67", nullptr},
    {71, "field_71", nullptr},
    {72, "field_72", nullptr},
    {73, "field_73", nullptr},
    {75, "field_75", nullptr},
    {77, "field_77", nullptr},
    {79, "field_79", &kAPMPBAdCampaignInfo},
    {84, "field_84", &kAPMPBOnDeviceMeasurementInfo},
    {86, "field_86", &kAPMPBConsentInfoExtra},
    {87, "field_87", nullptr},
};

// MeasurementConfig
constexpr APMPBFieldFlags kMeasurementConfigFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldUInt32,
};
constexpr APMPBSlot kMeasurementConfigSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "settings", &kAPMPBSetting},
    {5, "event_config", &kAPMPBEventConfig},
    {6, "audiences", &kAPMPBAudience},
    {7, "field_7", nullptr},
    {8, "field_8", nullptr},
    {9, "dynamic_event_editing", &kAPMPBProgram},
    {10, "data_controls", &kAPMPBDataControl},
    {11, "field_11", nullptr},
    {14, "field_14", nullptr},
    {15, "field_15", &kAPMPBConsentConfig},
    {16, "field_16", &kAPMPBPsmSetting},
    {17, "field_17", &kAPMPBSztmSetting},
    {18, "field_18", &kAPMPBRegion},
    {20, "experiment_ids", nullptr},
};

// NumberFilter
constexpr APMPBFieldFlags kNumberFilterFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kNumberFilterSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
};

// OgtActivities
constexpr APMPBFieldFlags kOgtActivitiesFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kOgtActivitiesSlots[] = {
    {1, "activities", &kAPMPBOgtActivity},
};

// OgtActivity
constexpr APMPBFieldFlags kOgtActivityFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kOgtActivitySlots[] = {
    {1, "field_1", nullptr},
    {2, "data", &kAPMPBRuntimeEntity},
};

// OnDeviceMeasurementInfo
constexpr APMPBFieldFlags kOnDeviceMeasurementInfoFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
};
constexpr APMPBSlot kOnDeviceMeasurementInfoSlots[] = {
    {1, "field_1", &kAPMPBOnDeviceMeasurementValue},
    {2, "field_2", &kAPMPBOnDeviceMeasurementValue},
    {3, "field_3", &kAPMPBOnDeviceMeasurementValue},
    {4, "field_4", &kAPMPBOnDeviceMeasurementValue},
    {5, "field_5", &kAPMPBOnDeviceMeasurementValue},
    {6, "field_6", &kAPMPBOnDeviceMeasurementValue},
};

// OnDeviceMeasurementValue
constexpr APMPBFieldFlags kOnDeviceMeasurementValueFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kOnDeviceMeasurementValueSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// Program
constexpr APMPBFieldFlags kProgramFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
};
constexpr APMPBSlot kProgramSlots[] = {
    {1, "instructions", &kAPMPBRuntimeEntity},
    {2, "field_2", &kAPMPBOgtActivities},
};

// PropertyFilter
constexpr APMPBFieldFlags kPropertyFilterFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldBool,
};
constexpr APMPBSlot kPropertyFilterSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", &kAPMPBFilter},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
};

// PsmSetting
constexpr APMPBFieldFlags kPsmSettingFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
};
constexpr APMPBSlot kPsmSettingSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
};

// Region
constexpr APMPBFieldFlags kRegionFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kRegionSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// ResultData
constexpr APMPBFieldFlags kResultDataFlags[] = {
    kAPMPBFieldRepeated | kAPMPBFieldUInt64,
    kAPMPBFieldRepeated | kAPMPBFieldUInt64,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kResultDataSlots[] = {
    {1, "status", nullptr},
    {2, "results", nullptr},
    {3, "dynamic_filter_timestamps", &kAPMPBDynamicFilterResultTimestamp},
    {4, "sequence_filter_timestamps", &kAPMPBSequenceFilterResultTimestamp},
};

// RuntimeEntity
constexpr APMPBFieldFlags kRuntimeEntityFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldSingular | kAPMPBFieldDouble,
};
constexpr APMPBSlot kRuntimeEntitySlots[] = {
    {1, "field_1", nullptr},
    {2, "value", &kAPMPBRuntimeEntity},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
};

// SdkResponse
constexpr APMPBFieldFlags kSdkResponseFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldMessage,
};
constexpr APMPBSlot kSdkResponseSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", &kAPMPBSnapshot},
};

// SequenceFilterResultTimestamp
constexpr APMPBFieldFlags kSequenceFilterResultTimestampFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldRepeated | kAPMPBFieldInt64,
};
constexpr APMPBSlot kSequenceFilterResultTimestampSlots[] = {
    {1, "field_1", nullptr},
    {2, "eval_timestamps", nullptr},
};

// Setting
constexpr APMPBFieldFlags kSettingFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kSettingSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
};

// Snapshot
constexpr APMPBFieldFlags kSnapshotFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldRepeated | kAPMPBFieldMessage,
};
constexpr APMPBSlot kSnapshotSlots[] = {
    {1, "field_1", nullptr},
    {2, "experiments", &kAPMPBExperiment},
};

// StringFilter
constexpr APMPBFieldFlags kStringFilterFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldEnum,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldBool,
    kAPMPBFieldRepeated | kAPMPBFieldString,
};
constexpr APMPBSlot kStringFilterSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "expression_list", nullptr},
};

// SztmSetting
constexpr APMPBFieldFlags kSztmSettingFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt32,
    kAPMPBFieldSingular | kAPMPBFieldString,
};
constexpr APMPBSlot kSztmSettingSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
};

// UserAttribute
constexpr APMPBFieldFlags kUserAttributeFlags[] = {
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldString,
    kAPMPBFieldSingular | kAPMPBFieldInt64,
    kAPMPBFieldSingular | kAPMPBFieldFloat,
    kAPMPBFieldSingular | kAPMPBFieldDouble,
};
constexpr APMPBSlot kUserAttributeSlots[] = {
    {1, "field_1", nullptr},
    {2, "field_2", nullptr},
    {3, "field_3", nullptr},
    {4, "field_4", nullptr},
    {5, "field_5", nullptr},
    {6, "field_6", nullptr},
};

}  // namespace

const APMPBMessageType kAPMPBAdCampaignInfo = {"AdCampaignInfo", 10, kAdCampaignInfoFlags, kAdCampaignInfoSlots, &apm_AdCampaignInfo_msg, sizeof(apm_AdCampaignInfo), true, 0};
const APMPBMessageType kAPMPBAppProperty = {"AppProperty", 7, kAppPropertyFlags, kAppPropertySlots, &apm_AppProperty_msg, sizeof(apm_AppProperty), true, 1};
const APMPBMessageType kAPMPBAudience = {"Audience", 5, kAudienceFlags, kAudienceSlots, &apm_Audience_msg, sizeof(apm_Audience), true, 2};
const APMPBMessageType kAPMPBAudienceLeafFilterResult = {"AudienceLeafFilterResult", 4, kAudienceLeafFilterResultFlags, kAudienceLeafFilterResultSlots, &apm_AudienceLeafFilterResult_msg, sizeof(apm_AudienceLeafFilterResult), true, 3};
const APMPBMessageType kAPMPBClientProperty = {"ClientProperty", 5, kClientPropertyFlags, kClientPropertySlots, &apm_ClientProperty_msg, sizeof(apm_ClientProperty), true, 4};
const APMPBMessageType kAPMPBConsentConfig = {"ConsentConfig", 5, kConsentConfigFlags, kConsentConfigSlots, &apm_ConsentConfig_msg, sizeof(apm_ConsentConfig), true, 5};
const APMPBMessageType kAPMPBConsentDefaultEntry = {"ConsentDefaultEntry", 3, kConsentDefaultEntryFlags, kConsentDefaultEntrySlots, &apm_ConsentDefaultEntry_msg, sizeof(apm_ConsentDefaultEntry), true, 6};
const APMPBMessageType kAPMPBConsentDelegationEntry = {"ConsentDelegationEntry", 2, kConsentDelegationEntryFlags, kConsentDelegationEntrySlots, &apm_ConsentDelegationEntry_msg, sizeof(apm_ConsentDelegationEntry), true, 7};
const APMPBMessageType kAPMPBConsentInfoExtra = {"ConsentInfoExtra", 1, kConsentInfoExtraFlags, kConsentInfoExtraSlots, &apm_ConsentInfoExtra_msg, sizeof(apm_ConsentInfoExtra), false, 8};
const APMPBMessageType kAPMPBCorePlatformServiceEntry = {"CorePlatformServiceEntry", 2, kCorePlatformServiceEntryFlags, kCorePlatformServiceEntrySlots, &apm_CorePlatformServiceEntry_msg, sizeof(apm_CorePlatformServiceEntry), true, 9};
const APMPBMessageType kAPMPBCustomProperty = {"CustomProperty", 2, kCustomPropertyFlags, kCustomPropertySlots, &apm_CustomProperty_msg, sizeof(apm_CustomProperty), true, 10};
const APMPBMessageType kAPMPBDataControl = {"DataControl", 3, kDataControlFlags, kDataControlSlots, &apm_DataControl_msg, sizeof(apm_DataControl), true, 11};
const APMPBMessageType kAPMPBDeepLinkGadParamsEntry = {"DeepLinkGadParamsEntry", 2, kDeepLinkGadParamsEntryFlags, kDeepLinkGadParamsEntrySlots, &apm_DeepLinkGadParamsEntry_msg, sizeof(apm_DeepLinkGadParamsEntry), true, 12};
const APMPBMessageType kAPMPBDynamicFilterResultTimestamp = {"DynamicFilterResultTimestamp", 2, kDynamicFilterResultTimestampFlags, kDynamicFilterResultTimestampSlots, &apm_DynamicFilterResultTimestamp_msg, sizeof(apm_DynamicFilterResultTimestamp), true, 13};
const APMPBMessageType kAPMPBEvent = {"Event", 7, kEventFlags, kEventSlots, &apm_Event_msg, sizeof(apm_Event), true, 14};
const APMPBMessageType kAPMPBEventConfig = {"EventConfig", 4, kEventConfigFlags, kEventConfigSlots, &apm_EventConfig_msg, sizeof(apm_EventConfig), true, 15};
const APMPBMessageType kAPMPBEventFilter = {"EventFilter", 8, kEventFilterFlags, kEventFilterSlots, &apm_EventFilter_msg, sizeof(apm_EventFilter), true, 16};
const APMPBMessageType kAPMPBEventParam = {"EventParam", 6, kEventParamFlags, kEventParamSlots, &apm_EventParam_msg, sizeof(apm_EventParam), true, 17};
const APMPBMessageType kAPMPBExperiment = {"Experiment", 2, kExperimentFlags, kExperimentSlots, &apm_Experiment_msg, sizeof(apm_Experiment), true, 18};
const APMPBMessageType kAPMPBExperimentRequest = {"ExperimentRequest", 2, kExperimentRequestFlags, kExperimentRequestSlots, &apm_ExperimentRequest_msg, sizeof(apm_ExperimentRequest), true, 19};
const APMPBMessageType kAPMPBExperimentResponse = {"ExperimentResponse", 2, kExperimentResponseFlags, kExperimentResponseSlots, &apm_ExperimentResponse_msg, sizeof(apm_ExperimentResponse), true, 20};
const APMPBMessageType kAPMPBFilter = {"Filter", 4, kFilterFlags, kFilterSlots, &apm_Filter_msg, sizeof(apm_Filter), true, 21};
const APMPBMessageType kAPMPBFlag = {"Flag", 5, kFlagFlags, kFlagSlots, &apm_Flag_msg, sizeof(apm_Flag), true, 22};
const APMPBMessageType kAPMPBLimitedDataEntry = {"LimitedDataEntry", 2, kLimitedDataEntryFlags, kLimitedDataEntrySlots, &apm_LimitedDataEntry_msg, sizeof(apm_LimitedDataEntry), false, 23};
const APMPBMessageType kAPMPBMarketReferrerGadParamsEntry = {"MarketReferrerGadParamsEntry", 2, kMarketReferrerGadParamsEntryFlags, kMarketReferrerGadParamsEntrySlots, &apm_MarketReferrerGadParamsEntry_msg, sizeof(apm_MarketReferrerGadParamsEntry), false, 24};
const APMPBMessageType kAPMPBMeasurementBatch = {"MeasurementBatch", 4, kMeasurementBatchFlags, kMeasurementBatchSlots, &apm_MeasurementBatch_msg, sizeof(apm_MeasurementBatch), true, 25};
const APMPBMessageType kAPMPBMeasurementBundle = {"MeasurementBundle", 56, kMeasurementBundleFlags, kMeasurementBundleSlots, &apm_MeasurementBundle_msg, sizeof(apm_MeasurementBundle), true, 26};
const APMPBMessageType kAPMPBMeasurementConfig = {"MeasurementConfig", 17, kMeasurementConfigFlags, kMeasurementConfigSlots, &apm_MeasurementConfig_msg, sizeof(apm_MeasurementConfig), true, 27};
const APMPBMessageType kAPMPBNumberFilter = {"NumberFilter", 5, kNumberFilterFlags, kNumberFilterSlots, &apm_NumberFilter_msg, sizeof(apm_NumberFilter), true, 28};
const APMPBMessageType kAPMPBOgtActivities = {"OgtActivities", 1, kOgtActivitiesFlags, kOgtActivitiesSlots, &apm_OgtActivities_msg, sizeof(apm_OgtActivities), true, 29};
const APMPBMessageType kAPMPBOgtActivity = {"OgtActivity", 2, kOgtActivityFlags, kOgtActivitySlots, &apm_OgtActivity_msg, sizeof(apm_OgtActivity), true, 30};
const APMPBMessageType kAPMPBOnDeviceMeasurementInfo = {"OnDeviceMeasurementInfo", 6, kOnDeviceMeasurementInfoFlags, kOnDeviceMeasurementInfoSlots, &apm_OnDeviceMeasurementInfo_msg, sizeof(apm_OnDeviceMeasurementInfo), true, 31};
const APMPBMessageType kAPMPBOnDeviceMeasurementValue = {"OnDeviceMeasurementValue", 2, kOnDeviceMeasurementValueFlags, kOnDeviceMeasurementValueSlots, &apm_OnDeviceMeasurementValue_msg, sizeof(apm_OnDeviceMeasurementValue), true, 32};
const APMPBMessageType kAPMPBProgram = {"Program", 2, kProgramFlags, kProgramSlots, &apm_Program_msg, sizeof(apm_Program), true, 33};
const APMPBMessageType kAPMPBPropertyFilter = {"PropertyFilter", 6, kPropertyFilterFlags, kPropertyFilterSlots, &apm_PropertyFilter_msg, sizeof(apm_PropertyFilter), true, 34};
const APMPBMessageType kAPMPBPsmSetting = {"PsmSetting", 5, kPsmSettingFlags, kPsmSettingSlots, &apm_PsmSetting_msg, sizeof(apm_PsmSetting), true, 35};
const APMPBMessageType kAPMPBRegion = {"Region", 2, kRegionFlags, kRegionSlots, &apm_Region_msg, sizeof(apm_Region), false, 36};
const APMPBMessageType kAPMPBResultData = {"ResultData", 4, kResultDataFlags, kResultDataSlots, &apm_ResultData_msg, sizeof(apm_ResultData), true, 37};
const APMPBMessageType kAPMPBRuntimeEntity = {"RuntimeEntity", 6, kRuntimeEntityFlags, kRuntimeEntitySlots, &apm_RuntimeEntity_msg, sizeof(apm_RuntimeEntity), true, 38};
const APMPBMessageType kAPMPBSdkResponse = {"SdkResponse", 3, kSdkResponseFlags, kSdkResponseSlots, &apm_SdkResponse_msg, sizeof(apm_SdkResponse), true, 39};
const APMPBMessageType kAPMPBSequenceFilterResultTimestamp = {"SequenceFilterResultTimestamp", 2, kSequenceFilterResultTimestampFlags, kSequenceFilterResultTimestampSlots, &apm_SequenceFilterResultTimestamp_msg, sizeof(apm_SequenceFilterResultTimestamp), true, 40};
const APMPBMessageType kAPMPBSetting = {"Setting", 2, kSettingFlags, kSettingSlots, &apm_Setting_msg, sizeof(apm_Setting), true, 41};
const APMPBMessageType kAPMPBSnapshot = {"Snapshot", 2, kSnapshotFlags, kSnapshotSlots, &apm_Snapshot_msg, sizeof(apm_Snapshot), true, 42};
const APMPBMessageType kAPMPBStringFilter = {"StringFilter", 4, kStringFilterFlags, kStringFilterSlots, &apm_StringFilter_msg, sizeof(apm_StringFilter), true, 43};
const APMPBMessageType kAPMPBSztmSetting = {"SztmSetting", 5, kSztmSettingFlags, kSztmSettingSlots, &apm_SztmSetting_msg, sizeof(apm_SztmSetting), true, 44};
const APMPBMessageType kAPMPBUserAttribute = {"UserAttribute", 6, kUserAttributeFlags, kUserAttributeSlots, &apm_UserAttribute_msg, sizeof(apm_UserAttribute), true, 45};

namespace {
constexpr const APMPBMessageType* kAllTypes[] = {
    &kAPMPBAdCampaignInfo,
    &kAPMPBAppProperty,
    &kAPMPBAudience,
    &kAPMPBAudienceLeafFilterResult,
    &kAPMPBClientProperty,
    &kAPMPBConsentConfig,
    &kAPMPBConsentDefaultEntry,
    &kAPMPBConsentDelegationEntry,
    &kAPMPBConsentInfoExtra,
    &kAPMPBCorePlatformServiceEntry,
    &kAPMPBCustomProperty,
    &kAPMPBDataControl,
    &kAPMPBDeepLinkGadParamsEntry,
    &kAPMPBDynamicFilterResultTimestamp,
    &kAPMPBEvent,
    &kAPMPBEventConfig,
    &kAPMPBEventFilter,
    &kAPMPBEventParam,
    &kAPMPBExperiment,
    &kAPMPBExperimentRequest,
    &kAPMPBExperimentResponse,
    &kAPMPBFilter,
    &kAPMPBFlag,
    &kAPMPBLimitedDataEntry,
    &kAPMPBMarketReferrerGadParamsEntry,
    &kAPMPBMeasurementBatch,
    &kAPMPBMeasurementBundle,
    &kAPMPBMeasurementConfig,
    &kAPMPBNumberFilter,
    &kAPMPBOgtActivities,
    &kAPMPBOgtActivity,
    &kAPMPBOnDeviceMeasurementInfo,
    &kAPMPBOnDeviceMeasurementValue,
    &kAPMPBProgram,
    &kAPMPBPropertyFilter,
    &kAPMPBPsmSetting,
    &kAPMPBRegion,
    &kAPMPBResultData,
    &kAPMPBRuntimeEntity,
    &kAPMPBSdkResponse,
    &kAPMPBSequenceFilterResultTimestamp,
    &kAPMPBSetting,
    &kAPMPBSnapshot,
    &kAPMPBStringFilter,
    &kAPMPBSztmSetting,
    &kAPMPBUserAttribute,
};
}  // namespace

std::span<const APMPBMessageType* const> APMPBAllMessageTypes() { return kAllTypes; }

const APMPBMessageType* APMPBMessageTypeNamed(std::string_view name) {
  auto found = std::lower_bound(std::begin(kAllTypes), std::end(kAllTypes), name,
                                [](const APMPBMessageType* type, std::string_view key) { return type->name < key; });
  if (found == std::end(kAllTypes) || (*found)->name != name) return nullptr;
  return *found;
}
