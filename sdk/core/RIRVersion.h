// RIRVersion: the SDK version string, "12.6.0": the version of "riri-ios" and
// of libraries registered without their own, and the logger's line prefix.
// Thread safety: constant.
#pragma once

#include <string>

inline constexpr const char* kRIRCoreVersion = "12.6.0";

inline std::string RIRCoreVersionString() { return kRIRCoreVersion; }
