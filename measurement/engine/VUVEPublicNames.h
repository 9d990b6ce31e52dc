// The public names of measurement classes: the same classes under the names
// the analytics interface gives them.
#pragma once

#include "measurement/base/APMEvent.h"
#include "measurement/base/APMIdentifiers.h"
#include "measurement/base/APMValue.h"
#include "measurement/engine/APMAdExposureReporter.h"
#include "measurement/features/APMConditionalUserProperty.h"

using VUVEEvent = APMEvent;
using VUVEValue = APMValue;
using VUVEConditionalUserProperty = APMConditionalUserProperty;
using VUVEIdentifiers = APMIdentifiers;
using VUVEAdExposureReporter = APMAdExposureReporter;
