#include <gtest/gtest.h>

#include "measurement/types/APMPEvent.h"

namespace {

TEST(APMPEvent, ParametersBelongToTheEvent) {
  platform::Dictionary given{{"a", 1}, {"s", "x"}};
  APMPEvent event = APMPEvent::initWithName("purchase", 1.5, given);
  given.set("b", 2);
  EXPECT_FALSE(event.hasParameterName("b"));
  platform::Dictionary handed = event.parameters();
  handed.set("c", 3);
  EXPECT_FALSE(event.hasParameterName("c"));

  event.setParameter(platform::Value(7), "a");
  EXPECT_EQ(event.parameterForName("a"), platform::Value(7));
  event.setParameter(platform::Value(), "a");
  EXPECT_FALSE(event.hasParameterName("a"));
  EXPECT_TRUE(event.parameterForName("a").isNull());

  APMPEvent copy = event.copy();
  copy.setParameter(platform::Value("y"), "s");
  copy.setName("other");
  EXPECT_EQ(event.parameterForName("s"), platform::Value("x"));
  EXPECT_EQ(event.name(), "purchase");

  APMPEvent empty;
  EXPECT_EQ(empty.name(), "");
  EXPECT_EQ(empty.timestamp(), 0);
  EXPECT_EQ(empty.parameters().size(), 0u);
}

TEST(APMPEvent, Equality) {
  const APMPEvent base("e", 10, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "t"}});
  struct Case {
    const char* name;
    APMPEvent other;
    bool equal;
  };
  const Case cases[] = {
      {"same content", APMPEvent("e", 10, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "t"}}), true},
      {"extra parameter on the other side", APMPEvent("e", 10, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "t"}, {"x", 1}}),
       true},
      {"missing parameter", APMPEvent("e", 10, {{"i", int64_t(3)}, {"d", 2.5}}), false},
      {"integer against an equal double", APMPEvent("e", 10, {{"i", 3.0}, {"d", 2.5}, {"s", "t"}}), false},
      {"int32 against int64", APMPEvent("e", 10, {{"i", 3}, {"d", 2.5}, {"s", "t"}}), true},
      {"other name", APMPEvent("f", 10, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "t"}}), false},
      {"timestamp within 2^-52", APMPEvent("e", 10 + 1e-16, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "t"}}), true},
      {"timestamp beyond", APMPEvent("e", 10.001, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "t"}}), false},
      {"other string", APMPEvent("e", 10, {{"i", int64_t(3)}, {"d", 2.5}, {"s", "u"}}), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(base.isEqualToEvent(c.other), c.equal) << c.name;
  }
  EXPECT_TRUE(base.isEqualToEvent(base));
  // Removing a parameter from one side only is seen from that side alone.
  APMPEvent fewer = base.copy();
  fewer.setParameter(platform::Value(), "s");
  EXPECT_TRUE(fewer.isEqualToEvent(base));
  EXPECT_FALSE(base.isEqualToEvent(fewer));
}

}  // namespace
