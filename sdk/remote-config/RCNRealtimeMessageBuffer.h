// RCNRealtimeMessageBuffer: the receive buffer of one realtime connection,
// which cuts the byte stream into messages.
//
// Bytes are appended as they arrive. nextMessage() takes out the complete
// top-level JSON objects in order: from a "{" to its matching "}", braces
// inside JSON strings not counted (a backslash escapes the next byte there).
// Text before a "{" belongs to no message and is dropped; an unfinished
// object waits for the next chunk. Bytes are kept as they came, so a UTF-8
// sequence split between chunks is whole again in the message. The brace
// matching itself does not look at whether the text is JSON: the message
// handler parses what comes out.
//
// After each append, counted from the first "{" held:
// - more than `limit` bytes: all of it is dropped (Overflow), the stream
//   goes on with the next chunk;
// - text holding `"code": 403`: all of it is taken out (Forbidden) as the
//   text of the service's refusal.
// As long as neither happens, the messages are the same however the bytes
// were cut into chunks. Every byte is examined a bounded number of times, so
// a stream that trickles in byte by byte costs no more than one big chunk.
//
// Thread safety: none; a connection's buffer is used on one queue.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kRCNRealtimeMaxBufferBytes = 65536;

class RCNRealtimeMessageBuffer {
 public:
  enum class Appended { Buffered, Overflow, Forbidden };

  explicit RCNRealtimeMessageBuffer(size_t limit = kRCNRealtimeMaxBufferBytes) : m_limit(limit) {}

  // Adds a chunk. With Forbidden, forbiddenText() holds the text taken out.
  Appended append(std::string_view chunk);
  const std::string& forbiddenText() const { return m_forbidden; }
  // The next complete message, or none: then only an unfinished one is held.
  std::optional<std::string> nextMessage();
  // Bytes held (never more than the limit after an append).
  size_t size() const { return m_bytes.size() - m_start; }
  // Memory reserved for them (at most about twice the limit plus the
  // largest chunk appended).
  size_t capacity() const { return m_bytes.capacity(); }
  void clear();

 private:
  void restartScan(size_t brace);

  size_t m_limit;
  std::string m_bytes;
  size_t m_start = 0;  // first byte still held
  std::string m_forbidden;
  // The object starting at m_start being matched (m_open), and how far.
  bool m_open = false;
  size_t m_scanned = 0;
  size_t m_depth = 0;
  bool m_inString = false;
  bool m_escape = false;
};
