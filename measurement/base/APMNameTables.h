// The measurement name tables: public event, parameter and user-property
// names and the short internal names ("_" first) the engine stores and
// uploads, plus the lists the validation consults. Each table is built once
// on first use and never changes; any thread may read it.
//
//   APMEventNameMap                  public event -> internal (32 pairs)
//   APMInternalToPublicEventNameMap  its inverse (31 entries: "_cmp" keeps
//                                    "ga_campaign")
//   APMAllowedPublicEventNameMap     the two reserved names applications may
//                                    still log ("ad_impression", "in_app_purchase")
//   APMPublicToInternalParamNames    public parameter -> internal (55 pairs)
//   APMReservedUserPropertyNames     reserved user property -> internal (10)
//   APMIsEcommerceEventName          the 20 events that may carry an array
//   APMIsStandardItemParameterName   the 33 standard names inside an item
// Events and parameters are separate namespaces: "ad_unit_id" -> "_ai" beside
// the event "ad_impression" -> "_ai".
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "platform/values/Value.h"

using APMNameMap = std::map<std::string, std::string, std::less<>>;

const APMNameMap& APMEventNameMap();
const APMNameMap& APMInternalToPublicEventNameMap();
const APMNameMap& APMAllowedPublicEventNameMap();
const APMNameMap& APMPublicToInternalParamNames();
const APMNameMap& APMReservedUserPropertyNames();

// Membership by string equality; a non-string gives NO.
bool APMIsEcommerceEventName(const platform::Value& name);
bool APMIsStandardItemParameterName(const platform::Value& name);
// The number of names in the two lists.
size_t APMEcommerceEventNameCount();
size_t APMStandardItemParameterNameCount();

// YES for a name whose first character is not "_". A non-string logs 18002
// and an empty string 18003 (level 2), both giving NO.
bool APMIsPublicName(const platform::Value& name);
