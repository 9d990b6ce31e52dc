#include "measurement/script/APMPScriptRegistration.h"

#include "measurement/base/APMEngineServices.h"
#include "measurement/script/APMPEventEditing.h"

void APMPScriptRegisterLibrary() {
  APMEngineServices::setEventEditingFactory([] { return std::make_shared<APMPEventEditing>(); });
}
