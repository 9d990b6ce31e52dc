// ZUVUduvedOrovarSettings: the two user-settable fetch settings, in seconds:
// the minimum interval between fetches (default 43200, twelve hours) and the
// fetch time-out (default 60). No validation here.
// Thread safety: a plain value.
#pragma once

#include "sdk/remote-config/RCNConstants.h"

struct ZUVUduvedOrovarSettings {
  double minimumFetchInterval = kRCNDefaultMinimumFetchInterval;
  double fetchTimeout = kRCNDefaultFetchTimeout;
};
