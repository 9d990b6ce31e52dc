#include "platform/log/InternalProblem.h"

#include <mutex>
#include <string>

#include "platform/log/Log.h"

namespace platform {

namespace {
std::mutex& handlerMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}
InternalProblemHandler& handlerSlot() {
  static auto* const handler = new InternalProblemHandler();
  return *handler;
}
}  // namespace

void reportInternalProblem(std::string_view component, std::string_view text) {
  InternalProblemHandler handler;
  {
    std::lock_guard lock(handlerMutex());
    handler = handlerSlot();
  }
  if (handler) {
    handler(component, text);
    return;
  }
  Log("platform", std::string(component)).write(LogType::Error, text);
}

InternalProblemHandler setInternalProblemHandler(InternalProblemHandler handler) {
  std::lock_guard lock(handlerMutex());
  InternalProblemHandler previous = std::move(handlerSlot());
  handlerSlot() = std::move(handler);
  return previous;
}

}  // namespace platform
