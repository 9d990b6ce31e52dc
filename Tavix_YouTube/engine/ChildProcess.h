// ChildProcess: the engine's handle on one child process (the downloader or
// its title query), a thin wrapper over platform::Task.
//
// It exists so that engine code never includes platform/process/Task.h next
// to the dispatch headers: both declare a platform::Task (a class there, a
// std::function alias here), which cannot meet in one translation unit.
// Semantics are Task's: handlers run on the process's reader thread; the
// termination handler runs after both pipes reached end of file; the status
// is the exit code or the number of the ending signal (15 for SIGTERM).
//
// Thread safety: as platform::Task (configure before launch on one thread;
// terminate, status queries and handler setters from any thread).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/values/Error.h"

namespace tavix {

class ChildProcess {
 public:
  enum class Output { pipe, inherit, discard };
  using DataHandler = std::function<void(std::string_view bytes)>;  // empty: end of file
  using TerminationHandler = std::function<void(int status)>;

  ChildProcess();
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void setExecutablePath(std::string path);
  const std::string& executablePath() const;
  void setArguments(std::vector<std::string> arguments);
  const std::vector<std::string>& arguments() const;
  void setStandardOutput(Output output);
  void setStandardError(Output output);
  void setOwnProcessGroup(bool own);
  void setStdoutHandler(DataHandler handler);
  void setStderrHandler(DataHandler handler);
  void setTerminationHandler(TerminationHandler handler);

  std::optional<platform::Error> launch();
  void terminate();
  bool isRunning() const;
  int processIdentifier() const;
  int terminationStatus() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace tavix
