#include "sdk/utilities/ZULAssertionHandler.h"

#include <mutex>

#include "platform/values/Exception.h"

namespace {

std::mutex& handlerMutex() {
  static auto* const mutex = new std::mutex();
  return *mutex;
}

ZULAssertionHandler::Handler& currentHandler() {
  static auto* const handler = new ZULAssertionHandler::Handler();
  return *handler;
}

}  // namespace

void ZULAssertionHandler::handleFailure(const std::string& description) {
  Handler handler;
  {
    std::lock_guard<std::mutex> guard(handlerMutex());
    handler = currentHandler();
  }
  if (!handler) {
    platform::Exception::raise(platform::Exception::kInternalInconsistencyException, description);
  }
  handler(description);
}

ZULAssertionHandler::Handler ZULAssertionHandler::setCurrent(Handler handler) {
  std::lock_guard<std::mutex> guard(handlerMutex());
  Handler previous = std::move(currentHandler());
  currentHandler() = std::move(handler);
  return previous;
}
