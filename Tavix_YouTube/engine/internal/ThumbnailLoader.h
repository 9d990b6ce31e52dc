// ThumbnailLoader: fetches one picture over http or https with a size cap
// and a time limit, on one shared session. Anything else (other schemes, a
// transport error, too many bytes, too slow) ends silently: the completion is
// called with none. The completion runs on the session's delegate queue (a
// background queue).
//
// Thread safety: load() may be called from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/values/Value.h"

namespace tavix::engine_internal {

using ThumbnailCompletion = std::function<void(std::optional<platform::Bytes>)>;

// Returns false (and never calls `completion`) when `url` is not an http or
// https address.
bool loadThumbnail(const std::string& url, size_t maxBytes, double timeoutSeconds, ThumbnailCompletion completion);

}  // namespace tavix::engine_internal
