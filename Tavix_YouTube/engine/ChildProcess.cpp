#include "Tavix_YouTube/engine/ChildProcess.h"

#include "platform/process/Task.h"

namespace tavix {

namespace {
platform::Task::Output toTask(ChildProcess::Output output) {
  switch (output) {
    case ChildProcess::Output::pipe: return platform::Task::Output::pipe;
    case ChildProcess::Output::inherit: return platform::Task::Output::inherit;
    case ChildProcess::Output::discard: break;
  }
  return platform::Task::Output::discard;
}
}  // namespace

struct ChildProcess::Impl {
  platform::Task task;
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}
ChildProcess::~ChildProcess() = default;

void ChildProcess::setExecutablePath(std::string path) { m_impl->task.setExecutablePath(std::move(path)); }
const std::string& ChildProcess::executablePath() const { return m_impl->task.executablePath(); }
void ChildProcess::setArguments(std::vector<std::string> arguments) { m_impl->task.setArguments(std::move(arguments)); }
const std::vector<std::string>& ChildProcess::arguments() const { return m_impl->task.arguments(); }
void ChildProcess::setStandardOutput(Output output) { m_impl->task.setStandardOutput(toTask(output)); }
void ChildProcess::setStandardError(Output output) { m_impl->task.setStandardError(toTask(output)); }
void ChildProcess::setOwnProcessGroup(bool own) { m_impl->task.setOwnProcessGroup(own); }
void ChildProcess::setStdoutHandler(DataHandler handler) { m_impl->task.setStdoutHandler(std::move(handler)); }
void ChildProcess::setStderrHandler(DataHandler handler) { m_impl->task.setStderrHandler(std::move(handler)); }

void ChildProcess::setTerminationHandler(TerminationHandler handler) {
  if (!handler) {
    m_impl->task.setTerminationHandler(nullptr);
    return;
  }
  m_impl->task.setTerminationHandler(
      [handler = std::move(handler)](platform::Task& task) { handler(task.terminationStatus()); });
}

std::optional<platform::Error> ChildProcess::launch() { return m_impl->task.launch(); }
void ChildProcess::terminate() { m_impl->task.terminate(); }
bool ChildProcess::isRunning() const { return m_impl->task.isRunning(); }
int ChildProcess::processIdentifier() const { return static_cast<int>(m_impl->task.processIdentifier()); }
int ChildProcess::terminationStatus() const { return m_impl->task.terminationStatus(); }

}  // namespace tavix
