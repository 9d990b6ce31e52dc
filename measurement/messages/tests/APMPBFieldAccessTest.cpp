// The field operations: presence, kinds, arrays, sub-messages, and the lines
// written for uninitialised messages, wrong kinds and slots outside the type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/tests/WireTestSupport.h"
#include "platform/log/ConsoleCapture.h"
#include "testing/LogCapture.h"

namespace {

class APMPBFieldAccess : public ::testing::Test {
 protected:
  std::vector<std::string> takeLines() {
    std::vector<std::string> lines = logs.texts();
    logs.clear();
    return lines;
  }

  testkit::LogCapture logs;
  platform::ConsoleCapture console;
};

TEST_F(APMPBFieldAccess, PresenceAndScalarKinds) {
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  EXPECT_TRUE(APMPBHasField(event.get(), APMPBEventSlot::kParams));      // repeated, empty
  EXPECT_FALSE(APMPBHasField(event.get(), APMPBEventSlot::kTimestamp));  // never set
  APMPBSetInt64(event.get(), APMPBEventSlot::kTimestamp, -5);
  EXPECT_TRUE(APMPBHasField(event.get(), APMPBEventSlot::kTimestamp));
  EXPECT_EQ(APMPBGetInt64(event.get(), APMPBEventSlot::kTimestamp), -5);
  APMPBClearField(event.get(), APMPBEventSlot::kTimestamp);
  EXPECT_FALSE(APMPBHasField(event.get(), APMPBEventSlot::kTimestamp));
  EXPECT_EQ(APMPBGetInt64(event.get(), APMPBEventSlot::kTimestamp), 0);

  APMPBSetString(event.get(), APMPBEventSlot::kName, "_vs");
  EXPECT_EQ(APMPBGetString(event.get(), APMPBEventSlot::kName), "_vs");
  APMPBSetString(event.get(), APMPBEventSlot::kName, std::nullopt);
  EXPECT_FALSE(APMPBHasField(event.get(), APMPBEventSlot::kName));
  EXPECT_EQ(event->protoBuffer(), std::optional<platform::Bytes>(platform::Bytes{}));

  auto config = APMPBEventConfig::initWithMessageInfo(nullptr);
  EXPECT_FALSE(APMPBGetBool(config.get(), APMPBEventConfigSlot::kBlocklisted));
  APMPBSetBool(config.get(), APMPBEventConfigSlot::kBlocklisted, true);
  EXPECT_TRUE(APMPBGetBool(config.get(), APMPBEventConfigSlot::kBlocklisted));

  // int32 reads enum and uint32-kind slots as their 32 bits.
  auto batch = APMPBMeasurementBatch::initWithMessageInfo(nullptr);
  APMPBSetInt32(batch.get(), APMPBMeasurementBatchSlot::kField9, -7);
  EXPECT_EQ(APMPBGetInt32(batch.get(), APMPBMeasurementBatchSlot::kField9), -7);

  // Invalid UTF-8 reads as absent.
  auto invalid = APMPBEvent::initWithBuffer(wiretest::fromHex("1202c328"));
  EXPECT_TRUE(APMPBHasField(invalid.get(), APMPBEventSlot::kName));
  EXPECT_EQ(APMPBGetString(invalid.get(), APMPBEventSlot::kName), std::nullopt);
  EXPECT_EQ(APMPBGetBytes(invalid.get(), APMPBEventSlot::kName), (platform::Bytes{0xc3, 0x28}));
  EXPECT_TRUE(takeLines().empty());
}

// Each wrong use writes its line and leaves the message as it was.
TEST_F(APMPBFieldAccess, WrongKindsAndSlotsOutsideTheType) {
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBSetInt64(event.get(), 2, 9);
  const std::string before = wiretest::dump(event->messageInfo());
  struct Case {
    const char* name;
    std::function<void()> run;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"int32 on int64", [&] { EXPECT_EQ(APMPBGetInt32(event.get(), 2), 0); },
       "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 2"},
      {"index at the slot count", [&] { APMPBSetInt32(event.get(), 7, 1); },
       "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: 7"},
      {"index -1", [&] { EXPECT_EQ(APMPBGetInt32(event.get(), -1), 0); },
       "<Nano/Failure> Field type isn't a scalar INT32. Message: Event, field ID: -1"},
      {"bool on int64", [&] { APMPBSetBool(event.get(), 2, true); },
       "<Nano/Failure> Field type isn't a scalar BOOL. Message: Event, field ID: 2"},
      {"int64 on string", [&] { EXPECT_EQ(APMPBGetInt64(event.get(), 1), 0); },
       "<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 1"},
      {"float on double", [&] { APMPBSetFloat(event.get(), 2, 1); },
       "<Nano/Failure> Field type isn't a scalar FLOAT. Message: Event, field ID: 2"},
      {"double on int64", [&] { EXPECT_EQ(APMPBGetDouble(event.get(), 2), 0); },
       "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: Event, field ID: 2"},
      {"string on repeated", [&] { APMPBSetString(event.get(), 0, "x"); },
       "<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 0"},
      {"bytes on int64", [&] { EXPECT_EQ(APMPBGetBytes(event.get(), 2), std::nullopt); },
       "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 2"},
      {"set bytes on int64", [&] { APMPBSetBytes(event.get(), 2, platform::Bytes{1}); },
       "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 2"},
      {"message on string", [&] { EXPECT_EQ(APMPBGetMessage<APMPBEventParam>(event.get(), 1), nullptr); },
       "<Nano/Failure> Field type isn't a scalar MESSAGE. Message: Event, field ID: 1"},
      {"array on singular", [&] { EXPECT_EQ(APMPBGetArray(event.get(), 1), std::nullopt); },
       "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1"},
      {"set array on singular", [&] { APMPBSetArray(event.get(), 2, platform::Array{}); },
       "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 2"},
      {"array at the slot count", [&] { EXPECT_EQ(APMPBGetArray(event.get(), 7), std::nullopt); },
       "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.run();
    EXPECT_EQ(takeLines(), std::vector<std::string>{c.line});
    EXPECT_EQ(wiretest::dump(event->messageInfo()), before);
  }
  // HasField and ClearField answer NO / do nothing outside the slots.
  EXPECT_FALSE(APMPBHasField(event.get(), 7));
  EXPECT_FALSE(APMPBHasField(event.get(), -1));
  APMPBClearField(event.get(), -1);
  APMPBClearField(event.get(), 7);
  EXPECT_TRUE(takeLines().empty());
  EXPECT_EQ(wiretest::dump(event->messageInfo()), before);
}

TEST_F(APMPBFieldAccess, UninitialisedMessagesReadAsAbsent) {
  NANOMessageBase* none = nullptr;
  EXPECT_FALSE(APMPBHasField(none, 0));
  APMPBClearField(none, 0);
  EXPECT_FALSE(APMPBGetBool(none, 0));
  APMPBSetBool(none, 0, true);
  EXPECT_EQ(APMPBGetInt32(none, 0), 0);
  APMPBSetInt32(none, 0, 1);
  EXPECT_EQ(APMPBGetInt64(none, 0), 0);
  APMPBSetInt64(none, 0, 1);
  EXPECT_EQ(APMPBGetFloat(none, 0), 0);
  APMPBSetFloat(none, 0, 1);
  EXPECT_EQ(APMPBGetDouble(none, 0), 0);
  APMPBSetDouble(none, 0, 1);
  EXPECT_EQ(APMPBGetString(none, 0), std::nullopt);
  APMPBSetString(none, 0, "x");
  EXPECT_EQ(APMPBGetBytes(none, 0), std::nullopt);
  APMPBSetBytes(none, 0, std::nullopt);
  EXPECT_EQ(APMPBGetMessage<APMPBEvent>(none, 0), nullptr);
  APMPBSetMessage(none, 0, nullptr);
  EXPECT_EQ(APMPBGetArray(none, 0), std::nullopt);
  APMPBSetArray(none, 0, std::nullopt);
  std::vector<std::string> expected = {
      "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name (null)",
      "ProtocolBuffer message hasn't been initialized. ClearField can't be performed"};
  for (const char* op : {"GetBool", "SetBool", "GetInt32", "SetInt32", "GetInt64", "SetInt64", "GetFloat", "SetFloat",
                         "GetDouble", "SetDouble", "GetString", "SetString", "GetBytes", "SetBytes", "GetMessage",
                         "SetMessage", "GetArray", "SetArray"}) {
    expected.push_back(std::string("ProtocolBuffer message hasn't been initialized. ") + op + " can't be performed");
  }
  EXPECT_EQ(takeLines(), expected);
}

TEST_F(APMPBFieldAccess, Arrays) {
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields)->size(), 0u);

  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields, platform::Array{"a", "b"});
  EXPECT_EQ(platform::Value(*APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields)),
            platform::Value::array({"a", "b"}));
  // Numbers into uint32 items keep their low 32 bits; int64 items take any number.
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kExperimentIDs,
                platform::Array{int64_t(1) << 32 | 5, true, 2.9});
  EXPECT_EQ(platform::Value(*APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kExperimentIDs)),
            platform::Value::array({5u, 1u, 2u}));

  struct Case {
    int32_t slot;
    platform::Array array;
    const char* line;
  };
  const std::vector<Case> cases = {
      {APMPBMeasurementBundleSlot::kRedactedFields, platform::Array{"a", "b", 3},
       "<ERROR> Invalid object type. String fields expect NSString. Type: NSNumber"},
      {APMPBMeasurementBundleSlot::kExperimentIDs, platform::Array{1, "2"},
       "<ERROR> Invalid object type. Int32 fields expect NSNumber. Type: NSString"},
      {APMPBMeasurementBundleSlot::kEvents,
       platform::Array{APMPBObjectValue(APMPBEvent::initWithMessageInfo(nullptr)),
                       APMPBObjectValue(APMPBEventParam::initWithMessageInfo(nullptr))},
       "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: APMPBEventParam"},
      {APMPBMeasurementBundleSlot::kEvents, platform::Array{platform::Value::data(platform::Bytes{1})},
       "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: NSData"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    APMPBSetArray(bundle.get(), c.slot, c.array);
    EXPECT_EQ(takeLines(), std::vector<std::string>{c.line});
    EXPECT_EQ(APMPBGetArray(bundle.get(), c.slot)->size(), 0u);
    EXPECT_TRUE(APMPBHasField(bundle.get(), c.slot));
  }

  // Message items come back as copies of the given class; another class gives none.
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBSetString(event.get(), APMPBEventSlot::kName, "e");
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kEvents, platform::Array{APMPBObjectValue(event)});
  APMPBSetString(event.get(), APMPBEventSlot::kName, "changed");
  std::optional<platform::Array> events = APMPBGetArray<APMPBEvent>(bundle.get(), APMPBMeasurementBundleSlot::kEvents);
  ASSERT_EQ(events->size(), 1u);
  EXPECT_EQ(APMPBGetString(APMPBObjectFromValue<APMPBEvent>((*events)[0]).get(), APMPBEventSlot::kName), "e");
  EXPECT_EQ(APMPBGetArray<APMPBEventParam>(bundle.get(), APMPBMeasurementBundleSlot::kEvents)->size(), 0u);
  // A type without a wrapper class cannot be handed out.
  auto campaign = APMPBAdCampaignInfo::initWithBuffer(wiretest::fromHex("52020a00"));
  EXPECT_EQ(APMPBGetArray(campaign.get(), APMPBAdCampaignInfoSlot::kMarketReferrerGadParams)->size(), 0u);
  EXPECT_EQ(takeLines(), std::vector<std::string>{"<ERROR> Provided class doesn't implement initWithMessageInfo: "
                                                  "method. Class: APMPBMarketReferrerGadParamsEntry"});
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kEvents, std::nullopt);
  EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kEvents)->size(), 0u);
}

// Fills an event through the operations: scalars, texts (one too long for
// a small block), items and nested items appended in place, then changes:
// a text replaced, a field cleared and set again, an item's value replaced,
// bytes stored into existing cells.
void fillEvent(NANOMessageBase* event) {
  APMPBSetString(event, APMPBEventSlot::kName, "purchase");
  APMPBSetInt64(event, APMPBEventSlot::kTimestamp, 1700000000250);
  APMPBSetInt64(event, APMPBEventSlot::kPreviousTimestamp, -5);
  for (int index = 0; index < 6; ++index) {
    std::optional<APMPBMessageView> param = APMPBAppendMessage(event, APMPBEventSlot::kParams);
    ASSERT_TRUE(param.has_value());
    APMPBSetString(&*param, APMPBEventParamSlot::kName, "p" + std::to_string(index));
    if (index % 3 == 0)
      APMPBSetString(&*param, APMPBEventParamSlot::kStringValue, std::string(size_t(40 * index), 't'));
    if (index % 3 == 1) APMPBSetDouble(&*param, APMPBEventParamSlot::kDoubleValue, -0.25 * index);
    if (index % 3 == 2) {
      for (int child = 0; child < 3; ++child) {
        std::optional<APMPBMessageView> item = APMPBAppendMessage(&*param, APMPBEventParamSlot::kParamValue);
        ASSERT_TRUE(item.has_value());
        std::optional<APMPBMessageView> field = APMPBAppendMessage(&*item, APMPBEventParamSlot::kParamValue);
        ASSERT_TRUE(field.has_value());
        APMPBSetString(&*field, APMPBEventParamSlot::kName, "c");
        APMPBSetInt64(&*field, APMPBEventParamSlot::kIntValue, int64_t(child) << 33);
        APMPBSetFloat(&*field, APMPBEventParamSlot::kField4, 1.5f);
      }
    }
  }
  APMPBSetString(event, APMPBEventSlot::kName, "purchase again");
  APMPBClearField(event, APMPBEventSlot::kPreviousTimestamp);
  APMPBSetInt64(event, APMPBEventSlot::kPreviousTimestamp, 300);
  APMPBSetInt32(event, APMPBEventSlot::kField5, -1);
  std::optional<APMPBMessageView> last = APMPBAppendMessage(event, APMPBEventSlot::kParams);
  ASSERT_TRUE(last.has_value());
  APMPBSetString(&*last, APMPBEventParamSlot::kStringValue, "first");
  APMPBSetString(&*last, APMPBEventParamSlot::kStringValue, std::string(300, 'r'));
  APMPBSetString(&*last, APMPBEventParamSlot::kStringValue, "third");
  APMPBClearField(&*last, APMPBEventParamSlot::kStringValue);
  APMPBSetInt64(&*last, APMPBEventParamSlot::kIntValue, 7);
  // Bytes stored into a cell that exists are held apart from it.
  ASSERT_TRUE(APMPBStoreString(&event->messageInfo()->slots[APMPBEventSlot::kName], "apart", 5));
  APMPBSetString(&*last, APMPBEventParamSlot::kName, "last");
  ASSERT_TRUE(APMPBStoreString(&last->messageInfo()->slots[APMPBEventParamSlot::kName], "item apart", 10));
}

TEST_F(APMPBFieldAccess, ItemsFilledInPlaceAndMessagesInABlock) {
  auto reference = APMPBEvent::initWithMessageInfo(nullptr);
  fillEvent(reference.get());
  const std::string expected = wiretest::dump(reference->messageInfo());
  const std::optional<platform::Bytes> bytes = reference->protoBuffer();
  ASSERT_TRUE(bytes.has_value());
  // Any room, from none to more than enough: the same fields, the same bytes.
  for (size_t room : {size_t(0), size_t(100), size_t(600), size_t(65536)}) {
    SCOPED_TRACE(room);
    auto event = APMPBEvent::initInBlock(room);
    ASSERT_NE(event, nullptr);
    fillEvent(event.get());
    EXPECT_EQ(wiretest::dump(event->messageInfo()), expected);
    EXPECT_EQ(event->protoBuffer(), bytes);
    // Copies, read items and replaced items live apart from the block.
    auto copy = APMPBEvent::initWithMessageInfo(event->messageInfo());
    EXPECT_EQ(wiretest::dump(copy->messageInfo()), expected);
    std::optional<platform::Array> params = APMPBGetArray<APMPBEventParam>(event.get(), APMPBEventSlot::kParams);
    ASSERT_EQ(params->size(), 7u);
    APMPBSetArray(event.get(), APMPBEventSlot::kParams, platform::Array{(*params)[6], (*params)[0]});
    APMPBSetString(event.get(), APMPBEventSlot::kName, std::nullopt);
    EXPECT_EQ(APMPBGetArray(event.get(), APMPBEventSlot::kParams)->size(), 2u);
    APMPBSetArray(copy.get(), APMPBEventSlot::kParams, platform::Array{(*params)[6], (*params)[0]});
    APMPBClearField(copy.get(), APMPBEventSlot::kName);
    EXPECT_EQ(event->protoBuffer(), copy->protoBuffer());
    // An item seen in place encodes as the item read out.
    std::optional<APMPBMessageView> added = APMPBAppendMessage(event.get(), APMPBEventSlot::kParams);
    ASSERT_TRUE(added.has_value());
    APMPBSetString(&*added, APMPBEventParamSlot::kName, "added");
    std::optional<platform::Array> items = APMPBGetArray<APMPBEventParam>(event.get(), APMPBEventSlot::kParams);
    ASSERT_EQ(items->size(), 3u);
    EXPECT_EQ(added->protoBuffer(), APMPBObjectFromValue<APMPBEventParam>((*items)[2])->protoBuffer());
    EXPECT_STREQ(added->messageID(), "EventParam");
    // Items seen in place are the items themselves, not copies.
    std::vector<APMPBMessageView> views = APMPBGetMessageViews(event.get(), 0);
    ASSERT_EQ(views.size(), 3u);
    EXPECT_EQ(views[2].messageInfo(), added->messageInfo());
    EXPECT_EQ(APMPBGetString(&views[2], 0), "added");
  }
  EXPECT_TRUE(takeLines().empty());

  // Only repeated message fields take items.
  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  EXPECT_FALSE(APMPBAppendMessage(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields).has_value());
  auto filter = APMPBPropertyFilter::initWithMessageInfo(nullptr);
  EXPECT_FALSE(APMPBAppendMessage(filter.get(), APMPBPropertyFilterSlot::kFilter).has_value());
  EXPECT_FALSE(APMPBAppendMessage(filter.get(), 99).has_value());
  EXPECT_FALSE(APMPBAppendMessage(nullptr, 0).has_value());
  EXPECT_TRUE(APMPBGetMessageViews(filter.get(), 2).empty());
  EXPECT_EQ(takeLines(), (std::vector<std::string>{
                             "<Nano/Failure> Field type isn't REPEATED MESSAGE. Message: MeasurementBundle, field ID: 44",
                             "<Nano/Failure> Field type isn't REPEATED MESSAGE. Message: PropertyFilter, field ID: 2",
                             "<Nano/Failure> Field type isn't REPEATED MESSAGE. Message: PropertyFilter, field ID: 99",
                             "ProtocolBuffer message hasn't been initialized. AppendMessage can't be performed",
                             "<Nano/Failure> Field type isn't REPEATED MESSAGE. Message: PropertyFilter, field ID: 2"}));
}

TEST_F(APMPBFieldAccess, SubMessagesAreCopiedBothWays) {
  auto filter = APMPBPropertyFilter::initWithMessageInfo(nullptr);
  auto inner = APMPBFilter::initWithMessageInfo(nullptr);
  APMPBSetString(inner.get(), APMPBFilterSlot::kParamName, "p");
  APMPBSetMessage(filter.get(), APMPBPropertyFilterSlot::kFilter, inner.get());
  APMPBSetString(inner.get(), APMPBFilterSlot::kParamName, "changed");

  auto read = APMPBGetMessage<APMPBFilter>(filter.get(), APMPBPropertyFilterSlot::kFilter);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(APMPBGetString(read.get(), APMPBFilterSlot::kParamName), "p");
  APMPBSetString(read.get(), APMPBFilterSlot::kParamName, "also changed");
  EXPECT_EQ(APMPBGetString(APMPBGetMessage<APMPBFilter>(filter.get(), APMPBPropertyFilterSlot::kFilter).get(),
                           APMPBFilterSlot::kParamName),
            "p");
  // A wrapper class of another type reads nothing.
  EXPECT_EQ(APMPBGetMessage<APMPBEvent>(filter.get(), APMPBPropertyFilterSlot::kFilter), nullptr);
  EXPECT_TRUE(takeLines().empty());

  // A value of another type is refused and the field stays as it was.
  auto other = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBSetMessage(filter.get(), APMPBPropertyFilterSlot::kFilter, other.get());
  EXPECT_EQ(takeLines(),
            std::vector<std::string>{"<Nano/Failure> Field type isn't a scalar MESSAGE. Message: PropertyFilter, field ID: 2"});
  EXPECT_EQ(APMPBGetString(APMPBGetMessage<APMPBFilter>(filter.get(), APMPBPropertyFilterSlot::kFilter).get(),
                           APMPBFilterSlot::kParamName),
            "p");

  APMPBSetMessage(filter.get(), APMPBPropertyFilterSlot::kFilter, nullptr);
  EXPECT_FALSE(APMPBHasField(filter.get(), APMPBPropertyFilterSlot::kFilter));
}

TEST_F(APMPBFieldAccess, WrappersCopyTheirInstances) {
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBSetString(event.get(), APMPBEventSlot::kName, "a");
  auto copy = APMPBEvent::initWithMessageInfo(event->messageInfo());
  APMPBSetString(copy.get(), APMPBEventSlot::kName, "b");
  EXPECT_EQ(APMPBGetString(event.get(), APMPBEventSlot::kName), "a");
  EXPECT_EQ(APMPBFilter::initWithMessageInfo(event->messageInfo()), nullptr);
  EXPECT_EQ(APMPBEvent::initWithBuffer({})->protoBuffer(), std::optional<platform::Bytes>(platform::Bytes{}));
  EXPECT_STREQ(event->messageID(), "Event");
  EXPECT_EQ(event->messageID(), event->messageInfo()->name);
}

TEST_F(APMPBFieldAccess, RoutineEdges) {
  APMPBMessageInfo* info = kAPMPBEvent.newMessageInfo();
  EXPECT_FALSE(kAPMPBEvent.deallocMessageField(info, 7));
  EXPECT_EQ(console.lines(), std::vector<std::string>{"<ERROR> Event: Cannot deallocate field 7: Unknown field"});
  EXPECT_FALSE(kAPMPBEvent.decode(nullptr, 0, nullptr));
  EXPECT_EQ(console.lines().back(), "<ERROR> Event decoder failed: message_info is NULL");
  // A routine of another type refuses the instance.
  APMPBMessageInfo* copy = nullptr;
  EXPECT_FALSE(kAPMPBFilter.copyMessageInfo(&copy, info));
  EXPECT_EQ(copy, nullptr);
  EXPECT_TRUE(kAPMPBEvent.freeMessageInfo(info));
  EXPECT_FALSE(kAPMPBEvent.freeMessageInfo(nullptr));

  // NULL destinations of the cell operations.
  platform::ConsoleCapture lines;
  APMPBResetArray(nullptr);
  APMPBFreeString(nullptr);
  APMPBStoreBool(nullptr, true);
  APMPBStoreUInt32(nullptr, 1);
  APMPBStoreUInt64(nullptr, 1);
  APMPBStoreFloat(nullptr, 1);
  APMPBStoreDouble(nullptr, 1);
  APMPBStoreString(nullptr, "x", 1);
  EXPECT_EQ(lines.lines(), (std::vector<std::string>{
                               "<ERROR> Unable to initialize the array. Array pointer is NULL",
                               "<ERROR> Unable to dealloc string field. String struct is NULL",
                               "<ERROR> Unable to set bool. Destination pointer is NULL",
                               "<ERROR> Unable to set uint32. Destination pointer is NULL",
                               "<ERROR> Unable to set uint64. Destination pointer is NULL",
                               "<ERROR> Unable to set float. Destination pointer is NULL",
                               "<ERROR> Unable to set double. Destination pointer is NULL",
                               "<ERROR> Unable to set string. Destination array is NULL",
                           }));
}

}  // namespace
