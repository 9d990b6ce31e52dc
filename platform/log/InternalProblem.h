// Reporting of internal problems by platform facilities (an exception that
// escaped a queued task, a broken invariant that was survived, ...).
//
// reportInternalProblem(component, text) writes `text` as an error line under
// subsystem "platform" and category `component`, unless a handler is
// installed, in which case the handler receives both instead. Handlers are
// process-wide and may be swapped from any thread; a handler must not call
// reportInternalProblem itself.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

using InternalProblemHandler = std::function<void(std::string_view component, std::string_view text)>;

void reportInternalProblem(std::string_view component, std::string_view text);

// Returns the previous handler; an empty handler restores the log line.
InternalProblemHandler setInternalProblemHandler(InternalProblemHandler handler);

}  // namespace platform
