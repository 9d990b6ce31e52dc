// Validation of an event's parameter dictionary and the error entries that
// record the first problem found.
//
// APMValidateEventParameters(raw, eventName, isPublic, itemMode) converts raw
// values (platform values, or APMValues carried in them) to APMValues, drops
// what fails, trims what is too long, checks "items" arrays, enforces the
// count limits of the settings and records the first problem as the entries
// "_err" (code), "_ev" (offending name, trimmed with "...") and "_el"
// (offending length). The result maps names to APMValues (toObject form);
// nullopt for an empty input.
//
// Thread safety: reentrant; tables are built once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "measurement/base/APMValue.h"
#include "platform/values/Value.h"

std::optional<platform::Dictionary> APMValidateEventParameters(const platform::Dictionary& raw,
                                                               const platform::Value& eventName, bool isPublic,
                                                               bool itemMode);
// The public parameter-name rule when isPublic, then the internal one; a
// failure writes its error entry (14 for a reserved name, else 3) into updates.
bool APMValidateParameterName(const platform::Value& name, bool isPublic, platform::Dictionary& updates);
// The checked array value, or nullptr; failureCode gets the array check's code.
APMValuePtr APMValidateArrayParameter(const platform::Array& array, const platform::Value& name,
                                      const platform::Value& eventName, platform::Dictionary& updates, bool nested,
                                      bool isPublic, int64_t* failureCode);
int32_t APMCountCustomParameters(const platform::Dictionary& parameters, bool itemMode);
void APMTrimCustomEventParameters(platform::Dictionary& parameters, int64_t limit, bool itemMode = false);
// "value" must be numeric and "currency" a 3-letter code when a value is
// given or required; on failure "value" is removed and the error recorded.
bool APMCheckValueAndCurrency(platform::Dictionary& parameters, bool requireValue);

void APMSetErrorIfAbsent(platform::Dictionary& parameters, int64_t code);
void APMSetErrorEntry(platform::Dictionary& parameters, int64_t code, const platform::Value& name, int64_t maxLength,
                      const platform::Value& value);
void APMWriteErrorDetails(platform::Dictionary& parameters, const platform::Value& name, int64_t maxLength,
                          const platform::Value& value);
void APMSetArrayParameterError(platform::Dictionary& parameters, int64_t failure, const platform::Value& name,
                               const platform::Value& eventName);

// Whether some value is a (raw) platform array.
bool APMContainsArrayValue(const platform::Dictionary& parameters);
// The names that pass APMValidateParameterName (failures write their error
// entries into updates), in the "en_US" collation order; nullopt for an
// empty dictionary. A kept name whose value is not a number, string or array
// is reported (18005) and recorded as error 4, but stays in the list.
std::optional<std::vector<std::string>> APMSortedValidParameterNames(const platform::Dictionary& parameters,
                                                                     bool isPublic, platform::Dictionary& updates);

// Internal "_err" events through the analytics front (origin "auto"); code 0
// logs nothing. APMLogErrorEvent adds "_ev" (and "_el" for codes 4 and 7, or
// a string value longer than maxLength).
void APMLogErrorCodeEvent(int64_t code);
void APMLogErrorEvent(int64_t code, const platform::Value& name, int64_t maxLength, const platform::Value& value);
