// Exceptions escaping the experiment queues' blocks: runCatching runs a block
// and hands whatever it threw to `report` as a platform::Exception (a
// std::exception by its what(), anything else as "unknown"), so that the
// queue goes on and the monitor can name it.
#pragma once

#include <exception>
#include <functional>

#include "platform/values/Exception.h"

namespace apme_internal {

// Answers whether the block ran to its end.
inline bool runCatching(const std::function<void()>& block,
                        const std::function<void(const platform::Exception&)>& report) {
  try {
    block();
    return true;
  } catch (const platform::Exception& exception) {
    report(exception);
  } catch (const std::exception& exception) {
    report(platform::Exception("std::exception", exception.what()));
  } catch (...) {
    report(platform::Exception("unknown", "an exception of unknown type"));
  }
  return false;
}

}  // namespace apme_internal
