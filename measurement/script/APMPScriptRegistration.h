// APMPScriptRegisterLibrary: the script runtime's part of the one ordered
// registration: installs the event-editing factory, so that the measurement
// settings build an APMPEventEditing for the programs of a configuration.
// Called once from RIRRegisterAll (later calls only install it again).
#pragma once

void APMPScriptRegisterLibrary();
