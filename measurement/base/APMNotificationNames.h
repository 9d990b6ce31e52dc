// The platform's application and window notification names, as the engine
// observes them; APMNotificationsLinkAnchor does nothing and exists only so
// the engine's linkage method has something to call.
#pragma once

const char* APMAppDidBecomeActiveNotificationName();
const char* APMAppDidFinishLaunchingNotificationName();
const char* APMAppWillResignActiveNotificationName();
const char* APMWindowDidResignKeyNotificationName();
void APMNotificationsLinkAnchor();
