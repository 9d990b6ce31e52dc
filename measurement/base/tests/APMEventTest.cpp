// The measurement event: construction rules, flags, screen parameters, the
// wire form both ways and the editable form.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "measurement/base/APMEvent.h"
#include "measurement/base/APMValue.h"
#include "measurement/base/tests/MeasurementTestEnvironment.h"
#include "measurement/messages/APMPBFieldAccess.h"
#include "platform/crypto/Digest.h"

namespace {

using measurementtest::MeasurementTestEnvironment;
using platform::Dictionary;
using platform::Value;

Value typed(Value raw) { return APMValue::toObject(APMValue::valueFromObject(raw, true)); }
std::optional<int64_t> int64Of(const Dictionary& parameters, const char* key) {
  APMValuePtr value = APMValue::fromObject(parameters.get(key));
  return value && value->isInt64() ? std::optional<int64_t>(value->int64Value()) : std::nullopt;
}
std::optional<std::string> stringOf(const Dictionary& parameters, const char* key) {
  APMValuePtr value = APMValue::fromObject(parameters.get(key));
  return value && value->isString() ? value->stringValue() : std::nullopt;
}

std::string hex(const platform::Bytes& bytes) { return platform::Digest::hex(bytes); }

platform::Bytes unhex(const std::string& text) {
  platform::Bytes bytes;
  for (size_t index = 0; index + 1 < text.size(); index += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(index, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(APMEvent, OriginsAndNames) {
  MeasurementTestEnvironment env;
  struct Case {
    const char* origin;
    bool isPublic;
    const char* name;
    bool made;
  };
  const Case cases[] = {
      {"app", true, "level_up", true},    {"app+ztm", true, "level_up", true}, {"a-b", true, "level_up", false},
      {"a-b+ztm", true, "level_up", false}, {"", true, "level_up", false},   {"auto", false, "_vs", true},
      {"app", true, "_vs", false},        {"app", true, "screen_view", true}, {"app", true, "first_open", false},
      {"app", false, "first_open", true}, {"app", true, "1x", false},        {"app", false, "a b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.origin) + " " + c.name);
    std::shared_ptr<APMEvent> event = APMEvent::initWithOrigin(c.origin, c.isPublic, c.name, 10, 0, {});
    EXPECT_EQ(event != nullptr, c.made);
    if (event) {
      EXPECT_EQ(stringOf(event->parameters(), "_o"), c.origin);
    }
  }
}

TEST(APMEvent, ValueRuleOfPurchasesAndTheConversionFlag) {
  MeasurementTestEnvironment env;
  const Dictionary raw{{"_c", int64_t(1)}};
  auto app = APMEvent::initWithOrigin("app", false, "in_app_purchase", 10, 0, raw);
  ASSERT_NE(app, nullptr);
  EXPECT_FALSE(app->isConversion());
  EXPECT_EQ(int64Of(app->parameters(), "_err"), 18);
  EXPECT_EQ(stringOf(app->parameters(), "_ev"), "value");

  auto automatic = APMEvent::initWithOrigin("auto", false, "in_app_purchase", 10, 0, raw);
  EXPECT_TRUE(automatic->isConversion());
  // A public event never keeps a raw "_c".
  EXPECT_FALSE(APMEvent::initWithOrigin("app", true, "in_app_purchase", 10, 0, raw)->isConversion());

  automatic->setConversion(false);
  EXPECT_FALSE(automatic->isConversion());
  EXPECT_EQ(int64Of(automatic->parameters(), "_err"), 10);
  automatic->setConversion(true);
  EXPECT_TRUE(automatic->isConversion());
  EXPECT_FALSE(automatic->parameters().contains("_err"));

  // A conversion with a value needs a currency.
  auto purchase = APMEvent::initWithOrigin("app", false, "purchase", 10, 0,
                                           {{"_c", int64_t(1)}, {"value", 9.99}, {"currency", "us"}});
  EXPECT_FALSE(purchase->isConversion());
  EXPECT_FALSE(purchase->parameters().contains("value"));
  EXPECT_EQ(int64Of(purchase->parameters(), "_err"), 19);
}

TEST(APMEvent, FlagsAndScreenParameters) {
  MeasurementTestEnvironment env;
  auto event = APMEvent::initWithOrigin("auto", false, "_vs", 10, 0, {{"_r", "yes"}});
  EXPECT_FALSE(event->isRealtime());
  event->setRealtime(true);
  event->setDebug(true);
  EXPECT_TRUE(event->isRealtime());
  EXPECT_TRUE(event->isDebug());
  event->setDebug(false);
  EXPECT_FALSE(event->parameters().contains("_dbg"));

  EXPECT_FALSE(event->addScreenParameters({{"_si", "12"}, {"_sn", "Home"}}));
  EXPECT_FALSE(event->addScreenParameters({{"_sn", "Home"}}));
  EXPECT_TRUE(event->addScreenParameters({{"_si", int64_t(12)}, {"_sn", "Home"}, {"_sc", typed(Value("Main"))}}));
  EXPECT_EQ(int64Of(event->parameters(), "_si"), 12);
  EXPECT_EQ(stringOf(event->parameters(), "_sn"), "Home");
  EXPECT_EQ(stringOf(event->parameters(), "_sc"), "Main");
  EXPECT_FALSE(event->addScreenParameters({{"_si", int64_t(13)}}));
  EXPECT_EQ(APMExtractScreenParameters(event->parameters()).size(), 3u);

  // Copies re-validate.
  auto copy = event->copyWithParameters({{"ok", int64_t(1)}, {"a b", int64_t(2)}});
  EXPECT_TRUE(copy->parameters().contains("ok"));
  EXPECT_FALSE(copy->parameters().contains("a b"));
  EXPECT_EQ(int64Of(copy->parameters(), "_err"), 3);
  EXPECT_EQ(copy->copyWithPreviousTimestamp(4)->previousTimestamp(), 4);

  event->applyParameters({{"extra", "x"}, {"_o", "other"}}, false);
  EXPECT_EQ(stringOf(event->parameters(), "extra"), "x");
  EXPECT_EQ(stringOf(event->parameters(), "_o"), "auto");
}

TEST(APMEvent, WireFormBothWays) {
  MeasurementTestEnvironment env;
  auto event = APMEvent::initWithOrigin("app", false, "_vs", 1.5, 0, {});
  EXPECT_EQ(hex(*event->protoEvent()->protoBuffer()), "0a090a025f6f120361707012035f767318dc0b");

  auto back = APMEvent::initWithEventProto(APMPBEvent::initWithBuffer(unhex("0a090a025f6f120361707012035f767318dc0b")).get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->origin(), "app");
  EXPECT_EQ(back->name(), "_vs");
  EXPECT_EQ(back->timestamp(), 1.5);
  EXPECT_EQ(back->previousTimestamp(), 0);

  // Items nest as unnamed messages; reading back drops them with 15002.
  auto purchase = APMEvent::initWithOrigin(
      "app", false, "purchase", 2, 1,
      {{"items", Value::array({Value::dict({{"item_id", "a"}}), Value::dict({{"item_id", "b"}})})}, {"n", int64_t(3)}});
  std::shared_ptr<APMPBEvent> proto = purchase->protoEvent();
  EXPECT_EQ(APMPBGetInt64(proto.get(), APMPBEventSlot::kPreviousTimestamp), 1000);
  std::optional<platform::Array> params = APMPBGetArray<APMPBEventParam>(proto.get(), APMPBEventSlot::kParams);
  ASSERT_EQ(params->size(), 3u);
  auto items = APMPBObjectFromValue<APMPBEventParam>((*params)[0]);
  EXPECT_EQ(APMPBGetString(items.get(), APMPBEventParamSlot::kName), "items");
  std::optional<platform::Array> elements =
      APMPBGetArray<APMPBEventParam>(items.get(), APMPBEventParamSlot::kParamValue);
  ASSERT_EQ(elements->size(), 2u);
  auto first = APMPBObjectFromValue<APMPBEventParam>((*elements)[0]);
  EXPECT_FALSE(APMPBHasField(first.get(), APMPBEventParamSlot::kName));
  EXPECT_EQ(APMPBGetArray(first.get(), APMPBEventParamSlot::kParamValue)->size(), 1u);
  auto read = APMEvent::initWithEventProto(proto.get());
  ASSERT_NE(read, nullptr);
  EXPECT_FALSE(read->parameters().contains("items"));
  EXPECT_EQ(int64Of(read->parameters(), "n"), 3);

  // Without "_o" nothing is made.
  EXPECT_EQ(APMEvent::initWithEventProto(APMPBEvent::initWithBuffer(unhex("12035f7673")).get()), nullptr);
}

// The wire form of events of every parameter kind, byte for byte: scalars
// of each kind and edge value, lists of items (the validation leaves out an
// element that is not a dictionary and notes it in "_err" and "_ev"), many
// parameters, long texts, both timestamps.
TEST(APMEvent, WireFormGoldenBytes) {
  MeasurementTestEnvironment env;
  struct Case {
    const char* name;
    std::function<std::shared_ptr<APMEvent>()> make;
    std::string hex;
  };
  const std::string longText(200, 'w');
  const std::vector<Case> cases = {
      {"scalars of each kind",
       [] {
         return APMEvent::initWithOrigin("app", false, "purchase", 1700000000.25, 0,
                                         {{"currency", "EUR"}, {"value", 12}, {"ratio", -0.5}, {"empty", ""},
                                          {"big", int64_t(-9007199254740993)}, {"zero", 0.0}});
       },
       "0a0f0a0863757272656e637912034555520a090a0576616c7565180c0a100a05726174696f29000000000000e0bf0a090a05656d70747912000a100a0362696718ffffffffffffffefff010a0f0a047a65726f2900000000000000000a090a025f6f12036170701208707572636861736518fad195ffbc31"},
      {"previous timestamp and negative time",
       [] { return APMEvent::initWithOrigin("auto", false, "_e", -2.5, -3.75, {{"n", int64_t(1) << 40}}); }, "0a0a0a016e188080808080200a0a0a025f6f12046175746f12025f6518bcecffffffffffffff01"},
      {"items of mixed kinds",
       [] {
         return APMEvent::initWithOrigin(
             "app", false, "purchase", 3, 1,
             {{"items", Value::array({Value::dict({{"item_id", "a"}, {"price", 2.5}, {"quantity", 3}}),
                                      Value::dict({{"item_name", "b"}}), Value("not an item"),
                                      Value::dict({})})},
              {"value", 7.5},
              {"currency", "USD"}});
       },
       "0a490a056974656d73322e320c0a076974656d5f696412016132100a057072696365290000000000000440320c0a087175616e7469747918033210320e0a096974656d5f6e616d651201620a100a0576616c7565290000000000001e400a0f0a0863757272656e637912035553440a080a045f65727218040a0f0a035f657612086974656d735b325d0a090a025f6f12036170701208707572636861736518b81720e807"},
      {"many parameters and a long text",
       [&longText] {
         Dictionary parameters;
         for (int index = 0; index < 9; ++index) parameters.set("p" + std::to_string(index), index * 1000);
         parameters.set("long", longText);
         return APMEvent::initWithOrigin("app", false, "many", 5, 0, parameters);
       },
       "0a060a02703018000a070a02703118e8070a070a02703218d00f0a070a02703318b8170a070a02703418a01f0a070a0270351888270a070a02703618f02e0a070a02703718d8360a070a02703818c03e0ad1010a046c6f6e6712c801" +
           std::string(400, '7') +
           "0a090a025f6f120361707012046d616e79188827"},
  };
  // One buffer for every case, as a run of raw event inserts uses it.
  platform::Bytes bytes(4096, 0xEE);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<APMEvent> event = c.make();
    ASSERT_NE(event, nullptr);
    std::shared_ptr<APMPBEvent> proto = event->protoEvent();
    ASSERT_NE(proto, nullptr);
    EXPECT_EQ(hex(*proto->protoBuffer()), c.hex);
    ASSERT_TRUE(event->encodeProtoEvent(bytes, true));
    EXPECT_EQ(hex(bytes), c.hex);
    // Without the name: the message with its name cleared.
    APMPBClearField(proto.get(), APMPBEventSlot::kName);
    ASSERT_TRUE(event->encodeProtoEvent(bytes, false));
    EXPECT_EQ(bytes, proto->protoBuffer());
    // The bytes decode to a message that encodes to the same bytes.
    EXPECT_EQ(hex(*APMPBEvent::initWithBuffer(unhex(c.hex))->protoBuffer()), c.hex);
  }
}

// A value whose kind says text or list but that holds something else has
// nothing to encode: it is left out (16005), the rest goes on.
TEST(APMEvent, WireFormLeavesOutValuesThatDisagreeWithTheirKind) {
  MeasurementTestEnvironment env;
  auto event = APMEvent::initWithOrigin("app", false, "_e", 1, 0, {{"n", int64_t(2)}});
  ASSERT_NE(event, nullptr);
  event->applyParameters({{"t", APMValue::toObject(std::make_shared<APMValue>(APMValue::kString, Value(5)))},
                          {"l", APMValue::toObject(std::make_shared<APMValue>(APMValue::kArray, Value("x")))}},
                         false);
  ASSERT_TRUE(event->parameters().contains("t") && event->parameters().contains("l"));
  EXPECT_EQ(hex(*event->protoEvent()->protoBuffer()), "0a050a016e18020a090a025f6f120361707012025f6518e807");
  platform::Bytes bytes;
  ASSERT_TRUE(event->encodeProtoEvent(bytes, true));
  EXPECT_EQ(hex(bytes), "0a050a016e18020a090a025f6f120361707012025f6518e807");
}

TEST(APMEvent, EditableFormRoundTrip) {
  MeasurementTestEnvironment env;
  auto event = APMEvent::initWithOrigin("auto", false, "_vs", 7, 0, {{"d", 1.25}, {"i", int64_t(4)}, {"s", "t"}});
  APMPEvent edit = event->editEvent();
  EXPECT_EQ(edit.name(), "screen_view");
  EXPECT_EQ(edit.parameterForName("i"), Value(int64_t(4)));
  EXPECT_EQ(edit.parameterForName("_o"), Value("auto"));
  auto back = APMEvent::eventFromEditEvent(edit);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->name(), "_vs");
  EXPECT_EQ(back->origin(), "auto");
  EXPECT_EQ(back->timestamp(), 7);
  EXPECT_EQ(stringOf(back->parameters(), "s"), "t");
  APMPEvent plain("custom", 1, {});
  EXPECT_EQ(APMEvent::eventFromEditEvent(plain)->origin(), "app");
}

TEST(APMEvent, MillisecondsSaturate) {
  EXPECT_EQ(APMMillisecondsFromSeconds(1.5), 1500);
  EXPECT_EQ(APMMillisecondsFromSeconds(-1.5), -1500);
  EXPECT_EQ(APMMillisecondsFromSeconds(1e300), INT64_MAX);
  EXPECT_EQ(APMMillisecondsFromSeconds(-1e300), INT64_MIN);
  EXPECT_EQ(APMMillisecondsFromSeconds(std::numeric_limits<double>::infinity()), INT64_MAX);
  EXPECT_EQ(APMMillisecondsFromSeconds(std::nan("")), 0);
}

TEST(APMEvent, Classifiers) {
  MeasurementTestEnvironment env;
  auto iap = APMEvent::initWithOrigin("auto", false, "_iap", 1, 0, {{"subscription", int64_t(1)}});
  EXPECT_TRUE(APMIsSubscriptionEvent(iap.get()));
  EXPECT_FALSE(APMIsSubscriptionEvent(APMEvent::initWithOrigin("auto", false, "_iap", 1, 0, {{"subscription", "1"}}).get()));
  EXPECT_TRUE(APMIsSubscriptionEvent(APMEvent::initWithOrigin("auto", false, "_assr", 1, 0, {}).get()));
  EXPECT_TRUE(APMIsErrorEvent(APMEvent::initWithOrigin("auto", false, "_err", 1, 0, {}).get()));
  EXPECT_FALSE(APMIsErrorEvent(iap.get()));
  EXPECT_TRUE(APMIsDefaultConversionEventName("refund"));
  EXPECT_FALSE(APMIsPurchaseEventName("refund"));
  EXPECT_TRUE(APMIsNotErrorEventName("x"));
  EXPECT_EQ(APMRemoveGadParameters({{"gad_source", "1"}, {"g", 2}}).size(), 1u);
  auto purchase = APMEvent::initWithOrigin("app", false, "purchase", 1, 0,
                                           {{"items", Value::array({Value::dict({{"a", 1}}), Value::dict({{"a", 2}})})}});
  EXPECT_EQ(APMCountArrayParameterItems(purchase.get()), 2);
  EXPECT_EQ(APMCountArrayParameterItems(nullptr), 0);
}

}  // namespace
