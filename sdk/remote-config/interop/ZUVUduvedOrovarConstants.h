// ZUVUduvedOrovarConstants: the default namespace of remote configuration.
// Thread safety: constant.
#pragma once

#include <string>

class ZUVUduvedOrovarConstants {
 public:
  static std::string RIRNamespaceZoruvuMobilePlatform() { return "ririvudu"; }
};
