// APMPBMessage<Type>: the one wrapper class template, instantiated for the 42
// message types that have a wrapper class (APMPBEvent, APMPBMeasurementBundle,
// ...). ConsentInfoExtra, LimitedDataEntry, MarketReferrerGadParamsEntry and
// Region live only inside their parents and have none.
//
//   auto event = APMPBEvent::initWithMessageInfo(nullptr);   // empty message
//   APMPBSetString(event.get(), APMPBEventSlot::kName, "_vs");
//   std::optional<platform::Bytes> bytes = event->protoBuffer();
//   auto back = APMPBEvent::initWithBuffer(*bytes);
//
// initWithMessageInfo copies the given instance (never adopts it) and yields
// nullptr for an instance of another type or a failed copy; initWithBuffer
// decodes (empty data gives an empty message) and yields nullptr for bytes
// that are not a valid encoding. Failures print only the routines' lines.
//
// Thread safety: an object is used by one thread at a time.
#pragma once

#include <array>
#include <concepts>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "measurement/messages/NANOMessageBase.h"

template <const APMPBMessageType& Type>
class APMPBMessage final : public NANOMessageBase {
  struct Owned {
    explicit Owned() = default;
  };

 public:
  static const APMPBMessageType& type() { return Type; }

  static std::shared_ptr<APMPBMessage> initWithMessageInfo(const APMPBMessageInfo* info) {
    APMPBMessageInfo* owned = nullptr;
    if (info == nullptr) {
      owned = Type.newMessageInfo();
    } else if (info->name != nullptr && std::strcmp(info->name, Type.name) == 0) {
      if (!Type.copyMessageInfo(&owned, info)) {
        if (owned != nullptr) Type.freeMessageInfo(owned);
        owned = nullptr;
      }
    }
    if (owned == nullptr) return nullptr;
    return std::make_shared<APMPBMessage>(Owned{}, owned);
  }

  // An empty message made in one block with room for about spare bytes of
  // the cells and items set on it (see APMPBMessageInfo.h): fewer
  // allocations for a message that is filled once, then read or encoded.
  static std::shared_ptr<APMPBMessage> initInBlock(size_t spare) {
    APMPBMessageInfo* owned = Type.newMessageInfoInBlock(spare);
    if (owned == nullptr) return nullptr;
    return std::make_shared<APMPBMessage>(Owned{}, owned);
  }

  static std::shared_ptr<APMPBMessage> initWithBuffer(std::span<const uint8_t> data) {
    APMPBMessageInfo* decoded = Type.newMessageInfo();
    if (decoded == nullptr) return nullptr;
    if (!Type.decode(data.data(), data.size(), decoded)) {
      Type.freeMessageInfo(decoded);
      return nullptr;
    }
    return std::make_shared<APMPBMessage>(Owned{}, decoded);
  }

  // Made only through the factories above (Owned cannot be named or made
  // outside); public so that the object and its count share one allocation.
  APMPBMessage(Owned, APMPBMessageInfo* owned) : m_messageInfo(owned) {}
  ~APMPBMessage() override { Type.freeMessageInfo(m_messageInfo); }
  APMPBMessage(const APMPBMessage&) = delete;
  APMPBMessage& operator=(const APMPBMessage&) = delete;

  const char* messageID() const override { return Type.name; }
  APMPBMessageInfo* messageInfo() const override { return m_messageInfo; }
  const APMPBMessageType& messageType() const override { return Type; }

  std::optional<platform::Bytes> protoBuffer() const override {
    platform::Bytes bytes;
    if (!Type.encodeInto(m_messageInfo, bytes)) return std::nullopt;
    return bytes;
  }

 private:
  APMPBMessageInfo* m_messageInfo;
};

// Whether a class is one of the wrapper classes (the compile-time form of
// "responds to initWithMessageInfo:" and "conforms to NANOMessageBase").
template <class W>
concept APMPBWrapperClass = std::derived_from<W, NANOMessageBase> && requires(const APMPBMessageInfo* info) {
  { W::initWithMessageInfo(info) } -> std::convertible_to<std::shared_ptr<W>>;
  { W::type() } -> std::same_as<const APMPBMessageType&>;
};

// A new wrapper of the type's class over a copy of the instance; nullptr for a
// type without a wrapper class, another type's instance or a failed copy.
std::shared_ptr<NANOMessageBase> APMPBWrapperForType(const APMPBMessageType& type, const APMPBMessageInfo* info);

using APMPBAdCampaignInfo = APMPBMessage<kAPMPBAdCampaignInfo>;
using APMPBAppProperty = APMPBMessage<kAPMPBAppProperty>;
using APMPBAudience = APMPBMessage<kAPMPBAudience>;
using APMPBAudienceLeafFilterResult = APMPBMessage<kAPMPBAudienceLeafFilterResult>;
using APMPBClientProperty = APMPBMessage<kAPMPBClientProperty>;
using APMPBConsentConfig = APMPBMessage<kAPMPBConsentConfig>;
using APMPBConsentDefaultEntry = APMPBMessage<kAPMPBConsentDefaultEntry>;
using APMPBConsentDelegationEntry = APMPBMessage<kAPMPBConsentDelegationEntry>;
using APMPBCorePlatformServiceEntry = APMPBMessage<kAPMPBCorePlatformServiceEntry>;
using APMPBCustomProperty = APMPBMessage<kAPMPBCustomProperty>;
using APMPBDataControl = APMPBMessage<kAPMPBDataControl>;
using APMPBDeepLinkGadParamsEntry = APMPBMessage<kAPMPBDeepLinkGadParamsEntry>;
using APMPBDynamicFilterResultTimestamp = APMPBMessage<kAPMPBDynamicFilterResultTimestamp>;
using APMPBEvent = APMPBMessage<kAPMPBEvent>;
using APMPBEventConfig = APMPBMessage<kAPMPBEventConfig>;
using APMPBEventFilter = APMPBMessage<kAPMPBEventFilter>;
using APMPBEventParam = APMPBMessage<kAPMPBEventParam>;
using APMPBExperiment = APMPBMessage<kAPMPBExperiment>;
using APMPBExperimentRequest = APMPBMessage<kAPMPBExperimentRequest>;
using APMPBExperimentResponse = APMPBMessage<kAPMPBExperimentResponse>;
using APMPBFilter = APMPBMessage<kAPMPBFilter>;
using APMPBFlag = APMPBMessage<kAPMPBFlag>;
using APMPBMeasurementBatch = APMPBMessage<kAPMPBMeasurementBatch>;
using APMPBMeasurementBundle = APMPBMessage<kAPMPBMeasurementBundle>;
using APMPBMeasurementConfig = APMPBMessage<kAPMPBMeasurementConfig>;
using APMPBNumberFilter = APMPBMessage<kAPMPBNumberFilter>;
using APMPBOgtActivities = APMPBMessage<kAPMPBOgtActivities>;
using APMPBOgtActivity = APMPBMessage<kAPMPBOgtActivity>;
using APMPBOnDeviceMeasurementInfo = APMPBMessage<kAPMPBOnDeviceMeasurementInfo>;
using APMPBOnDeviceMeasurementValue = APMPBMessage<kAPMPBOnDeviceMeasurementValue>;
using APMPBProgram = APMPBMessage<kAPMPBProgram>;
using APMPBPropertyFilter = APMPBMessage<kAPMPBPropertyFilter>;
using APMPBPsmSetting = APMPBMessage<kAPMPBPsmSetting>;
using APMPBResultData = APMPBMessage<kAPMPBResultData>;
using APMPBRuntimeEntity = APMPBMessage<kAPMPBRuntimeEntity>;
using APMPBSdkResponse = APMPBMessage<kAPMPBSdkResponse>;
using APMPBSequenceFilterResultTimestamp = APMPBMessage<kAPMPBSequenceFilterResultTimestamp>;
using APMPBSetting = APMPBMessage<kAPMPBSetting>;
using APMPBSztmSetting = APMPBMessage<kAPMPBSztmSetting>;
using APMPBSnapshot = APMPBMessage<kAPMPBSnapshot>;
using APMPBStringFilter = APMPBMessage<kAPMPBStringFilter>;
using APMPBUserAttribute = APMPBMessage<kAPMPBUserAttribute>;
