// APMTCFDataGenerator: builds an APMTCFData from values set one by one, such
// as the copy the TCF client keeps of the last values it applied.
//
// A plain value; any thread.
#pragma once

#include "measurement/base/APMConfigStore.h"
#include "measurement/features/APMTCFData.h"

class APMTCFDataGenerator {
 public:
  // The twelve values as stored by APMTCFClient::storeCurrentData (the
  // restrictions as one array under APMTCFData::kPublisherRestrictionsKey).
  static APMTCFDataGenerator fromStoredValues(APMConfigStore& store);

  APMTCFData generateData() const { return APMTCFData(values); }

  APMTCFData::Values values;
};
