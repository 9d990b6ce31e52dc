#include "Tavix_YouTube/ui/viewmodels/MyAnalytics.h"

#include <mutex>

namespace {

std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

MyAnalytics::Sink& currentSink() {
  static MyAnalytics::Sink sink;
  return sink;
}

}  // namespace

void MyAnalytics::logEvent(const std::string& name, const Parameters& parameters) {
  platform::Dictionary dictionary;
  for (const auto& [key, value] : parameters) dictionary.set(key, platform::Value(value));
  Sink sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) sink(name, dictionary);
}

MyAnalytics::Sink MyAnalytics::setSink(Sink sink) {
  std::lock_guard lock(sinkMutex());
  Sink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}
