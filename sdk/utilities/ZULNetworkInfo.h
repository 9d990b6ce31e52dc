// ZULNetworkInfo: network-type facts; this platform has none to report.
// Thread safety: stateless.
#pragma once

#include <string>

class ZULNetworkInfo {
 public:
  static long getNetworkType() { return -1; }
  static std::string getNetworkRadioType() { return {}; }
};
