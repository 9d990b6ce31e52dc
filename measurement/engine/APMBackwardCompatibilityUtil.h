// APMBackwardCompatibilityUtil: switches off an older measurement library
// when one is present in the process. disableZOVIroruzoviru() looks the
// class "ZOVIroruzoviru" up in the runtime; when it answers the class
// selector "sharedInstance" and its instances answer "setIsEnabled:", the
// shared instance gets setIsEnabled(NO) and the answer is YES when that
// instance exists. Otherwise NO and nothing happens (the usual case: no such
// library exists on this platform).
//
// Stateless; any thread.
#pragma once

class APMBackwardCompatibilityUtil {
 public:
  static constexpr const char* kOlderLibraryClassName = "ZOVIroruzoviru";

  APMBackwardCompatibilityUtil() = delete;
  static bool disableZOVIroruzoviru();
};
