// Encoding and decoding through the routines and the wrappers: golden bytes,
// a round trip of every type, and the decoder's rules on damaged, deep and
// large input.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "measurement/messages/APMPBFieldAccess.h"
#include "measurement/messages/APMPBMessage.h"
#include "measurement/messages/APMPBWireWriter.h"
#include "measurement/messages/tests/WireTestSupport.h"
#include "platform/crypto/Digest.h"
#include "platform/log/ConsoleCapture.h"
#include "testing/LogCapture.h"

namespace {

using wiretest::appendLengthPrefix;
using wiretest::appendVarint;
using wiretest::dump;
using wiretest::fromHex;
using wiretest::toHex;

std::string hexOf(const NANOMessageBase& message) {
  std::optional<platform::Bytes> bytes = message.protoBuffer();
  return bytes ? toHex(*bytes) : std::string("error");
}

struct GoldenCase {
  const char* name;
  std::function<std::shared_ptr<NANOMessageBase>()> build;
  const char* hex;
};

platform::Value paramWithInteger(const char* name, int64_t value) {
  auto param = APMPBEventParam::initWithMessageInfo(nullptr);
  APMPBSetString(param.get(), APMPBEventParamSlot::kName, name);
  APMPBSetInt64(param.get(), APMPBEventParamSlot::kIntValue, value);
  return APMPBObjectValue(param);
}

TEST(APMPBWire, GoldenBytes) {
  // Items of different lengths at two levels, one over 127 bytes: each
  // length prefix belongs to its own item.
  std::string longText;
  for (int n = 0; n < 130; ++n) longText += "78";
  const std::string nestedHex =
      "0a88010a016c128201" + longText + "0a1b0a016e320e0a016118feffffffffffffffff0132060a016218ac02120165";
  const std::vector<GoldenCase> cases = {
      {"nested items of different lengths",
       [] {
         auto text = APMPBEventParam::initWithMessageInfo(nullptr);
         APMPBSetString(text.get(), APMPBEventParamSlot::kName, "l");
         APMPBSetString(text.get(), APMPBEventParamSlot::kStringValue, std::string(130, 'x'));
         auto list = APMPBEventParam::initWithMessageInfo(nullptr);
         APMPBSetString(list.get(), APMPBEventParamSlot::kName, "n");
         APMPBSetArray(list.get(), APMPBEventParamSlot::kParamValue,
                       platform::Array{paramWithInteger("a", -2), paramWithInteger("b", 300)});
         auto event = APMPBEvent::initWithMessageInfo(nullptr);
         APMPBSetArray(event.get(), APMPBEventSlot::kParams,
                       platform::Array{APMPBObjectValue(text), APMPBObjectValue(list)});
         APMPBSetString(event.get(), APMPBEventSlot::kName, "e");
         return event;
       },
       nestedHex.c_str()},
      {"bundle slots 6 (tag 26), 7 (tag 7) and 44 in tag order",
       [] {
         auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
         APMPBSetInt64(bundle.get(), APMPBMeasurementBundleSlot::kPreviousBundleStartTimestamp, 5);
         APMPBSetInt64(bundle.get(), APMPBMeasurementBundleSlot::kPreviousBundleEndTimestamp, 3);
         APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kRedactedFields, platform::Array{"a"});
         return bundle;
       },
       "3803d0010582040161"},
      {"bundle slots 20, 21, 27, 35 and 55",
       [] {
         auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
         APMPBSetInt32(bundle.get(), APMPBMeasurementBundleSlot::kLinkedFeatures, 1);
         APMPBSetInt32(bundle.get(), APMPBMeasurementBundleSlot::kRetryCount, 2);
         APMPBSetBool(bundle.get(), APMPBMeasurementBundleSlot::kField28, false);
         APMPBSetBool(bundle.get(), APMPBMeasurementBundleSlot::kLimitedAdTracking, true);
         APMPBSetString(bundle.get(), APMPBMeasurementBundleSlot::kVendorID, "v");
         return bundle;
       },
       "a00101da010176e00100b80202b80501"},
      {"int32 -1 takes ten bytes",
       [] {
         auto event = APMPBEvent::initWithMessageInfo(nullptr);
         APMPBSetInt32(event.get(), APMPBEventSlot::kField5, -1);
         return event;
       },
       "28ffffffffffffffffff01"},
      {"enum 0xFFFFFFFF is an unsigned varint",
       [] {
         auto batch = APMPBMeasurementBatch::initWithMessageInfo(nullptr);
         APMPBSetInt32(batch.get(), APMPBMeasurementBatchSlot::kField9, -1);
         return batch;
       },
       "48ffffffff0f"},
      {"repeated uint32 unpacked",
       [] {
         auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
         APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kExperimentIDs, platform::Array{1, 4294967295u});
         return bundle;
       },
       "e80201e802ffffffff0f"},
      {"float and double",
       [] {
         auto param = APMPBEventParam::initWithMessageInfo(nullptr);
         APMPBSetFloat(param.get(), APMPBEventParamSlot::kField4, 1.5f);
         APMPBSetDouble(param.get(), APMPBEventParamSlot::kDoubleValue, 1.5);
         return param;
       },
       "250000c03f29000000000000f83f"},
      {"a sub-message in place",
       [] {
         auto data = APMPBResultData::initWithMessageInfo(nullptr);
         APMPBSetArray(data.get(), APMPBResultDataSlot::kStatus, platform::Array{1});
         auto result = APMPBAudienceLeafFilterResult::initWithMessageInfo(nullptr);
         APMPBSetMessage(result.get(), APMPBAudienceLeafFilterResultSlot::kCurrentData, data.get());
         APMPBSetInt32(result.get(), APMPBAudienceLeafFilterResultSlot::kAudienceID, 7);
         return result;
       },
       "080712020801"},
      {"a present false and an empty string",
       [] {
         auto config = APMPBEventConfig::initWithMessageInfo(nullptr);
         APMPBSetBool(config.get(), APMPBEventConfigSlot::kBlocklisted, false);
         APMPBSetString(config.get(), APMPBEventConfigSlot::kName, "");
         return config;
       },
       "0a001000"},
      {"an empty repeated field writes nothing",
       [] {
         auto event = APMPBEvent::initWithMessageInfo(nullptr);
         APMPBSetArray(event.get(), APMPBEventSlot::kParams, platform::Array{});
         return event;
       },
       ""},
      {"an empty message", [] { return APMPBResultData::initWithMessageInfo(nullptr); }, ""},
  };
  for (const GoldenCase& golden : cases) {
    SCOPED_TRACE(golden.name);
    std::shared_ptr<NANOMessageBase> message = golden.build();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(hexOf(*message), golden.hex);
    // And back: decoding gives the same fields, which encode to the same bytes.
    std::shared_ptr<NANOMessageBase> decoded =
        APMPBWrapperForType(message->messageType(), nullptr);
    APMPBMessageInfo* info = message->messageType().newMessageInfo();
    const std::vector<uint8_t> bytes = fromHex(golden.hex);
    ASSERT_TRUE(message->messageType().decode(bytes.data(), bytes.size(), info));
    EXPECT_EQ(dump(info), dump(message->messageInfo()));
    message->messageType().freeMessageInfo(info);
  }
}

// Fills every slot of an instance from the slot table; message slots recurse
// (self-containing types stop at a small depth).
void fill(APMPBMessageInfo* info, int depth) {
  const APMPBMessageType& type = *info->type;
  for (uint32_t slot = 0; slot < type.slotCount; ++slot) {
    const APMPBFieldFlags flags = type.flags[slot];
    const int items = (flags & kAPMPBFieldRepeated) ? 2 : 1;
    for (int item = 0; item < items; ++item) {
      void* cell = nullptr;
      const uint64_t number = (slot + 1) * 1000 + item;
      if (flags & kAPMPBFieldMessage) {
        if (depth >= 3) break;
        APMPBMessageInfo* sub = type.slots[slot].messageType->newMessageInfo();
        fill(sub, depth + 1);
        cell = sub;
      } else if (flags & (kAPMPBFieldString | kAPMPBFieldBytes)) {
        const std::string text = std::string(type.name) + "." + std::to_string(slot) + "." + std::to_string(item);
        APMPBStoreString(&cell, text.data(), text.size());
      } else if (flags & kAPMPBFieldBool) {
        APMPBStoreBool(&cell, true);
      } else if (flags & kAPMPBFieldFloat) {
        APMPBStoreFloat(&cell, 0.25f * float(number));
      } else if (flags & kAPMPBFieldDouble) {
        APMPBStoreDouble(&cell, -0.5 * double(number));
      } else if (flags & (kAPMPBFieldInt64 | kAPMPBFieldUInt64)) {
        APMPBStoreUInt64(&cell, (flags & kAPMPBFieldInt64) ? uint64_t(-int64_t(number)) : number << 40);
      } else {
        APMPBStoreUInt32(&cell, (flags & kAPMPBFieldInt32) ? uint32_t(-int32_t(number)) : uint32_t(number) | 0x80000000u);
      }
      if (flags & kAPMPBFieldRepeated) {
        ASSERT_TRUE(APMPBAppendItem(static_cast<APMPBRepeatedField*>(info->slots[slot]), cell));
      } else {
        info->slots[slot] = cell;
      }
    }
  }
}

TEST(APMPBWire, EveryTypeRoundTripsWithEverySlotFilled) {
  for (const APMPBMessageType* type : APMPBAllMessageTypes()) {
    SCOPED_TRACE(type->name);
    APMPBMessageInfo* original = type->newMessageInfo();
    fill(original, 0);
    bool ok = false;
    const std::vector<uint8_t> bytes = wiretest::encode(original, &ok);
    ASSERT_TRUE(ok);
    ASSERT_FALSE(bytes.empty());

    APMPBMessageInfo* decoded = type->newMessageInfo();
    ASSERT_TRUE(type->decode(bytes.data(), bytes.size(), decoded));
    EXPECT_EQ(dump(decoded), dump(original));
    EXPECT_EQ(wiretest::encode(decoded), bytes);

    APMPBMessageInfo* copy = nullptr;
    ASSERT_TRUE(type->copyMessageInfo(&copy, original));
    EXPECT_EQ(dump(copy), dump(original));
    // Copying into a pointer that holds an instance replaces it.
    ASSERT_TRUE(type->copyMessageInfo(&copy, decoded));
    EXPECT_EQ(dump(copy), dump(original));

    if (type->hasWrapper) {
      std::shared_ptr<NANOMessageBase> wrapper = APMPBWrapperForType(*type, original);
      ASSERT_NE(wrapper, nullptr);
      EXPECT_NE(wrapper->messageInfo(), original);
      EXPECT_EQ(wrapper->protoBuffer(), std::optional<platform::Bytes>(bytes));
    }
    type->freeMessageInfo(copy);
    type->freeMessageInfo(decoded);
    type->freeMessageInfo(original);
  }
}

// The encoding of every type with every slot filled (values of every kind
// and sign, nested items, strings, floats), pinned by digest: any change of
// the wire bytes of any field kind shows here.
TEST(APMPBWire, EveryTypeEncodesToTheSameBytes) {
  const std::map<std::string, std::string> digests = {
      {"AdCampaignInfo", "c4fb98b57e2d2de3721d4fd7025864805cc4c295"},
      {"AppProperty", "94b21487eca59e24b82c1854c6e43e2e7e25767c"},
      {"Audience", "82afee94bfafb62f59bfa94a06ef99058219ac5c"},
      {"AudienceLeafFilterResult", "1aa02cea671b8d4310827e0ba2cdd94175078cdc"},
      {"ClientProperty", "6487f4da3585e2360e3fafb947d85625b3a748dc"},
      {"ConsentConfig", "9036204b38c3792a6815f3089ddd05d5a01322e9"},
      {"ConsentDefaultEntry", "c694c0d0121c17c95637429520214dc11581ae02"},
      {"ConsentDelegationEntry", "4439a37b5a971213f6230d4048194e702159f3ba"},
      {"ConsentInfoExtra", "01b86f1fcd322dd0e85a31d3b9a47461d0d77f82"},
      {"CorePlatformServiceEntry", "c3a2ef7253a106787aee11d24ebd98b86055e105"},
      {"CustomProperty", "4bd87fa10d138218695d073d31409452e8bed160"},
      {"DataControl", "4e4dd089c50b6e448a65bb78a94d2ecd56fd57f3"},
      {"DeepLinkGadParamsEntry", "fa7bf1946a49f90695408ec8dd7375e6174bb814"},
      {"DynamicFilterResultTimestamp", "2bf9288ad5c66c7c01c4529e509d40f56c5eea8e"},
      {"Event", "63ce2afe31cb970e5bc67c6e3fabd8b9057bcda5"},
      {"EventConfig", "aeb2d011134ec57c69fa0240bb8e3d3b31e66c96"},
      {"EventFilter", "cd2de0582974933f8f9055f0ee7f51f4a843da4c"},
      {"EventParam", "7dc6dd19496f4eedf70e1a8cbfefe446fbd59aff"},
      {"Experiment", "6cf9f3f9c297aac4fdd4facbff9d5557886b1a33"},
      {"ExperimentRequest", "704d2b7e0e17d791e4dab1a241686c5aaaad3b55"},
      {"ExperimentResponse", "b5f3977b24291103fe16a979b823052988b5a347"},
      {"Filter", "dc7c4941c45394ee93f343e5f63d186311f86568"},
      {"Flag", "eaef76459575482601d4d8c93b79cd0fa6029acd"},
      {"LimitedDataEntry", "4439a37b5a971213f6230d4048194e702159f3ba"},
      {"MarketReferrerGadParamsEntry", "4129500ebbda3de815793e0d836842188d5ad37c"},
      {"MeasurementBatch", "91b59253933956dd2a14a1536a0ed57adcba4e32"},
      {"MeasurementBundle", "198c5924b7352758bbfbe67f88f92ce17425c4a3"},
      {"MeasurementConfig", "8dfa075d8376a3ee2dcf1768df3ca63d08e2507e"},
      {"NumberFilter", "2ae54c221da23be33160a62e659ca4c0fe1695bd"},
      {"OgtActivities", "fc7115764298a42199a6e093697184869094cafe"},
      {"OgtActivity", "7e9c83469dbdb02a51f9049ad67a3aeb7d0daf82"},
      {"OnDeviceMeasurementInfo", "31ee5f661299d71610b615fe2a84e0df82b334b0"},
      {"OnDeviceMeasurementValue", "5a30d4b12ceaf7cb84deb9ca2f6d1d5b598e0f77"},
      {"Program", "ee53eef38e6d17bdbc53877ab8491b6ab5ea47e7"},
      {"PropertyFilter", "12041d41f2ce90178730fbe3184f4caa7c8bfd24"},
      {"PsmSetting", "f03c7a1f3ac4faf1301caa216089117318f8b4ad"},
      {"Region", "ea1aa8cfbccbfb800b59eb2d52dd259f2a3c7230"},
      {"ResultData", "658d2e60fd90eba7da10944b79ed53d20cf9145a"},
      {"RuntimeEntity", "06a5046a2e86f32a266f5d8f15c743c22b26eb47"},
      {"SdkResponse", "4299fb21877be23610cb86dcf3d2dbecc4f3a724"},
      {"SequenceFilterResultTimestamp", "232df76ef34f312e5a82b94aeecaa18505e03695"},
      {"Setting", "16b56c83c6d9e25b2f62de34dd729c55c0d93924"},
      {"Snapshot", "359a3d0a54e2458131bf56c9f867ddd3237d2c50"},
      {"StringFilter", "d6b1b59e6cf76c0bcc932d0cd84a7936ae48e9af"},
      {"SztmSetting", "fe3d7b23680f436a6f09565813c8bfb109e8f972"},
      {"UserAttribute", "779afe2f9466e04a605358694604bbc904f7203d"},
  };
  for (const APMPBMessageType* type : APMPBAllMessageTypes()) {
    SCOPED_TRACE(type->name);
    APMPBMessageInfo* info = type->newMessageInfo();
    fill(info, 0);
    const std::string digest = platform::Digest::hex(platform::Digest::sha1(wiretest::encode(info)));
    EXPECT_EQ(digest, digests.count(type->name) ? digests.at(type->name) : "");
    type->freeMessageInfo(info);
  }
}

// Gives every field both to a message, through the field operations, and to
// a writer.
struct BothSink {
  NANOMessageBase* message;
  APMPBWireWriter* writer;
  void string(int32_t slot, const std::string& text) {
    APMPBSetString(message, slot, text);
    writer->setString(slot, text);
  }
  void int64(int32_t slot, int64_t value) {
    APMPBSetInt64(message, slot, value);
    writer->setInt64(slot, value);
  }
  void real(int32_t slot, double value) {
    APMPBSetDouble(message, slot, value);
    writer->setDouble(slot, value);
  }
  void item(int32_t slot, const std::function<void(BothSink&)>& fill) {
    std::optional<APMPBMessageView> view = APMPBAppendMessage(message, slot);
    ASSERT_TRUE(view.has_value());
    ASSERT_TRUE(writer->beginMessage(slot));
    BothSink child{&*view, writer};
    fill(child);
    writer->endMessage();
  }
};

// The writer against the encoder: the same fields given in tag order, to the
// writer and to a message through the field operations, give the same bytes.
// Items of every length class (empty, short, over 127 and over 16383 bytes:
// their length prefixes take one, two and three bytes), three levels deep.
TEST(APMPBWire, TheWriterWritesWhatTheEncoderWrites) {
  std::vector<uint8_t> written(100, 0xAA);
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  APMPBWireWriter writer(kAPMPBEvent, written);
  BothSink sink{event.get(), &writer};
  const size_t lengths[] = {0, 5, 200, 20000};
  for (size_t length : lengths) {
    sink.item(APMPBEventSlot::kParams, [&](BothSink& param) {
      param.string(APMPBEventParamSlot::kName, "p" + std::to_string(length));
      if (length > 0) param.string(APMPBEventParamSlot::kStringValue, std::string(length, 'v'));
      param.int64(APMPBEventParamSlot::kIntValue, -int64_t(length));
      param.real(APMPBEventParamSlot::kDoubleValue, 0.5 * double(length));
      for (int child = 0; child < 2; ++child) {
        param.item(APMPBEventParamSlot::kParamValue, [&](BothSink& item) {
          item.item(APMPBEventParamSlot::kParamValue, [&](BothSink& field) {
            field.string(APMPBEventParamSlot::kName, std::string(length / 2, 'c'));
            field.int64(APMPBEventParamSlot::kIntValue, int64_t(1) << 62);
          });
        });
      }
    });
  }
  sink.item(APMPBEventSlot::kParams, [](BothSink&) {});
  sink.string(APMPBEventSlot::kName, "name");
  sink.int64(APMPBEventSlot::kTimestamp, 1700000000250);
  sink.int64(APMPBEventSlot::kPreviousTimestamp, INT64_MIN);
  EXPECT_TRUE(writer.finish());
  EXPECT_EQ(std::optional<platform::Bytes>(written), event->protoBuffer());
  // A sub-message: its fields after the parent's earlier ones.
  std::vector<uint8_t> nested;
  APMPBWireWriter filter(kAPMPBPropertyFilter, nested);
  ASSERT_TRUE(filter.beginMessage(APMPBPropertyFilterSlot::kFilter));
  filter.setString(APMPBFilterSlot::kParamName, "p");
  filter.endMessage();
  EXPECT_TRUE(filter.finish());
  auto reference = APMPBPropertyFilter::initWithMessageInfo(nullptr);
  auto inner = APMPBFilter::initWithMessageInfo(nullptr);
  APMPBSetString(inner.get(), APMPBFilterSlot::kParamName, "p");
  APMPBSetMessage(reference.get(), APMPBPropertyFilterSlot::kFilter, inner.get());
  EXPECT_EQ(std::optional<platform::Bytes>(nested), reference->protoBuffer());
}

// Every string length near the encoder's copying steps, and lengths whose
// prefix takes one, two and three bytes, give the field whole: tag, length,
// the bytes in order (each byte different, so a misplaced move shows).
TEST(APMPBWire, StringsOfEveryShortLengthEncodeWhole) {
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= 40; ++length) lengths.push_back(length);
  for (size_t length : {127, 128, 129, 16383, 16384}) lengths.push_back(length);
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string text(length, '\0');
    for (size_t index = 0; index < length; ++index) text[index] = static_cast<char>('a' + index % 26 + index / 26 % 5);
    auto param = APMPBEventParam::initWithMessageInfo(nullptr);
    APMPBSetString(param.get(), APMPBEventParamSlot::kName, text);
    APMPBSetInt64(param.get(), APMPBEventParamSlot::kIntValue, 300);
    std::vector<uint8_t> expected = {0x0a};
    appendVarint(expected, length);
    expected.insert(expected.end(), text.begin(), text.end());
    expected.insert(expected.end(), {0x18, 0xac, 0x02});
    EXPECT_EQ(param->protoBuffer(), std::optional<platform::Bytes>(expected));
  }
}

// A message the encoder cannot write gives nothing from either entry point,
// with the line that names the fault, wherever in the message the fault sits
// (after much of it is written); mended, it encodes whole again.
TEST(APMPBWire, AFaultAnywhereFailsTheWholeEncoding) {
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  platform::Array params;
  for (int index = 0; index < 3; ++index) {
    auto param = APMPBEventParam::initWithMessageInfo(nullptr);
    APMPBSetString(param.get(), APMPBEventParamSlot::kName, "p" + std::to_string(index));
    APMPBSetInt64(param.get(), APMPBEventParamSlot::kIntValue, index);
    params.append(APMPBObjectValue(param));
  }
  APMPBSetArray(event.get(), APMPBEventSlot::kParams, params);
  APMPBSetString(event.get(), APMPBEventSlot::kName, std::string(300, 'n'));
  const std::optional<platform::Bytes> whole = event->protoBuffer();
  ASSERT_TRUE(whole);
  APMPBMessageInfo* info = event->messageInfo();
  auto* items = static_cast<APMPBRepeatedField*>(info->slots[APMPBEventSlot::kParams]);
  ASSERT_EQ(items->count, 3u);
  auto* middle = static_cast<APMPBMessageInfo*>(items->items[1]);
  APMPBBytesCell noBytes{};
  struct Case {
    const char* name;
    void** slot;
    void* fault;
    const char* line;
  };
  const Case cases[] = {
      {"a repeated record never made", &info->slots[APMPBEventSlot::kParams], nullptr,
       "<ERROR> Event Encoder: 'params' should have been allocated"},
      {"a nested record never made", &middle->slots[APMPBEventParamSlot::kParamValue], nullptr,
       "<ERROR> EventParam Encoder: 'param_value' should have been allocated"},
      {"a string without bytes", &middle->slots[APMPBEventParamSlot::kName], &noBytes, nullptr},
      {"a missing item", &items->items[1], nullptr, nullptr},
      {"an item of another type", &items->items[1], info, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* kept = *c.slot;
    *c.slot = c.fault;
    platform::ConsoleCapture lines;
    EXPECT_EQ(event->protoBuffer(), std::nullopt);
    uint8_t* buffer = whole->empty() ? nullptr : const_cast<uint8_t*>(whole->data());
    EXPECT_EQ(kAPMPBEvent.encode(info, &buffer), -1);
    EXPECT_EQ(buffer, nullptr);
    *c.slot = kept;
    std::vector<std::string> expected;
    if (c.line != nullptr) expected.assign(2, c.line);
    EXPECT_EQ(lines.lines(), expected);
    EXPECT_EQ(event->protoBuffer(), whole);
  }
}

// Fields out of tag order, given twice, of another kind or outside the type
// are left out with their line; finish() then says NO, as it does for
// messages not ended or ended twice.
TEST(APMPBWire, TheWriterRefusesWhatItCannotWriteInOrder) {
  testkit::LogCapture logs;
  struct Case {
    const char* name;
    std::function<void(APMPBWireWriter&)> write;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"out of order",
       [](APMPBWireWriter& w) {
         w.setInt64(APMPBEventSlot::kTimestamp, 1);
         w.setString(APMPBEventSlot::kName, "n");
       },
       "<Nano/Failure> Field written out of order. Message: Event, field ID: 1"},
      {"a singular field twice",
       [](APMPBWireWriter& w) {
         w.setString(APMPBEventSlot::kName, "a");
         w.setString(APMPBEventSlot::kName, "b");
       },
       "<Nano/Failure> Field written out of order. Message: Event, field ID: 1"},
      {"items after a later field",
       [](APMPBWireWriter& w) {
         w.setString(APMPBEventSlot::kName, "n");
         if (w.beginMessage(APMPBEventSlot::kParams)) w.endMessage();
       },
       "<Nano/Failure> Field written out of order. Message: Event, field ID: 0"},
      {"another kind", [](APMPBWireWriter& w) { w.setDouble(APMPBEventSlot::kName, 1); },
       "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: Event, field ID: 1"},
      {"not a message", [](APMPBWireWriter& w) { EXPECT_FALSE(w.beginMessage(APMPBEventSlot::kName)); },
       "<Nano/Failure> Field type isn't a MESSAGE. Message: Event, field ID: 1"},
      {"outside the type", [](APMPBWireWriter& w) { w.setInt64(9, 1); },
       "<Nano/Failure> Field type isn't a scalar INT64. Message: Event, field ID: 9"},
      {"not ended", [](APMPBWireWriter& w) { EXPECT_TRUE(w.beginMessage(APMPBEventSlot::kParams)); }, nullptr},
      {"ended twice", [](APMPBWireWriter& w) { w.endMessage(); }, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes;
    APMPBWireWriter writer(kAPMPBEvent, bytes);
    c.write(writer);
    EXPECT_FALSE(writer.finish());
    EXPECT_EQ(logs.texts(), c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
    logs.clear();
  }
}

class APMPBDecode : public ::testing::Test {
 protected:
  platform::ConsoleCapture console;
};

TEST_F(APMPBDecode, FirstOccurrenceOfAStringWinsAndEmptyStringsArePresent) {
  struct Case {
    const char* hex;
    std::optional<std::string> name;
  };
  const std::vector<Case> cases = {
      {"120161120162", "a"},
      {"1200", ""},
      {"1200120162", ""},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    auto event = APMPBEvent::initWithBuffer(fromHex(c.hex));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBHasField(event.get(), APMPBEventSlot::kName), c.name.has_value());
    EXPECT_EQ(APMPBGetString(event.get(), APMPBEventSlot::kName), c.name);
    EXPECT_EQ(APMPBGetArray(event.get(), APMPBEventSlot::kParams)->size(), 0u);
  }
  // An empty string encodes as its tag and a zero length.
  EXPECT_EQ(hexOf(*APMPBEvent::initWithBuffer(fromHex("1200120162"))), "1200");
  EXPECT_TRUE(console.lines().empty());
}

TEST_F(APMPBDecode, StringsUpToOneMebibyte) {
  for (size_t length : {size_t(1048576), size_t(1048577)}) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> bytes;
    appendLengthPrefix(bytes, 2, length);
    bytes.resize(bytes.size() + length, 'x');
    auto event = APMPBEvent::initWithBuffer(bytes);
    if (length == 1048576) {
      ASSERT_NE(event, nullptr);
      EXPECT_EQ(APMPBGetString(event.get(), APMPBEventSlot::kName)->size(), length);
    } else {
      EXPECT_EQ(event, nullptr);
    }
  }
  EXPECT_EQ(console.lines(), std::vector<std::string>{"Unable to process proto stream. Buffer is too big. 1048577 > "
                                                      "1048576<ERROR> Event decoder failed: callback failed"});
}

TEST_F(APMPBDecode, ACorruptItemFailsTheWholeBatch) {
  std::vector<uint8_t> batch;
  for (int bundle = 0; bundle < 5; ++bundle) {
    // Bundle 4 ends inside its second field.
    const std::vector<uint8_t> body = bundle == 3 ? fromHex("080120") : fromHex("0801");
    appendLengthPrefix(batch, 1, body.size());
    batch.insert(batch.end(), body.begin(), body.end());
  }
  EXPECT_EQ(APMPBMeasurementBatch::initWithBuffer(batch), nullptr);
  EXPECT_EQ(console.lines(),
            (std::vector<std::string>{
                "<ERROR> MeasurementBundle decoder failed: end-of-stream",
                "<ERROR> MeasurementBundle decoder failed: Unable to decode repeated MeasurementBundle",
                "<ERROR> MeasurementBatch decoder failed: callback failed",
            }));
}

// A RuntimeEntity whose argument list nests `levels` entities deep.
std::vector<uint8_t> nestedEntities(size_t levels) {
  std::vector<size_t> lengths(levels + 1, 0);  // lengths[k]: the body of the entity k levels above the deepest
  for (size_t level = 1; level <= levels; ++level) {
    std::vector<uint8_t> prefix;
    appendLengthPrefix(prefix, 2, lengths[level - 1]);
    lengths[level] = prefix.size() + lengths[level - 1];
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(lengths[levels]);
  for (size_t level = levels; level >= 1; --level) appendLengthPrefix(bytes, 2, lengths[level - 1]);
  return bytes;
}

TEST_F(APMPBDecode, NestingIsLimitedTo64Levels) {
  const std::vector<uint8_t> deepest = nestedEntities(64);
  auto entity = APMPBRuntimeEntity::initWithBuffer(deepest);
  ASSERT_NE(entity, nullptr);
  EXPECT_EQ(entity->protoBuffer(), std::optional<platform::Bytes>(deepest));
  EXPECT_TRUE(console.lines().empty());

  for (size_t levels : {size_t(65), size_t(100000)}) {
    SCOPED_TRACE(levels);
    platform::ConsoleCapture lines;
    EXPECT_EQ(APMPBRuntimeEntity::initWithBuffer(nestedEntities(levels)), nullptr);
    ASSERT_FALSE(lines.lines().empty());
    EXPECT_EQ(lines.lines().front(), "<ERROR> RuntimeEntity decoder failed: Nesting deeper than 64 levels");
    EXPECT_EQ(lines.lines().back(), "<ERROR> RuntimeEntity decoder failed: callback failed");
  }
}

// Two input bytes can ask for a whole record (an empty item) or a cell (a
// one-byte varint item): the work of one decode is bounded in total, with
// room for real messages far larger than any the system makes.
TEST_F(APMPBDecode, TheWorkOfOneDecodeIsBounded) {
  auto repeated = [](const char* itemHex, size_t count) {
    const std::vector<uint8_t> item = fromHex(itemHex);
    std::vector<uint8_t> bytes;
    bytes.reserve(item.size() * count);
    for (size_t index = 0; index < count; ++index) bytes.insert(bytes.end(), item.begin(), item.end());
    return bytes;
  };
  struct Case {
    const char* name;
    const APMPBMessageType& type;
    std::vector<uint8_t> bytes;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"empty bundles", kAPMPBMeasurementBatch, repeated("0a00", 200000),
       "<ERROR> MeasurementBatch decoder failed: Decoded size over 16777216 bytes"},
      {"empty parameters", kAPMPBEvent, repeated("0a00", 200000),
       "<ERROR> Event decoder failed: Decoded size over 16777216 bytes"},
      {"one-byte varints", kAPMPBResultData, repeated("0801", 1000000),
       "<ERROR> ResultData decoder failed: Decoded size over 16777216 bytes"},
      {"short strings", kAPMPBStringFilter, repeated("2200", 1000000),
       "<ERROR> StringFilter decoder failed: Decoded size over 16777216 bytes"},
      {"more input than any message", kAPMPBEvent, std::vector<uint8_t>(kAPMPBMaxDecodeInput + 1),
       "<ERROR> Event decoder failed: Input too big. 33554433 > 33554432"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ConsoleCapture lines;
    APMPBMessageInfo* info = c.type.newMessageInfo();
    EXPECT_FALSE(c.type.decode(c.bytes.data(), c.bytes.size(), info));
    c.type.freeMessageInfo(info);
    ASSERT_FALSE(lines.lines().empty());
    EXPECT_EQ(lines.lines().front(), c.line);
  }

  // A bundle of a thousand events of 25 parameters each decodes whole.
  std::vector<uint8_t> big;
  APMPBWireWriter writer(kAPMPBMeasurementBundle, big);
  for (int index = 0; index < 1000; ++index) {
    ASSERT_TRUE(writer.beginMessage(APMPBMeasurementBundleSlot::kEvents));
    for (int parameter = 0; parameter < 25; ++parameter) {
      ASSERT_TRUE(writer.beginMessage(APMPBEventSlot::kParams));
      writer.setString(APMPBEventParamSlot::kName, "parameter_" + std::to_string(parameter));
      writer.setString(APMPBEventParamSlot::kStringValue, "value " + std::to_string(index));
      writer.endMessage();
    }
    writer.setString(APMPBEventSlot::kName, "event_" + std::to_string(index % 20));
    writer.setInt64(APMPBEventSlot::kTimestamp, 1700000000000 + index);
    writer.endMessage();
  }
  ASSERT_TRUE(writer.finish());
  auto bundle = APMPBMeasurementBundle::initWithBuffer(big);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kEvents)->size(), 1000u);
  EXPECT_EQ(bundle->protoBuffer(), std::optional<platform::Bytes>(big));
}

TEST_F(APMPBDecode, NothingIsTruncatedBySixteenBitSizes) {
  auto event = APMPBEvent::initWithMessageInfo(nullptr);
  const std::string name(70000, 'n');
  APMPBSetString(event.get(), APMPBEventSlot::kName, name);
  platform::Array params;
  for (int index = 0; index < 70000; ++index) {
    auto param = APMPBEventParam::initWithMessageInfo(nullptr);
    APMPBSetInt64(param.get(), APMPBEventParamSlot::kIntValue, index);
    params.append(APMPBObjectValue(param));
  }
  APMPBSetArray(event.get(), APMPBEventSlot::kParams, params);
  auto back = APMPBEvent::initWithBuffer(*event->protoBuffer());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(APMPBGetString(back.get(), APMPBEventSlot::kName), name);
  std::optional<platform::Array> items = APMPBGetArray<APMPBEventParam>(back.get(), APMPBEventSlot::kParams);
  ASSERT_EQ(items->size(), 70000u);
  EXPECT_EQ(APMPBGetInt64(APMPBObjectFromValue((*items)[69999]).get(), APMPBEventParamSlot::kIntValue), 69999);

  auto bundle = APMPBMeasurementBundle::initWithMessageInfo(nullptr);
  platform::Array ids;
  for (uint32_t index = 0; index < 70000; ++index) ids.append(index);
  APMPBSetArray(bundle.get(), APMPBMeasurementBundleSlot::kExperimentIDs, ids);
  auto bundleBack = APMPBMeasurementBundle::initWithBuffer(*bundle->protoBuffer());
  EXPECT_EQ(APMPBGetArray(bundleBack.get(), APMPBMeasurementBundleSlot::kExperimentIDs)->size(), 70000u);
}

TEST_F(APMPBDecode, ScalarEdges) {
  // An enum above 2^32-1 fails; the largest fits.
  EXPECT_EQ(APMPBMeasurementBatch::initWithBuffer(fromHex("488080808010")), nullptr);
  EXPECT_EQ(console.lines(), std::vector<std::string>{"<ERROR> MeasurementBatch decoder failed: integer too large"});
  auto batch = APMPBMeasurementBatch::initWithBuffer(fromHex("48ffffffff0f"));
  EXPECT_EQ(APMPBGetInt32(batch.get(), APMPBMeasurementBatchSlot::kField9), -1);
  // A negative int32 in ten bytes.
  auto event = APMPBEvent::initWithBuffer(fromHex("28feffffffffffffffff01"));
  EXPECT_EQ(APMPBGetInt32(event.get(), APMPBEventSlot::kField5), -2);
  // Packed repeated varints are read too.
  auto bundle = APMPBMeasurementBundle::initWithBuffer(fromHex("ea02040102ff01"));
  EXPECT_EQ(platform::Value(*APMPBGetArray(bundle.get(), APMPBMeasurementBundleSlot::kExperimentIDs)),
            platform::Value::array({1u, 2u, 255u}));
  // An absent sub-message stays absent.
  auto result = APMPBAudienceLeafFilterResult::initWithBuffer(fromHex("0801"));
  EXPECT_FALSE(APMPBHasField(result.get(), APMPBAudienceLeafFilterResultSlot::kCurrentData));
  EXPECT_EQ(result->protoBuffer(), std::optional<platform::Bytes>(fromHex("0801")));
  // Bytes that are no encoding.
  EXPECT_EQ(APMPBEvent::initWithBuffer(fromHex("0a05")), nullptr);
  EXPECT_EQ(APMPBEvent::initWithBuffer(fromHex("ff")), nullptr);
}

}  // namespace
