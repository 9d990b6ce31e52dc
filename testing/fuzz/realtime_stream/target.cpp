// The realtime stream's receive buffer and message decoding. An input is
//   byte 0   the buffer limit: 0 for the real 65536 bytes, else 4 times it
//   byte 1   a seed for cutting the stream into chunks
//   rest     the bytes the service writes
// The stream is fed whole, byte by byte and in seeded pieces, each time both
// to the buffer and to a plain re-reading model that searches the whole
// buffered text again on every chunk; they must agree on every event,
// refusal text and message. Checked promises: nothing above the limit stays
// buffered; each message is a balanced object cut from the stream, in
// order; when no chunking drops, refuses or stops early, every chunking
// yields the same messages; the memory the buffer reserves stays within
// twice the limit plus the largest chunk, however long the stream. Every
// message is then decoded as the stream does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/storage/Json.h"
#include "sdk/remote-config/RCNRealtimeMessage.h"
#include "sdk/remote-config/RCNRealtimeMessageBuffer.h"
#include "testing/fuzz/FuzzCheck.h"

namespace {

using Appended = RCNRealtimeMessageBuffer::Appended;

// Position of the "}" closing the object that opens at `start`, or npos.
size_t closingBrace(const std::string& text, size_t start) {
  int depth = 0;
  for (size_t i = start; i < text.size(); ++i) {
    switch (text[i]) {
      case '"':
        // Skip the string: a backslash takes the next byte with it.
        for (++i; i < text.size() && text[i] != '"'; ++i) {
          if (text[i] == '\\') ++i;
        }
        if (i >= text.size()) return std::string::npos;
        break;
      case '{':
        ++depth;
        break;
      case '}':
        if (--depth == 0) return i;
        break;
      default:
        break;
    }
  }
  return std::string::npos;
}

// The model: everything buffered is searched again on every chunk.
class Model {
 public:
  explicit Model(size_t limit) : m_limit(limit) {}

  Appended feed(std::string_view chunk, std::string& refused, const std::function<bool(const std::string&)>& take) {
    m_text.append(chunk);
    m_text.erase(0, std::min(m_text.find('{'), m_text.size()));
    if (m_text.size() > m_limit) {
      m_text.clear();
      return Appended::Overflow;
    }
    if (m_text.find("\"code\": 403") != std::string::npos) {
      refused = m_text;
      m_text.clear();
      return Appended::Forbidden;
    }
    for (size_t start = m_text.find('{'); start != std::string::npos; start = m_text.find('{')) {
      const size_t end = closingBrace(m_text, start);
      if (end == std::string::npos) {
        m_text.erase(0, start);
        return Appended::Buffered;
      }
      const std::string message = m_text.substr(start, end - start + 1);
      m_text.erase(0, end + 1);
      if (!take(message)) return Appended::Buffered;
    }
    m_text.clear();
    return Appended::Buffered;
  }

 private:
  size_t m_limit;
  std::string m_text;
};

// Like the stream: a message saying "featureDisabled" ends the reading of its chunk.
bool goesOn(const std::string& message) { return message.find("featureDisabled") == std::string::npos; }

struct Run {
  std::vector<std::string> messages;
  bool cutShort = false;  // something dropped, refused or left unread
};

Run feed(std::string_view stream, const std::vector<size_t>& cuts, size_t limit) {
  RCNRealtimeMessageBuffer buffer(limit);
  Model model(limit);
  Run run;
  size_t largestChunk = 0;
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    const size_t to = i < cuts.size() ? cuts[i] : stream.size();
    const std::string_view chunk = stream.substr(from, to - from);
    from = to;
    std::vector<std::string> expected;
    std::string refused;
    const Appended modelled = model.feed(chunk, refused, [&](const std::string& message) {
      expected.push_back(message);
      return goesOn(message);
    });
    const Appended appended = buffer.append(chunk);
    FUZZ_CHECK(appended == modelled);
    FUZZ_CHECK(buffer.size() <= limit);
    largestChunk = std::max(largestChunk, chunk.size());
    FUZZ_CHECK(buffer.capacity() <= 2 * (limit + largestChunk) + 64);
    if (appended == Appended::Forbidden) FUZZ_CHECK(buffer.forbiddenText() == refused);
    if (appended != Appended::Buffered) {
      FUZZ_CHECK(buffer.size() == 0);
      run.cutShort = true;
      continue;
    }
    std::vector<std::string> taken;
    while (std::optional<std::string> message = buffer.nextMessage()) {
      taken.push_back(*message);
      if (!goesOn(*message)) {
        run.cutShort = true;
        break;
      }
    }
    FUZZ_CHECK(taken == expected);
    run.messages.insert(run.messages.end(), taken.begin(), taken.end());
  }
  // Messages are whole objects cut from the stream, in order.
  size_t at = 0;
  for (const std::string& message : run.messages) {
    FUZZ_CHECK(message.size() >= 2 && message.front() == '{' && closingBrace(message, 0) == message.size() - 1);
    const size_t found = stream.find(message, at);
    FUZZ_CHECK(found != std::string_view::npos);
    at = found + message.size();
  }
  return run;
}

void decode(const std::string& text) {
  const std::optional<RCNRealtimeMessage> message = RCNRealtimeMessage::parse(text);
  platform::Result<platform::Value> parsed = platform::Json::parse(text);
  const bool object = parsed.ok() && parsed.value().isDictionary();
  FUZZ_CHECK(message.has_value() == object);
  if (!message) return;
  const platform::Value& value = parsed.value();
  FUZZ_CHECK(message->featureDisabled == value.asDictionary()->contains("featureDisabled"));
  if (!value.asDictionary()->contains("latestTemplateVersionNumber")) FUZZ_CHECK(message->latestTemplateVersionNumber == 1);
  if (!value.asDictionary()->contains("retryIntervalSeconds")) FUZZ_CHECK(message->retryIntervalSeconds == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t limit = data[0] == 0 ? kRCNRealtimeMaxBufferBytes : size_t{data[0]} * 4;
  uint32_t seed = data[1] | 0x100u;
  const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

  std::vector<size_t> bytewise;
  for (size_t i = 1; i < stream.size(); ++i) bytewise.push_back(i);
  std::vector<size_t> pieces;
  for (size_t at = 0;;) {
    seed ^= seed << 13;
    seed ^= seed >> 17;
    seed ^= seed << 5;
    at += 1 + seed % 24;
    if (at >= stream.size()) break;
    pieces.push_back(at);
  }

  const Run whole = feed(stream, {}, limit);
  const Run single = feed(stream, bytewise, limit);
  const Run cut = feed(stream, pieces, limit);
  if (!whole.cutShort && !single.cutShort && !cut.cutShort) {
    FUZZ_CHECK(single.messages == whole.messages);
    FUZZ_CHECK(cut.messages == whole.messages);
  }
  for (const std::string& message : whole.messages) decode(message);
  return 0;
}
