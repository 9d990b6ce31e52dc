#include "measurement/messages/APMPBMessage.h"

namespace {

using Factory = std::shared_ptr<NANOMessageBase> (*)(const APMPBMessageInfo*);

struct WrapperEntry {
  const APMPBMessageType* type;
  Factory make;
};

template <class W>
std::shared_ptr<NANOMessageBase> make(const APMPBMessageInfo* info) {
  return W::initWithMessageInfo(info);
}

template <class... W>
std::array<WrapperEntry, sizeof...(W)> entries() {
  return {WrapperEntry{&W::type(), &make<W>}...};
}

const auto kWrappers = entries<
    APMPBAdCampaignInfo, APMPBAppProperty, APMPBAudience, APMPBAudienceLeafFilterResult, APMPBClientProperty,
    APMPBConsentConfig, APMPBConsentDefaultEntry, APMPBConsentDelegationEntry, APMPBCorePlatformServiceEntry,
    APMPBCustomProperty, APMPBDataControl, APMPBDeepLinkGadParamsEntry, APMPBDynamicFilterResultTimestamp, APMPBEvent,
    APMPBEventConfig, APMPBEventFilter, APMPBEventParam, APMPBExperiment, APMPBExperimentRequest,
    APMPBExperimentResponse, APMPBFilter, APMPBFlag, APMPBMeasurementBatch, APMPBMeasurementBundle,
    APMPBMeasurementConfig, APMPBNumberFilter, APMPBOgtActivities, APMPBOgtActivity, APMPBOnDeviceMeasurementInfo,
    APMPBOnDeviceMeasurementValue, APMPBProgram, APMPBPropertyFilter, APMPBPsmSetting, APMPBResultData,
    APMPBRuntimeEntity, APMPBSdkResponse, APMPBSequenceFilterResultTimestamp, APMPBSetting, APMPBSztmSetting,
    APMPBSnapshot, APMPBStringFilter, APMPBUserAttribute>();

}  // namespace

std::shared_ptr<NANOMessageBase> APMPBWrapperForType(const APMPBMessageType& type, const APMPBMessageInfo* info) {
  for (const WrapperEntry& entry : kWrappers) {
    if (entry.type == &type) return entry.make(info);
  }
  return nullptr;
}
