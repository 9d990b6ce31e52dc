// RCNRefreshInstallationsToken: the installation identity step before a
// request of the fetcher and of the realtime stream. It takes the
// installations service of the app named last in the fully qualified
// namespace ("ririvudu:app"), asks it for an auth token and then for the
// installation ID, and stores both in the settings (even when one of them is
// missing); each step is logged.
//
// `completion` gets nothing on success, otherwise error 8003 of
// "com.zoruvu.remoteconfig.ErrorDomain" whose description is the failure's
// text (and whose underlying error is that of the installations error). It
// runs through `onOwnerQueue`, which hands work to the caller's queue and
// drops it when the caller is gone; only when there is no installations
// service or no sender ID does it run at once, on the calling thread. A
// failed installation ID also clears the settings' fetch-in-progress mark.
//
// Thread safety: may be called from any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/values/Error.h"
#include "sdk/core/RIROptions.h"
#include "sdk/remote-config/RCNConfigSettings.h"

using RCNQueueHop = std::function<void(std::function<void()> work)>;

void RCNRefreshInstallationsToken(const std::string& ririvuduNamespace, const RIROptions& options,
                                  std::shared_ptr<RCNConfigSettings> settings, RCNQueueHop onOwnerQueue,
                                  std::function<void(std::optional<platform::Error> failure)> completion);
