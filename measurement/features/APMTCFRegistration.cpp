#include "measurement/features/APMTCFRegistration.h"

const APMTCFRegistration& APMTCFRegistration::sharedInstance() {
  static const APMTCFRegistration* const shared = new APMTCFRegistration();
  return *shared;
}
