#include "testing/ProgramRun.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace testkit {

std::string binFolder() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  const std::string self(path, n > 0 ? static_cast<size_t>(n) : 0);
  return self.substr(0, self.rfind('/'));
}

std::string builtProgram(const std::string& name) { return binFolder() + "/" + name; }

ProgramRun runCommand(const std::string& commandLine) {
  ProgramRun result;
  FILE* pipe = ::popen(commandLine.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

pid_t startCommand(const std::string& commandLine) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", commandLine.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

void killAndReap(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

}  // namespace testkit
