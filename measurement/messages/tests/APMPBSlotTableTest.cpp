// The hand-written slot tables against the generated nanopb descriptors and
// the published shape of every type (slot count, repeated slots, message
// slots, wrapper class).
#include <gtest/gtest.h>
#include <pb_common.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessage.h"
#include "measurement/messages/APMPBMessageType.h"
#include "measurement/messages/APMPBSlots.h"

namespace {

struct Shape {
  const char* name;
  bool wrapper;
  uint32_t slots;
  std::vector<uint32_t> repeated;
  std::vector<uint32_t> messages;
};

const std::vector<Shape> kShapes = {
    {"AdCampaignInfo", true, 10, {8, 9}, {}},
    {"AppProperty", true, 7, {}, {}},
    {"Audience", true, 5, {1, 2}, {}},
    {"AudienceLeafFilterResult", true, 4, {}, {1, 2}},
    {"ClientProperty", true, 5, {4}, {}},
    {"ConsentConfig", true, 5, {0, 1, 2, 4}, {}},
    {"ConsentDefaultEntry", true, 3, {}, {}},
    {"ConsentDelegationEntry", true, 2, {}, {}},
    {"ConsentInfoExtra", false, 1, {0}, {}},
    {"CorePlatformServiceEntry", true, 2, {}, {}},
    {"CustomProperty", true, 2, {}, {}},
    {"DataControl", true, 3, {1}, {}},
    {"DeepLinkGadParamsEntry", true, 2, {}, {}},
    {"DynamicFilterResultTimestamp", true, 2, {}, {}},
    {"Event", true, 7, {0}, {}},
    {"EventConfig", true, 4, {}, {}},
    {"EventFilter", true, 8, {2}, {4}},
    {"EventParam", true, 6, {5}, {}},
    {"Experiment", true, 2, {1}, {}},
    {"ExperimentRequest", true, 2, {1}, {0}},
    {"ExperimentResponse", true, 2, {0, 1}, {}},
    {"Filter", true, 4, {}, {0, 1}},
    {"Flag", true, 5, {}, {}},
    {"LimitedDataEntry", false, 2, {}, {}},
    {"MarketReferrerGadParamsEntry", false, 2, {}, {}},
    {"MeasurementBatch", true, 4, {0}, {}},
    {"MeasurementBundle", true, 56, {1, 2, 28, 37, 44}, {52, 53, 54}},
    {"MeasurementConfig", true, 17, {3, 4, 5, 8, 9, 16}, {12, 13, 14, 15}},
    {"NumberFilter", true, 5, {}, {}},
    {"OgtActivities", true, 1, {0}, {}},
    {"OgtActivity", true, 2, {1}, {}},
    {"OnDeviceMeasurementInfo", true, 6, {}, {0, 1, 2, 3, 4, 5}},
    {"OnDeviceMeasurementValue", true, 2, {}, {}},
    {"Program", true, 2, {0}, {1}},
    {"PropertyFilter", true, 6, {}, {2}},
    {"PsmSetting", true, 5, {}, {}},
    {"Region", false, 2, {}, {}},
    {"ResultData", true, 4, {0, 1, 2, 3}, {}},
    {"RuntimeEntity", true, 6, {1}, {}},
    {"SdkResponse", true, 3, {}, {2}},
    {"SequenceFilterResultTimestamp", true, 2, {1}, {}},
    {"Setting", true, 2, {}, {}},
    {"SztmSetting", true, 5, {}, {}},
    {"Snapshot", true, 2, {1}, {}},
    {"StringFilter", true, 4, {3}, {}},
    {"UserAttribute", true, 6, {}, {}},
};

// The nanopb field type that carries each flag word's type.
pb_type_t expectedLType(APMPBFieldFlags flags) {
  if (flags & kAPMPBFieldBool) return PB_LTYPE_BOOL;
  if (flags & (kAPMPBFieldEnum | kAPMPBFieldUInt32 | kAPMPBFieldUInt64)) return PB_LTYPE_UVARINT;
  if (flags & (kAPMPBFieldInt32 | kAPMPBFieldInt64)) return PB_LTYPE_VARINT;
  if (flags & kAPMPBFieldFloat) return PB_LTYPE_FIXED32;
  if (flags & kAPMPBFieldDouble) return PB_LTYPE_FIXED64;
  if (flags & kAPMPBFieldString) return PB_LTYPE_STRING;
  if (flags & kAPMPBFieldBytes) return PB_LTYPE_BYTES;
  return PB_LTYPE_SUBMESSAGE;
}

TEST(APMPBSlotTable, EveryTypeHasItsPublishedShape) {
  ASSERT_EQ(APMPBAllMessageTypes().size(), kShapes.size());
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    const APMPBMessageType* type = APMPBMessageTypeNamed(shape.name);
    ASSERT_NE(type, nullptr);
    EXPECT_STREQ(type->name, shape.name);
    EXPECT_EQ(type->hasWrapper, shape.wrapper);
    ASSERT_EQ(type->slotCount, shape.slots);
    std::vector<uint32_t> repeated, messages;
    for (uint32_t slot = 0; slot < type->slotCount; ++slot) {
      const APMPBFieldFlags flags = type->flags[slot];
      // One label bit and one type bit.
      EXPECT_EQ(__builtin_popcount(flags & 0xA), 1) << slot;
      EXPECT_EQ(__builtin_popcount(flags & ~0xAu), 1) << slot;
      if (flags & kAPMPBFieldRepeated) repeated.push_back(slot);
      if ((flags & kAPMPBFieldMessage) && !(flags & kAPMPBFieldRepeated)) messages.push_back(slot);
      EXPECT_EQ((flags & kAPMPBFieldMessage) != 0, type->slots[slot].messageType != nullptr) << slot;
    }
    EXPECT_EQ(repeated, shape.repeated);
    EXPECT_EQ(messages, shape.messages);
  }
  EXPECT_EQ(APMPBMessageTypeNamed("Nothing"), nullptr);
  for (uint32_t index = 0; index < APMPBAllMessageTypes().size(); ++index) {
    EXPECT_EQ(APMPBAllMessageTypes()[index]->ordinal, index);
  }
}

// Every slot against the generated descriptor: the tag exists once, the label,
// the wire type and the sub-message type agree, and every string, bytes and
// repeated field is a callback (static or pointer storage would bound it by
// the library's 16-bit sizes); scalars and singular sub-messages are static.
TEST(APMPBSlotTable, SlotsMatchTheGeneratedDescriptors) {
  for (const APMPBMessageType* type : APMPBAllMessageTypes()) {
    SCOPED_TRACE(type->name);
    std::vector<uint8_t> scratch(type->structSize);
    std::map<uint32_t, pb_field_iter_t> byTag;
    pb_field_iter_t iter;
    ASSERT_TRUE(pb_field_iter_begin(&iter, type->fields, scratch.data()));
    do {
      byTag[iter.tag] = iter;
    } while (pb_field_iter_next(&iter));
    ASSERT_EQ(byTag.size(), type->slotCount);
    // The decoder skips nanopb's default pass over its zeroed structures.
    EXPECT_EQ(type->fields->default_value, nullptr);
    std::set<uint32_t> tags;
    for (uint32_t slot = 0; slot < type->slotCount; ++slot) {
      SCOPED_TRACE(slot);
      const APMPBFieldFlags flags = type->flags[slot];
      const uint32_t tag = type->slots[slot].tag;
      ASSERT_TRUE(tags.insert(tag).second);
      ASSERT_TRUE(byTag.count(tag));
      const pb_field_iter_t& field = byTag[tag];
      EXPECT_EQ(PB_HTYPE(field.type) == PB_HTYPE_REPEATED, (flags & kAPMPBFieldRepeated) != 0);
      EXPECT_EQ(PB_LTYPE(field.type), expectedLType(flags));
      const bool callback = (flags & (kAPMPBFieldRepeated | kAPMPBFieldString | kAPMPBFieldBytes)) != 0;
      EXPECT_EQ(PB_ATYPE(field.type), callback ? PB_ATYPE_CALLBACK : PB_ATYPE_STATIC);
      if (flags & kAPMPBFieldMessage) {
        EXPECT_EQ(field.submsg_desc, type->slots[slot].messageType->fields);
      }
      if (!(flags & kAPMPBFieldRepeated) && !callback) {
        EXPECT_EQ(PB_HTYPE(field.type), PB_HTYPE_OPTIONAL);
      }
    }
  }
}

TEST(APMPBSlotTable, BundleSlotsFollowTheirOwnOrder) {
  std::vector<uint32_t> tags;
  for (uint32_t slot = 0; slot < kAPMPBMeasurementBundle.slotCount; ++slot) {
    tags.push_back(kAPMPBMeasurementBundle.slots[slot].tag);
  }
  const std::vector<uint32_t> expected = {1,  2,  3,  4,  5,  6,  26, 7,  8,  9,  10, 11, 12, 13,
                                          14, 15, 16, 17, 18, 19, 27, 20, 21, 22, 23, 24, 25, 28,
                                          29, 30, 31, 32, 33, 34, 35, 39, 41, 45, 47, 50, 52, 53,
                                          55, 63, 64, 65, 67, 71, 72, 73, 75, 77, 79, 84, 86, 87};
  EXPECT_EQ(tags, expected);
  // The Part's named slots.
  EXPECT_STREQ(kAPMPBMeasurementBundle.slots[1].fieldName, "events");
  EXPECT_EQ(kAPMPBMeasurementBundle.flags[37], kAPMPBFieldRepeated | kAPMPBFieldUInt32);
  EXPECT_EQ(kAPMPBMeasurementBundle.flags[41], kAPMPBFieldSingular | kAPMPBFieldEnum);
  EXPECT_EQ(kAPMPBMeasurementBundle.flags[44], kAPMPBFieldRepeated | kAPMPBFieldString);
}

struct SlotName {
  int32_t slot;
  uint32_t tag;
  std::string name;
};
struct NamedTable {
  const APMPBMessageType* type;
  std::vector<SlotName> names;
};
#define TEST_SLOT_NAME(name, slot, tag) {slot, tag, #name},
#define TEST_NAMED_TABLE(message) {&kAPMPB##message, {APMPB_SLOTS_##message(TEST_SLOT_NAME)}},
const std::vector<NamedTable> kNamedTables = {APMPB_SLOT_TABLES(TEST_NAMED_TABLE)};

std::string lowerWithoutUnderscores(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c != '_') result.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return result;
}

// Every slot of every type has one name, in slot order, with the table's tag;
// a schema field name is the slot's name; only a field without one is named
// after its tag.
TEST(APMPBSlotTable, SlotNamesMatchTheTables) {
  std::set<const APMPBMessageType*> named;
  for (const NamedTable& table : kNamedTables) {
    SCOPED_TRACE(table.type->name);
    EXPECT_TRUE(named.insert(table.type).second);
    ASSERT_EQ(table.names.size(), table.type->slotCount);
    for (size_t index = 0; index < table.names.size(); ++index) {
      const SlotName& slot = table.names[index];
      SCOPED_TRACE(slot.name);
      EXPECT_EQ(slot.slot, static_cast<int32_t>(index));
      EXPECT_EQ(slot.tag, table.type->slots[index].tag);
      const std::string fieldName = table.type->slots[index].fieldName;
      const std::string tagName = "field_" + std::to_string(slot.tag);
      if (fieldName == tagName) {
        if (slot.name.starts_with("Field")) {
          EXPECT_EQ(slot.name, "Field" + std::to_string(slot.tag));
        }
      } else {
        EXPECT_EQ(lowerWithoutUnderscores(slot.name), lowerWithoutUnderscores(fieldName));
      }
    }
  }
  EXPECT_EQ(named.size(), APMPBAllMessageTypes().size());
  // The two bundle slots whose order differs from their tags'.
  EXPECT_EQ(kAPMPBMeasurementBundle.slots[APMPBMeasurementBundleSlot::kPreviousBundleStartTimestamp].tag, 26u);
  EXPECT_EQ(kAPMPBMeasurementBundle.slots[APMPBMeasurementBundleSlot::kPreviousBundleEndTimestamp].tag, 7u);
}

TEST(APMPBSlotTable, WrapperClassesCarryTheirTypes) {
  static_assert(APMPBWrapperClass<APMPBEvent>);
  static_assert(!APMPBWrapperClass<NANOMessageBase>);
  static_assert(!APMPBWrapperClass<int>);
  EXPECT_EQ(&APMPBEvent::type(), &kAPMPBEvent);
  EXPECT_EQ(&APMPBMeasurementBundle::type(), &kAPMPBMeasurementBundle);
  for (const APMPBMessageType* type : APMPBAllMessageTypes()) {
    std::shared_ptr<NANOMessageBase> wrapper = APMPBWrapperForType(*type, nullptr);
    EXPECT_EQ(wrapper != nullptr, type->hasWrapper) << type->name;
    if (wrapper) {
      EXPECT_EQ(wrapper->messageID(), type->name);
      EXPECT_EQ(wrapper->messageInfo()->name, type->name);
    }
  }
}

}  // namespace
