// Shared by the promise sources: settle result with x by the resolving rule
// (follow a promise one level by observing it on queue, reject with an error,
// fulfil with anything else).
#pragma once

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/promises/RBLPromise.h"

namespace rbl_internal {

void resolveFollowing(const RBLPromisePtr& result, const platform::DispatchQueue& queue, RBLResolution x);

}  // namespace rbl_internal
