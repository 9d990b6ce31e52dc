#include "measurement/script/APMPMapValue.h"

#include <limits>

std::u16string APMPMapValue::stringValueOrError(APMPError&) const { return u"[object Object]"; }
double APMPMapValue::doubleValueOrError(APMPError&) const { return std::numeric_limits<double>::quiet_NaN(); }
bool APMPMapValue::booleanValueOrError(APMPError&) const { return true; }
