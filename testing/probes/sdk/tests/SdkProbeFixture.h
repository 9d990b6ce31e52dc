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
#include <vector>

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
    return environment + "APP_RESOURCES='" + resources + "' APP_SERVICES_URL=" + servicesURL +
           " APP_REACHABILITY=" + reachability + " APP_KEYCHAIN_ROOT='" + home.file("keychain") + "' '" +
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

  // One run and what it must give: the exit status, standard output, and a
  // fragment of standard error when one is given.
  struct Case {
    std::string arguments;
    int status;
    std::string out;
    std::string err = {};
  };

  void expectAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.arguments);
      ProbeRun r = run(c.arguments);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.out, c.out);
      if (!c.err.empty()) {
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
      }
    }
  }

  // Starts the probe in the background, its standard output and error
  // dropped; returns its process id (the probe's own, so that
  // testkit::killAndReap reaches it).
  pid_t start(const std::string& arguments) const {
    return testkit::startCommand("exec env " + probeCommand(arguments) + " >/dev/null 2>&1");
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
  // The network as the probe sees it ("reachable" or "unreachable").
  std::string reachability = "unreachable";
  // The bundle's resource folder.
  std::string resources = testkit::binFolder() + "/../resources";
  // Further environment assignments of the command line ("NAME=value ").
  std::string environment;
};

}  // namespace sdkprobetest
