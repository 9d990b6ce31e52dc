// Slot names of the measurement wire messages: every slot of every type has a
// name, and code reads and writes fields through them, never by bare number:
//
//   APMPBSetString(event.get(), APMPBEventSlot::kName, "_vs");
//   APMPBGetInt64(bundle, APMPBMeasurementBundleSlot::kEndTimestamp);
//
// APMPB<Message>Slot::k<Name> is the slot index the field operations take
// (APMPBFieldAccess.h) and the wire writer (APMPBWireWriter.h). A field named
// in the schema carries that name (events, user_attributes, ...); a field
// whose use is known is named after it; a field that the system only carries
// through is named after its tag (kField15). MeasurementBundle's slots have
// their own order (see APMPBMessageTypes.cpp): its names are what keeps
// tags 7 and 26 apart.
//
// Each type's list, X(name, slot, tag), is in slot order; the tests hold every
// list against the type's slot table (each slot named once, with its tag and
// schema name). APMPB_SLOT_TABLES(X) names the 46 lists.
#pragma once

#include <cstdint>

#define APMPB_SLOT_CONSTANT(name, slot, tag) static constexpr int32_t k##name = slot;

// AdCampaignInfo
#define APMPB_SLOTS_AdCampaignInfo(X) \
  X(Gclid, 0, 1)                      \
  X(Gbraid, 1, 2)                     \
  X(GadSource, 2, 3)                  \
  X(Timestamp, 3, 4)                  \
  X(Field5, 4, 5)                     \
  X(Field6, 5, 6)                     \
  X(Field7, 6, 7)                     \
  X(Field8, 7, 8)                     \
  X(DeepLinkGadParams, 8, 9)          \
  X(MarketReferrerGadParams, 9, 10)
struct APMPBAdCampaignInfoSlot {
  APMPB_SLOTS_AdCampaignInfo(APMPB_SLOT_CONSTANT)
};

// AppProperty
#define APMPB_SLOTS_AppProperty(X) \
  X(Platform, 0, 1)                \
  X(Field2, 1, 2)                  \
  X(Field3, 2, 3)                  \
  X(Language, 3, 4)                \
  X(BundleIdentifier, 4, 5)        \
  X(FromAppStore, 5, 6)            \
  X(ExperimentClientVersion, 6, 7)
struct APMPBAppPropertySlot {
  APMPB_SLOTS_AppProperty(APMPB_SLOT_CONSTANT)
};

// Audience
#define APMPB_SLOTS_Audience(X) \
  X(AudienceID, 0, 1)           \
  X(PropertyFilters, 1, 2)      \
  X(EventFilters, 2, 3)         \
  X(Field4, 3, 4)               \
  X(Field5, 4, 5)
struct APMPBAudienceSlot {
  APMPB_SLOTS_Audience(APMPB_SLOT_CONSTANT)
};

// AudienceLeafFilterResult
#define APMPB_SLOTS_AudienceLeafFilterResult(X) \
  X(AudienceID, 0, 1)                           \
  X(CurrentData, 1, 2)                          \
  X(PreviousData, 2, 3)                         \
  X(NewAudience, 3, 4)
struct APMPBAudienceLeafFilterResultSlot {
  APMPB_SLOTS_AudienceLeafFilterResult(APMPB_SLOT_CONSTANT)
};

// ClientProperty
#define APMPB_SLOTS_ClientProperty(X) \
  X(SdkName, 0, 1)                    \
  X(Diversion, 1, 2)                  \
  X(SdkVersion, 2, 3)                 \
  X(AppID, 3, 4)                      \
  X(CustomProperties, 4, 5)
struct APMPBClientPropertySlot {
  APMPB_SLOTS_ClientProperty(APMPB_SLOT_CONSTANT)
};

// ConsentConfig
#define APMPB_SLOTS_ConsentConfig(X) \
  X(Defaults, 0, 1)                  \
  X(Delegations, 1, 2)               \
  X(CorePlatformServices, 2, 3)      \
  X(DMARegion, 3, 4)                 \
  X(EnforcedDefaults, 4, 5)
struct APMPBConsentConfigSlot {
  APMPB_SLOTS_ConsentConfig(APMPB_SLOT_CONSTANT)
};

// ConsentDefaultEntry
#define APMPB_SLOTS_ConsentDefaultEntry(X) \
  X(Type, 0, 1)                            \
  X(Status, 1, 2)                          \
  X(Field3, 2, 3)
struct APMPBConsentDefaultEntrySlot {
  APMPB_SLOTS_ConsentDefaultEntry(APMPB_SLOT_CONSTANT)
};

// ConsentDelegationEntry
#define APMPB_SLOTS_ConsentDelegationEntry(X) \
  X(Type, 0, 1)                               \
  X(DelegateType, 1, 2)
struct APMPBConsentDelegationEntrySlot {
  APMPB_SLOTS_ConsentDelegationEntry(APMPB_SLOT_CONSTANT)
};

// ConsentInfoExtra
#define APMPB_SLOTS_ConsentInfoExtra(X) X(LimitedDataModes, 0, 1)
struct APMPBConsentInfoExtraSlot {
  APMPB_SLOTS_ConsentInfoExtra(APMPB_SLOT_CONSTANT)
};

// CorePlatformServiceEntry
#define APMPB_SLOTS_CorePlatformServiceEntry(X) \
  X(Name, 0, 1)                                 \
  X(Field2, 1, 2)
struct APMPBCorePlatformServiceEntrySlot {
  APMPB_SLOTS_CorePlatformServiceEntry(APMPB_SLOT_CONSTANT)
};

// CustomProperty
#define APMPB_SLOTS_CustomProperty(X) \
  X(Key, 0, 1)                        \
  X(Value, 1, 2)
struct APMPBCustomPropertySlot {
  APMPB_SLOTS_CustomProperty(APMPB_SLOT_CONSTANT)
};

// DataControl
#define APMPB_SLOTS_DataControl(X) \
  X(Name, 0, 1)                    \
  X(OptOutRegions, 1, 2)           \
  X(Field3, 2, 3)
struct APMPBDataControlSlot {
  APMPB_SLOTS_DataControl(APMPB_SLOT_CONSTANT)
};

// DeepLinkGadParamsEntry
#define APMPB_SLOTS_DeepLinkGadParamsEntry(X) \
  X(Key, 0, 1)                                \
  X(Value, 1, 2)
struct APMPBDeepLinkGadParamsEntrySlot {
  APMPB_SLOTS_DeepLinkGadParamsEntry(APMPB_SLOT_CONSTANT)
};

// DynamicFilterResultTimestamp
#define APMPB_SLOTS_DynamicFilterResultTimestamp(X) \
  X(FilterID, 0, 1)                                 \
  X(Timestamp, 1, 2)
struct APMPBDynamicFilterResultTimestampSlot {
  APMPB_SLOTS_DynamicFilterResultTimestamp(APMPB_SLOT_CONSTANT)
};

// Event
#define APMPB_SLOTS_Event(X) \
  X(Params, 0, 1)            \
  X(Name, 1, 2)              \
  X(Timestamp, 2, 3)         \
  X(PreviousTimestamp, 3, 4) \
  X(Field5, 4, 5)            \
  X(EltValue, 5, 6)          \
  X(Field7, 6, 7)
struct APMPBEventSlot {
  APMPB_SLOTS_Event(APMPB_SLOT_CONSTANT)
};

// EventConfig
#define APMPB_SLOTS_EventConfig(X) \
  X(Name, 0, 1)                    \
  X(Blocklisted, 1, 2)             \
  X(CustomConversion, 2, 3)        \
  X(SamplingRate, 3, 4)
struct APMPBEventConfigSlot {
  APMPB_SLOTS_EventConfig(APMPB_SLOT_CONSTANT)
};

// EventFilter
#define APMPB_SLOTS_EventFilter(X) \
  X(FilterID, 0, 1)                \
  X(EventName, 1, 2)               \
  X(Filters, 2, 3)                 \
  X(Field4, 3, 4)                  \
  X(EventCountFilter, 4, 5)        \
  X(Dynamic, 5, 6)                 \
  X(Sequence, 6, 7)                \
  X(SessionScoped, 7, 8)
struct APMPBEventFilterSlot {
  APMPB_SLOTS_EventFilter(APMPB_SLOT_CONSTANT)
};

// EventParam
#define APMPB_SLOTS_EventParam(X) \
  X(Name, 0, 1)                   \
  X(StringValue, 1, 2)            \
  X(IntValue, 2, 3)               \
  X(Field4, 3, 4)                 \
  X(DoubleValue, 4, 5)            \
  X(ParamValue, 5, 6)
struct APMPBEventParamSlot {
  APMPB_SLOTS_EventParam(APMPB_SLOT_CONSTANT)
};

// Experiment
#define APMPB_SLOTS_Experiment(X) \
  X(ExperimentID, 0, 1)           \
  X(Flags, 1, 2)
struct APMPBExperimentSlot {
  APMPB_SLOTS_Experiment(APMPB_SLOT_CONSTANT)
};

// ExperimentRequest
#define APMPB_SLOTS_ExperimentRequest(X) \
  X(AppProperty, 0, 1)                   \
  X(ClientProperties, 1, 2)
struct APMPBExperimentRequestSlot {
  APMPB_SLOTS_ExperimentRequest(APMPB_SLOT_CONSTANT)
};

// ExperimentResponse
#define APMPB_SLOTS_ExperimentResponse(X) \
  X(Snapshots, 0, 1)                      \
  X(SdkResponses, 1, 2)
struct APMPBExperimentResponseSlot {
  APMPB_SLOTS_ExperimentResponse(APMPB_SLOT_CONSTANT)
};

// Filter
#define APMPB_SLOTS_Filter(X) \
  X(StringFilter, 0, 1)       \
  X(NumberFilter, 1, 2)       \
  X(Complement, 2, 3)         \
  X(ParamName, 3, 4)
struct APMPBFilterSlot {
  APMPB_SLOTS_Filter(APMPB_SLOT_CONSTANT)
};

// Flag
#define APMPB_SLOTS_Flag(X) \
  X(Name, 0, 1)             \
  X(IntValue, 1, 2)         \
  X(StringValue, 2, 3)      \
  X(DoubleValue, 3, 4)      \
  X(BoolValue, 4, 5)
struct APMPBFlagSlot {
  APMPB_SLOTS_Flag(APMPB_SLOT_CONSTANT)
};

// LimitedDataEntry
#define APMPB_SLOTS_LimitedDataEntry(X) \
  X(Field1, 0, 1)                       \
  X(Field2, 1, 2)
struct APMPBLimitedDataEntrySlot {
  APMPB_SLOTS_LimitedDataEntry(APMPB_SLOT_CONSTANT)
};

// MarketReferrerGadParamsEntry
#define APMPB_SLOTS_MarketReferrerGadParamsEntry(X) \
  X(Key, 0, 1)                                      \
  X(Value, 1, 2)
struct APMPBMarketReferrerGadParamsEntrySlot {
  APMPB_SLOTS_MarketReferrerGadParamsEntry(APMPB_SLOT_CONSTANT)
};

// MeasurementBatch
#define APMPB_SLOTS_MeasurementBatch(X) \
  X(Bundles, 0, 1)                      \
  X(Field7, 1, 7)                       \
  X(UploadSubdomain, 2, 8)              \
  X(Field9, 3, 9)
struct APMPBMeasurementBatchSlot {
  APMPB_SLOTS_MeasurementBatch(APMPB_SLOT_CONSTANT)
};

// MeasurementBundle
#define APMPB_SLOTS_MeasurementBundle(X) \
  X(ProtocolVersion, 0, 1)               \
  X(Events, 1, 2)                        \
  X(UserAttributes, 2, 3)                \
  X(UploadTimestamp, 3, 4)               \
  X(StartTimestamp, 4, 5)                \
  X(EndTimestamp, 5, 6)                  \
  X(PreviousBundleStartTimestamp, 6, 26) \
  X(PreviousBundleEndTimestamp, 7, 7)    \
  X(Platform, 8, 8)                      \
  X(OSVersion, 9, 9)                     \
  X(DeviceModel, 10, 10)                 \
  X(Language, 11, 11)                    \
  X(TimeZoneOffsetMinutes, 12, 12)       \
  X(InstallSource, 13, 13)               \
  X(AppID, 14, 14)                       \
  X(Field15, 15, 15)                     \
  X(AppVersion, 16, 16)                  \
  X(MetadataLibraryVersion, 17, 17)      \
  X(UploadLibraryVersion, 18, 18)        \
  X(ResettableDeviceID, 19, 19)          \
  X(VendorID, 20, 27)                    \
  X(LimitedAdTracking, 21, 20)           \
  X(AppInstanceID, 22, 21)               \
  X(Field22, 23, 22)                     \
  X(LastBundleIndex, 24, 23)             \
  X(MonitoringSamples, 25, 24)           \
  X(MeasurementAppID, 26, 25)            \
  X(Field28, 27, 28)                     \
  X(AudienceEvaluationResults, 28, 29)   \
  X(InstallationID, 29, 30)              \
  X(AppVersionMajor, 30, 31)             \
  X(AppVersionMinor, 31, 32)             \
  X(AppVersionRelease, 32, 33)           \
  X(Field34, 33, 34)                     \
  X(ConfigVersion, 34, 35)               \
  X(RetryCount, 35, 39)                  \
  X(Field41, 36, 41)                     \
  X(ExperimentIDs, 37, 45)               \
  X(Checksum, 38, 47)                    \
  X(Field50, 39, 50)                     \
  X(ConsentSignals, 40, 52)              \
  X(TrackingAuthorizationStatus, 41, 53) \
  X(Field55, 42, 55)                     \
  X(SessionStitchingToken, 43, 63)       \
  X(RedactedFields, 44, 64)              \
  X(EphemeralAppInstanceID, 45, 65)      \
  X(Field67, 46, 67)                     \
  X(ConsentDiagnostics, 47, 71)          \
  X(DMARegion, 48, 72)                   \
  X(CorePlatformServices, 49, 73)        \
  X(Field75, 50, 75)                     \
  X(LastDeliveryIndex, 51, 77)           \
  X(AdCampaignInfo, 52, 79)              \
  X(OnDeviceMeasurementInfo, 53, 84)     \
  X(ConsentInfoExtra, 54, 86)            \
  X(LinkedFeatures, 55, 87)
struct APMPBMeasurementBundleSlot {
  APMPB_SLOTS_MeasurementBundle(APMPB_SLOT_CONSTANT)
};

// MeasurementConfig
#define APMPB_SLOTS_MeasurementConfig(X) \
  X(Version, 0, 1)                       \
  X(AppID, 1, 2)                         \
  X(Field3, 2, 3)                        \
  X(Settings, 3, 4)                      \
  X(EventConfig, 4, 5)                   \
  X(Audiences, 5, 6)                     \
  X(Field7, 6, 7)                        \
  X(Field8, 7, 8)                        \
  X(DynamicEventEditing, 8, 9)           \
  X(DataControls, 9, 10)                 \
  X(UploadSubdomain, 10, 11)             \
  X(Field14, 11, 14)                     \
  X(ConsentConfig, 12, 15)               \
  X(PsmSetting, 13, 16)                  \
  X(SztmSetting, 14, 17)                 \
  X(Region, 15, 18)                      \
  X(ExperimentIDs, 16, 20)
struct APMPBMeasurementConfigSlot {
  APMPB_SLOTS_MeasurementConfig(APMPB_SLOT_CONSTANT)
};

// NumberFilter
#define APMPB_SLOTS_NumberFilter(X) \
  X(ComparisonType, 0, 1)           \
  X(MatchAsFloat, 1, 2)             \
  X(ComparisonValue, 2, 3)          \
  X(MinComparisonValue, 3, 4)       \
  X(MaxComparisonValue, 4, 5)
struct APMPBNumberFilterSlot {
  APMPB_SLOTS_NumberFilter(APMPB_SLOT_CONSTANT)
};

// OgtActivities
#define APMPB_SLOTS_OgtActivities(X) X(Activities, 0, 1)
struct APMPBOgtActivitiesSlot {
  APMPB_SLOTS_OgtActivities(APMPB_SLOT_CONSTANT)
};

// OgtActivity
#define APMPB_SLOTS_OgtActivity(X) \
  X(Name, 0, 1)                    \
  X(Data, 1, 2)
struct APMPBOgtActivitySlot {
  APMPB_SLOTS_OgtActivity(APMPB_SLOT_CONSTANT)
};

// OnDeviceMeasurementInfo
#define APMPB_SLOTS_OnDeviceMeasurementInfo(X) \
  X(ODM1Value, 0, 1)                           \
  X(ODM1SessionValue, 1, 2)                    \
  X(ODM2Value, 2, 3)                           \
  X(Field4, 3, 4)                              \
  X(ODM1GroupID, 4, 5)                         \
  X(Field6, 5, 6)
struct APMPBOnDeviceMeasurementInfoSlot {
  APMPB_SLOTS_OnDeviceMeasurementInfo(APMPB_SLOT_CONSTANT)
};

// OnDeviceMeasurementValue
#define APMPB_SLOTS_OnDeviceMeasurementValue(X) \
  X(Timestamp, 0, 1)                            \
  X(Value, 1, 2)
struct APMPBOnDeviceMeasurementValueSlot {
  APMPB_SLOTS_OnDeviceMeasurementValue(APMPB_SLOT_CONSTANT)
};

// Program
#define APMPB_SLOTS_Program(X) \
  X(Instructions, 0, 1)        \
  X(OgtActivities, 1, 2)
struct APMPBProgramSlot {
  APMPB_SLOTS_Program(APMPB_SLOT_CONSTANT)
};

// PropertyFilter
#define APMPB_SLOTS_PropertyFilter(X) \
  X(FilterID, 0, 1)                   \
  X(PropertyName, 1, 2)               \
  X(Filter, 2, 3)                     \
  X(Dynamic, 3, 4)                    \
  X(Sequence, 4, 5)                   \
  X(SessionScoped, 5, 6)
struct APMPBPropertyFilterSlot {
  APMPB_SLOTS_PropertyFilter(APMPB_SLOT_CONSTANT)
};

// PsmSetting
#define APMPB_SLOTS_PsmSetting(X) \
  X(PrefixEmail, 0, 1)            \
  X(PrefixPhone, 1, 2)            \
  X(SignInDelay, 2, 3)            \
  X(Field4, 3, 4)                 \
  X(Field5, 4, 5)
struct APMPBPsmSettingSlot {
  APMPB_SLOTS_PsmSetting(APMPB_SLOT_CONSTANT)
};

// Region
#define APMPB_SLOTS_Region(X) \
  X(Field1, 0, 1)             \
  X(Field2, 1, 2)
struct APMPBRegionSlot {
  APMPB_SLOTS_Region(APMPB_SLOT_CONSTANT)
};

// ResultData
#define APMPB_SLOTS_ResultData(X)  \
  X(Status, 0, 1)                  \
  X(Results, 1, 2)                 \
  X(DynamicFilterTimestamps, 2, 3) \
  X(SequenceFilterTimestamps, 3, 4)
struct APMPBResultDataSlot {
  APMPB_SLOTS_ResultData(APMPB_SLOT_CONSTANT)
};

// RuntimeEntity
#define APMPB_SLOTS_RuntimeEntity(X) \
  X(Kind, 0, 1)                      \
  X(Value, 1, 2)                     \
  X(FunctionName, 2, 3)              \
  X(StringValue, 3, 4)               \
  X(BoolValue, 4, 5)                 \
  X(NumberValue, 5, 6)
struct APMPBRuntimeEntitySlot {
  APMPB_SLOTS_RuntimeEntity(APMPB_SLOT_CONSTANT)
};

// SdkResponse
#define APMPB_SLOTS_SdkResponse(X) \
  X(SdkName, 0, 1)                 \
  X(ErrorCode, 1, 2)               \
  X(Snapshot, 2, 3)
struct APMPBSdkResponseSlot {
  APMPB_SLOTS_SdkResponse(APMPB_SLOT_CONSTANT)
};

// SequenceFilterResultTimestamp
#define APMPB_SLOTS_SequenceFilterResultTimestamp(X) \
  X(FilterID, 0, 1)                                  \
  X(EvalTimestamps, 1, 2)
struct APMPBSequenceFilterResultTimestampSlot {
  APMPB_SLOTS_SequenceFilterResultTimestamp(APMPB_SLOT_CONSTANT)
};

// Setting
#define APMPB_SLOTS_Setting(X) \
  X(Name, 0, 1)                \
  X(Value, 1, 2)
struct APMPBSettingSlot {
  APMPB_SLOTS_Setting(APMPB_SLOT_CONSTANT)
};

// Snapshot
#define APMPB_SLOTS_Snapshot(X) \
  X(SdkName, 0, 1)              \
  X(Experiments, 1, 2)
struct APMPBSnapshotSlot {
  APMPB_SLOTS_Snapshot(APMPB_SLOT_CONSTANT)
};

// StringFilter
#define APMPB_SLOTS_StringFilter(X) \
  X(MatchType, 0, 1)                \
  X(Expression, 1, 2)               \
  X(CaseSensitive, 2, 3)            \
  X(ExpressionList, 3, 4)
struct APMPBStringFilterSlot {
  APMPB_SLOTS_StringFilter(APMPB_SLOT_CONSTANT)
};

// SztmSetting
#define APMPB_SLOTS_SztmSetting(X) \
  X(UploadURL, 0, 1)               \
  X(ServerInfoHeader, 1, 2)        \
  X(ConsentUploadURL, 2, 3)        \
  X(RolloutPercentage, 3, 4)       \
  X(Field5, 4, 5)
struct APMPBSztmSettingSlot {
  APMPB_SLOTS_SztmSetting(APMPB_SLOT_CONSTANT)
};

// UserAttribute
#define APMPB_SLOTS_UserAttribute(X) \
  X(SetTimestamp, 0, 1)              \
  X(Name, 1, 2)                      \
  X(StringValue, 2, 3)               \
  X(IntValue, 3, 4)                  \
  X(Field5, 4, 5)                    \
  X(DoubleValue, 5, 6)
struct APMPBUserAttributeSlot {
  APMPB_SLOTS_UserAttribute(APMPB_SLOT_CONSTANT)
};

#define APMPB_SLOT_TABLES(X)       \
  X(AdCampaignInfo)                \
  X(AppProperty)                   \
  X(Audience)                      \
  X(AudienceLeafFilterResult)      \
  X(ClientProperty)                \
  X(ConsentConfig)                 \
  X(ConsentDefaultEntry)           \
  X(ConsentDelegationEntry)        \
  X(ConsentInfoExtra)              \
  X(CorePlatformServiceEntry)      \
  X(CustomProperty)                \
  X(DataControl)                   \
  X(DeepLinkGadParamsEntry)        \
  X(DynamicFilterResultTimestamp)  \
  X(Event)                         \
  X(EventConfig)                   \
  X(EventFilter)                   \
  X(EventParam)                    \
  X(Experiment)                    \
  X(ExperimentRequest)             \
  X(ExperimentResponse)            \
  X(Filter)                        \
  X(Flag)                          \
  X(LimitedDataEntry)              \
  X(MarketReferrerGadParamsEntry)  \
  X(MeasurementBatch)              \
  X(MeasurementBundle)             \
  X(MeasurementConfig)             \
  X(NumberFilter)                  \
  X(OgtActivities)                 \
  X(OgtActivity)                   \
  X(OnDeviceMeasurementInfo)       \
  X(OnDeviceMeasurementValue)      \
  X(Program)                       \
  X(PropertyFilter)                \
  X(PsmSetting)                    \
  X(Region)                        \
  X(ResultData)                    \
  X(RuntimeEntity)                 \
  X(SdkResponse)                   \
  X(SequenceFilterResultTimestamp) \
  X(Setting)                       \
  X(Snapshot)                      \
  X(StringFilter)                  \
  X(SztmSetting)                   \
  X(UserAttribute)
