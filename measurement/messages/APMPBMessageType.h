// APMPBMessageType: one measurement message type, its tables and its routines.
//
// Per type (static, read-only): the name (the protobuf message name), the slot
// count, one flag word and one APMPBSlot per slot (tag, schema field name,
// message type of message slots), the nanopb descriptor and the size of its generated
// structure. The routines are one table-driven set over the nanopb descriptor
// (pb_field_iter_begin/next), shared by all 46 types:
//
//  - initMessageInfo: name, flags, a zeroed slot array and an empty record in
//    every repeated slot; NO only for NULL.
//  - deallocMessageField: frees one field's contents (a repeated record stays,
//    emptied); an index outside the slots prints "<ERROR> NAME: Cannot
//    deallocate field N: Unknown field" and answers NO.
//  - freeMessageInfo: every field, every record, the slot array and the record
//    (what lives in a block goes with the block: see APMPBMessageInfo.h).
//  - copyMessageInfo: frees what *destination holds, stores a deep copy.
//  - decode: one pass over the buffer into a fresh instance. Strings keep their
//    first occurrence; repeated items are appended in input order, each decoded
//    from its own sub-stream of the buffer; nesting deeper than
//    kAPMPBMaxDecodeDepth fails, and so does input over kAPMPBMaxDecodeInput
//    bytes or a decode that would make more than kAPMPBMaxDecodeMemory (its
//    total work is bounded); a failed item fails the whole decode. Every
//    failure prints its "<ERROR> NAME decoder failed: ..." line on standard
//    output. On failure the instance keeps what was stored; the caller frees it.
//  - encode: the encoded length (buffer owned by the caller, free()), or -1.
//
// Thread safety: the tables are immutable; an instance is used by one thread
// at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "measurement/messages/APMPBMessageInfo.h"

struct APMPBSlot {
  uint32_t tag = 0;
  const char* fieldName = "";
  const APMPBMessageType* messageType = nullptr;  // message slots only
};

struct APMPBMessageType {
  const char* name;
  uint32_t slotCount;
  const APMPBFieldFlags* flags;   // slotCount words
  const APMPBSlot* slots;         // slotCount entries
  const pb_msgdesc_t* fields;     // the generated nanopb descriptor
  size_t structSize;              // sizeof the generated nanopb structure
  bool hasWrapper;                // a wrapper class exists (42 of the 46)
  uint32_t ordinal;               // position in APMPBAllMessageTypes()

  bool initMessageInfo(APMPBMessageInfo* info) const;
  bool deallocMessageField(APMPBMessageInfo* info, uint32_t slot) const;
  bool freeMessageInfo(APMPBMessageInfo* info) const;
  bool copyMessageInfo(APMPBMessageInfo** destination, const APMPBMessageInfo* source) const;
  bool decode(const uint8_t* buffer, size_t length, APMPBMessageInfo* info) const;
  int32_t encode(const APMPBMessageInfo* info, uint8_t** buffer) const;
  // The same encoding into a byte vector (resized to the length); false when
  // the encoder fails.
  bool encodeInto(const APMPBMessageInfo* info, std::vector<uint8_t>& bytes) const;

  // A zeroed record run through initMessageInfo; NULL when memory runs out.
  APMPBMessageInfo* newMessageInfo() const;
  // The same record at the start of a block with room for spare more bytes
  // of the cells and items made for it (see APMPBMessageInfo.h); freeing it
  // frees the block.
  APMPBMessageInfo* newMessageInfoInBlock(size_t spare) const;
  // A record for an item or sub-message of owner: in owner's block while
  // room lasts, else of its own.
  APMPBMessageInfo* newMessageInfoFor(const APMPBMessageInfo* owner) const;
  // Whether the type has a repeated slot, or a singular sub-message whose type
  // has one (the types that decode in two passes in the wire format's
  // reference implementation).
  bool hasArrays() const;
};

// Every type, in name order.
std::span<const APMPBMessageType* const> APMPBAllMessageTypes();
// The type of that message name, or NULL.
const APMPBMessageType* APMPBMessageTypeNamed(std::string_view name);

// The 46 types.
extern const APMPBMessageType kAPMPBAdCampaignInfo;
extern const APMPBMessageType kAPMPBAppProperty;
extern const APMPBMessageType kAPMPBAudience;
extern const APMPBMessageType kAPMPBAudienceLeafFilterResult;
extern const APMPBMessageType kAPMPBClientProperty;
extern const APMPBMessageType kAPMPBConsentConfig;
extern const APMPBMessageType kAPMPBConsentDefaultEntry;
extern const APMPBMessageType kAPMPBConsentDelegationEntry;
extern const APMPBMessageType kAPMPBConsentInfoExtra;
extern const APMPBMessageType kAPMPBCorePlatformServiceEntry;
extern const APMPBMessageType kAPMPBCustomProperty;
extern const APMPBMessageType kAPMPBDataControl;
extern const APMPBMessageType kAPMPBDeepLinkGadParamsEntry;
extern const APMPBMessageType kAPMPBDynamicFilterResultTimestamp;
extern const APMPBMessageType kAPMPBEvent;
extern const APMPBMessageType kAPMPBEventConfig;
extern const APMPBMessageType kAPMPBEventFilter;
extern const APMPBMessageType kAPMPBEventParam;
extern const APMPBMessageType kAPMPBExperiment;
extern const APMPBMessageType kAPMPBExperimentRequest;
extern const APMPBMessageType kAPMPBExperimentResponse;
extern const APMPBMessageType kAPMPBFilter;
extern const APMPBMessageType kAPMPBFlag;
extern const APMPBMessageType kAPMPBLimitedDataEntry;
extern const APMPBMessageType kAPMPBMarketReferrerGadParamsEntry;
extern const APMPBMessageType kAPMPBMeasurementBatch;
extern const APMPBMessageType kAPMPBMeasurementBundle;
extern const APMPBMessageType kAPMPBMeasurementConfig;
extern const APMPBMessageType kAPMPBNumberFilter;
extern const APMPBMessageType kAPMPBOgtActivities;
extern const APMPBMessageType kAPMPBOgtActivity;
extern const APMPBMessageType kAPMPBOnDeviceMeasurementInfo;
extern const APMPBMessageType kAPMPBOnDeviceMeasurementValue;
extern const APMPBMessageType kAPMPBProgram;
extern const APMPBMessageType kAPMPBPropertyFilter;
extern const APMPBMessageType kAPMPBPsmSetting;
extern const APMPBMessageType kAPMPBRegion;
extern const APMPBMessageType kAPMPBResultData;
extern const APMPBMessageType kAPMPBRuntimeEntity;
extern const APMPBMessageType kAPMPBSdkResponse;
extern const APMPBMessageType kAPMPBSequenceFilterResultTimestamp;
extern const APMPBMessageType kAPMPBSetting;
extern const APMPBMessageType kAPMPBSztmSetting;
extern const APMPBMessageType kAPMPBSnapshot;
extern const APMPBMessageType kAPMPBStringFilter;
extern const APMPBMessageType kAPMPBUserAttribute;
