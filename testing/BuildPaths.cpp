#include "testing/BuildPaths.h"

namespace testkit {

const std::string& sourceDir() {
  static const auto* const path = new std::string(TAVIX_SOURCE_DIR);
  return *path;
}

const std::string& binaryDir() {
  static const auto* const path = new std::string(TAVIX_BINARY_DIR);
  return *path;
}

}  // namespace testkit
