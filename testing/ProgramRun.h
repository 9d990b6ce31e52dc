// Running the project's own programs from tests, the way scripts and CI do:
// through a shell command line, reading standard output.
//
//   testkit::ProgramRun r = testkit::runCommand("LANGUAGE=ru '" +
//       testkit::builtProgram("ui-probe") + "' plural 3 2>/dev/null");
//   EXPECT_EQ(r.out, "=> 3 загрузки\n");
//
// Thread safety: plain functions; each call runs its own child.
#pragma once

#include <sys/types.h>

#include <string>

namespace testkit {

struct ProgramRun {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;  // everything written to standard output
};

// The folder of the running test program: <build>/bin.
std::string binFolder();

// A program built into <build>/bin beside the test program.
std::string builtProgram(const std::string& name);

// Runs commandLine with /bin/sh and collects its standard output.
ProgramRun runCommand(const std::string& commandLine);

// Starts commandLine with /bin/sh in the background (its output goes where
// the line redirects it) and returns the shell's process ID; with "exec" in
// front of the program the ID is the program's.
pid_t startCommand(const std::string& commandLine);
// Kills the process with SIGKILL and waits for it.
void killAndReap(pid_t pid);

}  // namespace testkit
