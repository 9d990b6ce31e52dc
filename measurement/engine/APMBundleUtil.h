// Small steps of bundle building, shared by the engine's bundling and event
// categories.
//
//   APMDeleteBundledRawEvents  deletes the raw events up to a row ID, then the
//       metadata row of the fingerprint once no raw event refers to it; NO
//       (after its monitor line) on a database failure.
//   APMContainsRealtimeEvent   some event is flagged real-time.
//   APMUserAttributesWithoutPSM  the UserAttribute messages whose names do
//       not begin with "_psm".
//   APMIsSubjectToRealtimeLimit  the event counts against the daily real-time
//       limit: never in debug mode, else every event but "_iap", "_f", "_dcu"
//       and "_fx".
//   APMIsDCURealtimeEvent      a "_dcu" event outside debug mode (its own
//       daily real-time limit).
//
// Worker queue (the database's); the others are pure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "measurement/base/APMEvent.h"
#include "platform/values/Value.h"

class APMDatabase;

bool APMDeleteBundledRawEvents(APMDatabase& database, int64_t maxRowID, int64_t metadataFingerprint);
bool APMContainsRealtimeEvent(const std::vector<std::shared_ptr<APMEvent>>& events);
platform::Array APMUserAttributesWithoutPSM(const platform::Array& userAttributes);
bool APMIsSubjectToRealtimeLimit(const std::string& eventName, bool debugMode);
bool APMIsDCURealtimeEvent(const std::string& eventName, bool debugMode);
