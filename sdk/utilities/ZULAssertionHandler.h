// ZULAssertionHandler: where the SDK utilities report programming errors
// (misuse that callers must never commit). The current handler receives the
// failure text; the default handler raises platform::Exception
// "NSInternalInconsistencyException" with that text as reason. Tests may
// install a handler that returns, after which the reporting code carries on
// with its documented fallback (a log line and an empty answer).
//
// Thread safety: every function may be called from any thread; the handler
// itself runs on the reporting thread.
#pragma once

#include <functional>
#include <string>

class ZULAssertionHandler {
 public:
  using Handler = std::function<void(const std::string& description)>;

  // Calls the current handler with `description`.
  static void handleFailure(const std::string& description);
  // Returns the previous handler; an empty handler restores the default.
  static Handler setCurrent(Handler handler);
};
