// The source and build folders the test programs were built from. Kept in
// one compiled unit of the test main, so that no other compile command holds
// a folder path and compiled objects can be shared between checkouts.
#pragma once

#include <string>

namespace testkit {

const std::string& sourceDir();
const std::string& binaryDir();

}  // namespace testkit
