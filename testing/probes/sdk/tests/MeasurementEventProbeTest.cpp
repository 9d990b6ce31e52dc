// sdk-probe's parameter validation and event subcommands, run as the CI runs them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/probes/sdk/tests/SdkProbeFixture.h"

namespace {

class MeasurementEventProbeTest : public sdkprobetest::SdkProbeFixture {};

TEST_F(MeasurementEventProbeTest, ValidateParameters) {
  const std::string longValue(600, 'e');
  const std::string items = write("items.json", R"({"items":[{"b":1},{"c":"x"},{"d":2.5},"s"]})");
  expectAll({
      {R"(validate-params purchase 1 0 '{"value":1.5,"currency":"USD","x":2,"items":[{"item_id":"a"}],"ga_x":1}')", 0,
       R"(=> {"_err":14,"_ev":"ga_x","currency":"USD","items":[{"item_id":"a"}],"value":1.5,"x":2})" "\n",
       "[I-ACS013008] Parameter name uses reserved prefix. Ignoring parameter: ga_x"},
      // The fourth item is a string: it is left out and named.
      {"validate-params purchase 1 0 @" + items, 0,
       R"(=> {"_err":4,"_ev":"items[3]","items":[{"b":1},{"c":"x"},{"d":2.5}]})" "\n",
       "[I-ACS013014] Array param must be a dictionary. Parameters: s"},
      // No event name: arrays are refused.
      {R"(validate-params '' 1 0 '{"a":[{"b":1}]}')", 0, R"x(=> {"_err":21,"_ev":"(nil)"})x" "\n"},
      // An internal "_ev" is trimmed with "..." and its length kept.
      {"validate-params '' 0 0 '{\"_ev\":\"" + longValue + "\"}'", 0,
       "=> {\"_el\":600,\"_ev\":\"" + longValue.substr(0, 500) + "...\"}\n"},
      {"validate-params x 2 0 '{}'", 2, "=> error PUBLIC and ITEMS must be 0 or 1\n"},
      {"validate-params x 1 0 '[1]'", 2, "=> error JSON must be an object\n"},
  });
}

TEST_F(MeasurementEventProbeTest, ValidatorFunctionsAndErrorCodeNames) {
  expectAll({
      {R"(validator isValidPublicEventName '["ga_foo"]')", 0, "=> NO 4\n",
       "[I-ACS013007] Event name uses reserved prefix. Ignoring event: ga_foo"},
      {R"(validator isValidPublicEventName '["screen_view"]')", 0, "=> YES 0\n"},
      {R"(validator isValidForwardedEventOrigin '["app+ztm"]')", 0, "=> YES 0\n"},
      {R"(validator isValidInternalEventOrigin '["app+ztm"]')", 0, "=> NO 3\n"},
      {R"(validator isValidInternalUserAttributeValue '["abc","_id"]')", 0, "=> YES 0\n"},
      {R"(validator isValidString '["abc",1,2,3]')", 0, "=> NO 2\n",
       "[I-ACS013000] Event parameter value is too long. The maximum supported length is 2: abc"},
      {R"(validator isValidPublicEventParameterValue '[12]')", 0, "=> YES 0\n"},
      {"validator nope '[]'", 2, "=> error unknown method: nope\n"},
      {R"(validator isValidString '[1]')", 2, "=> error arguments of isValidString must be a JSON array of kinds viii\n"},
      {"error-code-name 5", 0, "=> ParameterLimitReached\n"},
      {"error-code-name 99", 0, "=> nil\n"},
      {"error-code-name x", 2, "=> error CODE must be an integer\n"},
  });
}

TEST_F(MeasurementEventProbeTest, EventsToTheWireAndBack) {
  const std::string purchase =
      "0a250a056974656d73321c320c0a076974656d5f6964120161320c0a017029000000000000f83f0a090a0576616c756518030a0f0a08"
      "63757272656e637912034555520a090a025f6f12036170701208707572636861736518ffffffffffffffff7f";
  expectAll({
      {"event app 0 _vs 1.5 0 '{}'", 0, "=> 0a090a025f6f120361707012035f767318dc0b\n=> {\"_o\":\"app\"}\n"},
      {"event app 1 _vs 1.5 0 '{}'", 0, "=> nil\n", "[I-ACS013003] Event name must start with a letter: _vs"},
      // A time past the int64 range of milliseconds saturates.
      {R"(event app 1 purchase 1e300 -1e300 '{"items":[{"item_id":"a","p":1.5}],"value":3,"currency":"EUR"}')", 0,
       "=> " + purchase + "\n" + R"(=> {"_o":"app","currency":"EUR","items":[{"item_id":"a","p":1.5}],"value":3})" "\n"},
      {R"(event auto 0 _ab 1700000000.25 1699999999.5 '{"_c":1,"big":12345678901234,"d":-0.5}')", 0,
       "=> 0a060a025f6318010a0d0a0362696718f2dfb89ea7e7020a0c0a016429000000000000e0bf0a0a0a025f6f12046175746f12035f6162"
       "18fad195ffbc31208ccc95ffbc31\n"
       R"(=> {"_c":1,"_o":"auto","big":12345678901234,"d":-0.5})" "\n"},
      {"event app 2 x 0 0 '{}'", 2, "=> error PUBLIC must be 0 or 1\n"},
      {"event app 1 x soon 0 '{}'", 2, "=> error TIMESTAMP and PREVIOUS must be numbers\n"},

      {"event-from-proto 0a090a025f6f120361707012035f767318dc0b", 0, "=> app _vs 1.5 0\n=> {\"_o\":\"app\"}\n"},
      {"event-from-proto 0a060a025f6318010a0d0a0362696718f2dfb89ea7e7020a0c0a016429000000000000e0bf0a0a0a025f6f1204617574"
       "6f12035f616218fad195ffbc31208ccc95ffbc31",
       0, "=> auto _ab 1700000000.25 1699999999.5\n" R"(=> {"_c":1,"_o":"auto","big":12345678901234,"d":-0.5})" "\n"},
      // Array parameters are dropped when read back.
      {"event-from-proto " + purchase, 0,
       "=> app purchase 9223372036854776 0\n" R"(=> {"_o":"app","currency":"EUR","value":3})" "\n"},
      // No "_o": no event; an undecodable message: no event and a failure.
      {"event-from-proto 12035f767318dc0b", 0, "=> nil\n"},
      {"event-from-proto 0a", 1, "<ERROR> Event decoder failed: end-of-stream\n=> nil\n"},
      {"event-from-proto zz", 2, "=> error bad input: zz\n"},
  });
  const std::string raw = write("event.bin", std::string("\x0a\x09\x0a\x02_o\x12\x03" "app\x12\x03_vs\x18\xdc\x0b", 19));
  expectAll({{"event-from-proto @" + raw, 0, "=> app _vs 1.5 0\n=> {\"_o\":\"app\"}\n"}});
}

}  // namespace
