#include "measurement/messages/internal/APMPBDiagnostics.h"

#include <cstdarg>
#include <cstdio>

#include "platform/log/Console.h"
#include "platform/log/Log.h"

namespace apmpb {

namespace {
thread_local std::string t_pendingFragment;
}

std::string format(const char* pattern, ...) {
  va_list arguments;
  va_start(arguments, pattern);
  va_list copy;
  va_copy(copy, arguments);
  const int size = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text;
  if (size > 0) {
    text.resize(static_cast<size_t>(size) + 1);
    std::vsnprintf(text.data(), text.size(), pattern, arguments);
    text.resize(static_cast<size_t>(size));
  }
  va_end(arguments);
  return text;
}

void consoleLine(std::string_view text) {
  if (t_pendingFragment.empty()) {
    platform::console::line(text);
    return;
  }
  std::string joined = std::move(t_pendingFragment);
  t_pendingFragment.clear();
  joined.append(text);
  platform::console::line(joined);
}

void consoleFragment(std::string_view text) { t_pendingFragment.append(text); }

void flushConsoleFragment() {
  if (t_pendingFragment.empty()) return;
  std::string text = std::move(t_pendingFragment);
  t_pendingFragment.clear();
  platform::console::line(text);
}

void systemLog(std::string_view text) {
  static const platform::Log log = platform::Log::handle("com.zoruvu.vod.measurement", "[NanoPB]");
  log.write(platform::LogType::Default, text);
}

void logWrongKind(const char* messageName, int32_t slot, const char* kind) {
  systemLog(format("<Nano/Failure> Field type isn't %s. Message: %s, field ID: %d", kind, messageName, slot));
}

}  // namespace apmpb
