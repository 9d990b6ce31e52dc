// The realtime stream's receive buffer and message decoding, without a
// connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/remote-config/RCNRealtimeMessage.h"
#include "sdk/remote-config/RCNRealtimeMessageBuffer.h"

namespace {

using Appended = RCNRealtimeMessageBuffer::Appended;

// Feeds the chunks and writes down what comes out: each message, and
// "overflow" or "refused <text>" for the other answers of append.
std::vector<std::string> feed(const std::vector<std::string>& chunks, size_t limit = kRCNRealtimeMaxBufferBytes) {
  RCNRealtimeMessageBuffer buffer(limit);
  std::vector<std::string> out;
  for (const std::string& chunk : chunks) {
    switch (buffer.append(chunk)) {
      case Appended::Overflow:
        out.push_back("overflow");
        break;
      case Appended::Forbidden:
        out.push_back("refused " + buffer.forbiddenText());
        break;
      case Appended::Buffered:
        while (std::optional<std::string> message = buffer.nextMessage()) out.push_back(*message);
        break;
    }
    EXPECT_LE(buffer.size(), limit);
  }
  return out;
}

TEST(RealtimeMessageBufferTest, CutsTheStreamIntoMessages) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"one per write", {"{\"a\":1}", "{\"b\":2}"}, {"{\"a\":1}", "{\"b\":2}"}},
      {"split over writes", {"{\"a\"", ":", "1}"}, {"{\"a\":1}"}},
      {"two in one write, text between dropped", {"x{\"a\":1}\r\n {\"b\":2} y"}, {"{\"a\":1}", "{\"b\":2}"}},
      {"nested objects", {"{\"a\":{\"b\":{}}}{}"}, {"{\"a\":{\"b\":{}}}", "{}"}},
      {"braces and escaped quotes inside strings",
       {"{\"a\":\"}{\\\"}\"", ",\"b\":\"\\\\\"}"},
       {"{\"a\":\"}{\\\"}\",\"b\":\"\\\\\"}"}},
      {"split UTF-8 sequence", {"{\"n\":\"caf\xC3", "\xA9\"}"}, {"{\"n\":\"caf\xC3\xA9\"}"}},
      {"a stray closing brace is text", {"}{\"a\":1}"}, {"{\"a\":1}"}},
      {"an unfinished message waits", {"{\"a\":1}{\"b\""}, {"{\"a\":1}"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(feed(c.chunks), c.messages);
  }
}

TEST(RealtimeMessageBufferTest, OverflowDropsEverythingAndTheStreamGoesOn) {
  // 16 bytes at most: the first message never fits.
  EXPECT_EQ(feed({"{\"pad\":\"0123456789", "abcdef\"}", "{\"a\":1}"}, 16),
            (std::vector<std::string>{"overflow", "{\"a\":1}"}));
  // Counted from the first "{": text before it costs nothing.
  EXPECT_EQ(feed({std::string(100, ' ') + "{\"a\":1}"}, 16), (std::vector<std::string>{"{\"a\":1}"}));
  // Exactly at the limit is kept.
  EXPECT_EQ(feed({"{\"a\":\"0123456789\"}"}, 18), (std::vector<std::string>{"{\"a\":\"0123456789\"}"}));
}

TEST(RealtimeMessageBufferTest, ARefusalTakesTheWholeBufferedText) {
  EXPECT_EQ(feed({"{\"code\": 403, \"message\": \"denied\"}"}),
            (std::vector<std::string>{"refused {\"code\": 403, \"message\": \"denied\"}"}));
  // Found across chunk boundaries, from the first "{" held.
  EXPECT_EQ(feed({"x{\"error\": {\"code\": 4", "03}", "}"}),
            (std::vector<std::string>{"refused {\"error\": {\"code\": 403}"}));
  // Only text still held counts: text between messages is gone once read.
  EXPECT_EQ(feed({"{\"a\":1} \"code\": 40", "3 {\"b\":2}"}), (std::vector<std::string>{"{\"a\":1}", "{\"b\":2}"}));
}

TEST(RealtimeMessageBufferTest, ReadingMayStopAndResumeWithTheNextChunk) {
  RCNRealtimeMessageBuffer buffer;
  ASSERT_EQ(buffer.append("{\"a\":1} junk {\"b\":2} {\"c\""), Appended::Buffered);
  EXPECT_EQ(buffer.nextMessage(), "{\"a\":1}");
  // The rest stays; the next chunk continues from it.
  ASSERT_EQ(buffer.append(":3}"), Appended::Buffered);
  EXPECT_EQ(buffer.nextMessage(), "{\"b\":2}");
  EXPECT_EQ(buffer.nextMessage(), "{\"c\":3}");
  EXPECT_EQ(buffer.nextMessage(), std::nullopt);
  EXPECT_EQ(buffer.size(), 0u);
}

TEST(RealtimeMessageBufferTest, DecodesTheFieldsOfAMessage) {
  struct Case {
    const char* text;
    std::optional<RCNRealtimeMessage> message;
  };
  const Case cases[] = {
      {R"({"latestTemplateVersionNumber": 12})", RCNRealtimeMessage{12, false, 0}},
      {R"({"latestTemplateVersionNumber": "12", "retryIntervalSeconds": "120"})", RCNRealtimeMessage{12, false, 120}},
      {R"({"latestTemplateVersionNumber": true, "retryIntervalSeconds": [1]})", RCNRealtimeMessage{1, false, 0}},
      {R"({"latestTemplateVersionNumber": "12a", "retryIntervalSeconds": 1e300})",
       RCNRealtimeMessage{1, false, INT64_MAX}},
      {R"({"featureDisabled": false})", RCNRealtimeMessage{1, true, 0}},
      {"{not json}", std::nullopt},
      {"[1]", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<RCNRealtimeMessage> message = RCNRealtimeMessage::parse(c.text);
    ASSERT_EQ(message.has_value(), c.message.has_value());
    if (!message) continue;
    EXPECT_EQ(message->latestTemplateVersionNumber, c.message->latestTemplateVersionNumber);
    EXPECT_EQ(message->featureDisabled, c.message->featureDisabled);
    EXPECT_EQ(message->retryIntervalSeconds, c.message->retryIntervalSeconds);
  }
}

}  // namespace
