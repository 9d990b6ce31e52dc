// Task: one child process started with posix_spawn from an executable path
// and an argument vector (never through a shell).
//
// The child gets standard input from /dev/null, the parent's environment plus
// optional additions, an optional working directory, default signal
// dispositions and an empty signal mask. Standard output and standard error
// are pipes by default (or inherited / sent to /dev/null); every descriptor
// the task opens is close-on-exec, so no other child inherits them.
//
// One background thread per launched task polls both pipes and a pidfd (or
// waits with waitpid when pidfds are unavailable). On that thread, in order:
//   - the stdout / stderr handler with each chunk of bytes read (never empty),
//   - the same handler once with empty bytes at end of file,
//   - the termination handler, only after both pipes reached end of file and
//     the process was reaped, so the last output is always seen first.
// Handlers never run concurrently with each other. A stream without a handler
// is still read (and its bytes dropped) so the child never blocks on a full
// pipe; set handlers before launch() to see every byte. Each handler is
// released after its final call, so it may capture a shared_ptr to its task.
// When an orphaned descendant keeps a pipe open after the child was reaped,
// reading stops after kOrphanedPipeGrace of silence and end of file is
// delivered anyway: the termination is never held up indefinitely.
//
// Thread safety: configure (setters other than the handler setters) before
// launch() from one thread. Handler setters, terminate(), kill(), isRunning(),
// processIdentifier(), terminationStatus(), terminationReason() and
// waitUntilExit() are safe from any thread at any time. Setting a handler
// (including to none) from another thread waits until a call of the old
// handler in progress has returned: no call of the old handler starts or runs
// after the setter returns. (So a handler must not block on a thread that is
// setting a handler of the same task.)
//
// Signals go only to our own unreaped child (or its process group while the
// child is unreaped): terminate() and kill() are no-ops before launch and
// after the end, and never reach a reused pid.
//
// The background thread ends by itself once the child was reaped and its
// pipes were read to the end (it is not joined), so a task kept after its end
// holds no thread and no thread stack.
//
// Destruction: destroying a task whose process still runs removes all
// handlers (none is called afterwards), sends SIGKILL (to the whole group when
// it has its own), and waits until the background thread is done, which is
// as soon as the child is reaped. Destroyed from inside one of its own
// handlers, the task does not wait; that thread touches only shared state and
// ends right after.
#pragma once

#include "platform/values/Error.h"

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

class Task {
public:
    enum class TerminationReason { exit, uncaughtSignal };
    // Where the child's standard output / error goes.
    enum class Output { pipe, inherit, discard };

    // `bytes` is valid during the call only; empty means end of file.
    using DataHandler = std::function<void(std::string_view bytes)>;
    using TerminationHandler = std::function<void(Task&)>;

    // Error domain of launch(); codes are errno values.
    static constexpr const char* kErrorDomain = "platform.process";
    static constexpr std::chrono::milliseconds kOrphanedPipeGrace{1000};

    Task();
    ~Task();
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // Configuration, before launch().
    void setExecutablePath(std::string path);
    const std::string& executablePath() const { return m_executablePath; }
    // Arguments after argv[0] (argv[0] is the executable path).
    void setArguments(std::vector<std::string> arguments);
    const std::vector<std::string>& arguments() const { return m_arguments; }
    // Added to (or replacing within) the inherited environment.
    void setEnvironmentAdditions(std::map<std::string, std::string> additions);
    void setCurrentDirectory(std::string path);
    void setStandardOutput(Output output);
    void setStandardError(Output output);
    // When set, the child leads a new process group and terminate()/kill()
    // signal the whole group.
    void setOwnProcessGroup(bool own);
    // Runs the child this much nicer (lower CPU priority) than this process,
    // 0 to 19; 0 (the default) keeps the priority.
    void setNiceIncrement(int increment);

    void setStdoutHandler(DataHandler handler);
    void setStderrHandler(DataHandler handler);
    void setTerminationHandler(TerminationHandler handler);

    // Starts the child. A missing or non-executable file, a bad working
    // directory or a second launch give an error and start nothing.
    std::optional<Error> launch();

    void terminate();  // SIGTERM
    void kill();       // SIGKILL

    bool isRunning() const;         // launched and not yet reaped
    pid_t processIdentifier() const;  // 0 before launch
    // Valid once the process was reaped (0 before): the exit code, or the
    // number of the signal that ended it (15 for SIGTERM, never 128 + n).
    int terminationStatus() const;
    TerminationReason terminationReason() const;
    // Blocks until the termination handler has returned (immediately when
    // never launched, or when called on the task's own background thread).
    void waitUntilExit() const;

private:
    struct State;
    static void readerLoop(std::shared_ptr<State> state, int stdoutFd, int stderrFd);
    void signal(int signalNumber);
    void setDataHandler(bool isStdout, DataHandler handler);

    std::string m_executablePath;
    std::vector<std::string> m_arguments;
    std::map<std::string, std::string> m_environmentAdditions;
    std::string m_currentDirectory;
    Output m_stdout = Output::pipe;
    Output m_stderr = Output::pipe;
    bool m_ownProcessGroup = false;
    int m_niceIncrement = 0;

    std::shared_ptr<State> m_state;
};

}  // namespace platform
