// SdkProbeFixture: runs sdk-probe as scripts and CI do, in a temporary home
// of its own, with every environment value the probe reads set by the test
// (bundle resources, an unreachable services address, a private keychain).
//
//   class WireProbeTest : public sdkprobetest::SdkProbeFixture {};
//   TEST_F(WireProbeTest, X) { auto r = run("wire-encode Event '{}'"); ... }
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "testing/ProgramRun.h"
#include "testing/TempHome.h"

namespace sdkprobetest {

struct ProbeRun : testkit::ProgramRun {
  std::string err;  // everything written to standard error
};

class SdkProbeFixture : public ::testing::Test {
 protected:
  // The shell command that runs the probe with these arguments and the
  // fixture's environment (its output not redirected).
  std::string probeCommand(const std::string& arguments) const {
    return "APP_RESOURCES='" + resources + "' APP_SERVICES_URL=" + servicesURL +
           " APP_REACHABILITY=unreachable APP_KEYCHAIN_ROOT='" + home.file("keychain") + "' '" +
           testkit::builtProgram("sdk-probe") + "' " + arguments;
  }

  ProbeRun run(const std::string& arguments) {
    const std::string errPath = home.file("stderr.txt");
    const std::string command = probeCommand(arguments) + " 2>'" + errPath + "'";
    ProbeRun result;
    static_cast<testkit::ProgramRun&>(result) = testkit::runCommand(command);
    std::ifstream in(errPath);
    result.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return result;
  }

  // Writes bytes to a file of the temporary home and returns its path.
  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = home.file(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  testkit::TempHome home;
  // Where the probe's requests go (a test points it at its fake service;
  // shell text, so "$port" may stand in it).
  std::string servicesURL = "http://127.0.0.1:9";
  // The bundle's resource folder.
  std::string resources = testkit::binFolder() + "/../resources";
};

}  // namespace sdkprobetest
