#include "platform/log/Console.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <unistd.h>

#include "platform/log/ConsoleCapture.h"
#include "platform/log/internal/EscapeControls.h"
#include "platform/log/internal/WriteAll.h"

namespace platform {

namespace {

// Process-wide objects here are never destroyed: work still running while the
// process exits (queued blocks, destructors of other statics) may use them.

std::mutex& writerMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

console::Writer& writerSlot() {
  static auto* const writer = new console::Writer();
  return *writer;
}

// Serialises the default writer so concurrent lines stay whole.
std::mutex& stdoutMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

void writeToStdout(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() + 1);
  bytes.append(text);
  bytes.push_back('\n');
  std::lock_guard lock(stdoutMutex());
  // Whatever stdio (and std::cout, synchronised with it) holds goes first,
  // so the order of lines on the pipe is the order they were produced.
  std::fflush(stdout);
  internal::writeAll(STDOUT_FILENO, bytes);
}

}  // namespace

namespace console {

void line(std::string_view text) {
  std::string escaped;
  bool plain = true;
  for (size_t at = 0; at < text.size() && plain; ++at) plain = !internal::isEscapedControl(text, at);
  if (!plain) {
    internal::appendEscapingControls(escaped, text);
    text = escaped;
  }
  Writer writer;
  {
    std::lock_guard lock(writerMutex());
    writer = writerSlot();
  }
  if (writer) {
    writer(text);
  } else {
    writeToStdout(text);
  }
}

Writer setWriter(Writer writer) {
  std::lock_guard lock(writerMutex());
  Writer previous = std::move(writerSlot());
  writerSlot() = std::move(writer);
  return previous;
}

}  // namespace console

ConsoleCapture::ConsoleCapture() : m_state(std::make_shared<State>()) {
  std::shared_ptr<State> state = m_state;
  m_previous = console::setWriter([state](std::string_view text) {
    std::lock_guard lock(state->mutex);
    state->lines.emplace_back(text);
  });
}

ConsoleCapture::~ConsoleCapture() { console::setWriter(std::move(m_previous)); }

std::vector<std::string> ConsoleCapture::lines() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->lines;
}

}  // namespace platform
