#include "platform/process/Task.h"

#include "platform/log/InternalProblem.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace platform {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
// Without a pidfd the reader checks for the child's end this often.
constexpr int kReapPollMs = 50;

void logProblem(const std::string& text) {
    reportInternalProblem("process", text);
}

std::string errnoText(int error) {
    return std::strerror(error);
}

// Keeps our descriptors away from 0..2 so that dup2 onto a standard stream in
// the child never meets the same number (which would keep close-on-exec).
int moveAboveStandardStreams(int fd) {
    if (fd > 2) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int sendPidfdSignal(int pidfd, int signalNumber) {
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0));
#else
    (void)pidfd;
    (void)signalNumber;
    errno = ENOSYS;
    return -1;
#endif
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

struct Task::State {
    // Guards every field below except where noted.
    std::mutex mutex;
    // Held by the reader thread while it calls a handler; other threads take
    // it to wait for a running call to end before a handler change.
    std::mutex dispatchMutex;
    std::condition_variable finishedChanged;

    Task* owner = nullptr;
    std::shared_ptr<DataHandler> stdoutHandler;
    std::shared_ptr<DataHandler> stderrHandler;
    std::shared_ptr<TerminationHandler> terminationHandler;

    bool launched = false;
    bool reaped = false;
    bool finished = false;   // termination delivered (or skipped)
    bool abandoned = false;  // the Task object is gone or going
    bool readerEnded = false;  // the reader thread is past its last use of the handlers
    bool ownGroup = false;
    pid_t pid = 0;
    int pidfd = -1;  // closed by the reader thread when it ends
    std::thread::id readerId;
    int status = 0;
    TerminationReason reason = TerminationReason::exit;

    bool onReaderThread() {
        std::lock_guard lock(mutex);
        return launched && std::this_thread::get_id() == readerId;
    }

    // Signals only an unreaped child of ours: its pid cannot be reused yet.
    void signalLocked(int signalNumber) {
        if (!launched || reaped || pid <= 0) return;
        int rc;
        if (ownGroup) {
            rc = ::kill(-pid, signalNumber);
        } else if (pidfd >= 0) {
            rc = sendPidfdSignal(pidfd, signalNumber);
        } else {
            rc = ::kill(pid, signalNumber);
        }
        if (rc != 0 && errno != ESRCH) {
            logProblem("cannot signal process " + std::to_string(pid) + ": " + errnoText(errno));
        }
    }

    // Reaps the child if it has ended; returns true once reaped.
    bool tryReap(bool block) {
        std::lock_guard lock(mutex);
        if (reaped) return true;
        int raw = 0;
        pid_t rc;
        do {
            rc = ::waitpid(pid, &raw, block ? 0 : WNOHANG);
        } while (rc < 0 && errno == EINTR);
        if (rc == 0) return false;
        if (rc < 0) {
            // Somebody else reaped it (SIGCHLD ignored, or a stray waitpid(-1)).
            logProblem("cannot reap process " + std::to_string(pid) + ": " + errnoText(errno));
            status = -1;
            reason = TerminationReason::exit;
        } else if (WIFSIGNALED(raw)) {
            status = WTERMSIG(raw);
            reason = TerminationReason::uncaughtSignal;
        } else {
            status = WEXITSTATUS(raw);
            reason = TerminationReason::exit;
        }
        reaped = true;
        return true;
    }

    void deliverData(bool isStdout, std::string_view bytes) {
        std::shared_ptr<DataHandler> handler;
        {
            std::lock_guard dispatch(dispatchMutex);
            {
                std::lock_guard lock(mutex);
                handler = isStdout ? stdoutHandler : stderrHandler;
            }
            if (handler && *handler) (*handler)(bytes);
            if (bytes.empty()) {
                // Final call: release the handler so captured references go.
                std::shared_ptr<DataHandler> released;
                {
                    std::lock_guard lock(mutex);
                    auto& slot = isStdout ? stdoutHandler : stderrHandler;
                    if (slot == handler) released = std::move(slot);
                }
            }
        }
        // `handler` (possibly the last reference) is dropped here, outside
        // both locks: it may own the Task itself.
    }

    void deliverTermination() {
        std::shared_ptr<TerminationHandler> handler;
        {
            std::lock_guard dispatch(dispatchMutex);
            Task* task = nullptr;
            {
                std::lock_guard lock(mutex);
                handler = std::move(terminationHandler);
                task = owner;
            }
            if (handler && *handler && task) (*handler)(*task);
            {
                std::lock_guard lock(mutex);
                finished = true;
            }
            finishedChanged.notify_all();
        }
    }
};

namespace {

struct Stream {
    int fd;
    bool isStdout;
};

}  // namespace

// The one background thread of a launched task: reads both pipes, reaps the
// child, then delivers the termination.
void Task::readerLoop(std::shared_ptr<State> state, int stdoutFd, int stderrFd) {
    int pidfd;
    {
        // Waits for launch() to finish publishing the state.
        std::lock_guard lock(state->mutex);
        pidfd = state->pidfd;
    }
    std::vector<Stream> streams;
    if (stdoutFd >= 0) streams.push_back({stdoutFd, true});
    if (stderrFd >= 0) streams.push_back({stderrFd, false});
    std::vector<char> buffer(kReadChunk);
    bool reaped = false;

    auto closeStream = [&](size_t index) {
        ::close(streams[index].fd);
        bool isStdout = streams[index].isStdout;
        streams.erase(streams.begin() + static_cast<std::ptrdiff_t>(index));
        state->deliverData(isStdout, {});
    };

    while (true) {
        bool abandoned;
        {
            std::lock_guard lock(state->mutex);
            abandoned = state->abandoned;
        }
        if (reaped && (streams.empty() || abandoned)) break;

        std::vector<pollfd> fds;
        for (const Stream& s : streams) fds.push_back({s.fd, POLLIN, 0});
        bool pollPidfd = !reaped && pidfd >= 0;
        if (pollPidfd) fds.push_back({pidfd, POLLIN, 0});
        int timeout = -1;
        if (!reaped && pidfd < 0) timeout = kReapPollMs;
        if (reaped) timeout = static_cast<int>(Task::kOrphanedPipeGrace.count());

        int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            logProblem("poll failed: " + errnoText(errno));
            // Give up the pipes and only wait for the child's end (without
            // holding the state lock, so signals still get through).
            while (!streams.empty()) closeStream(streams.size() - 1);
            while (!state->tryReap(false)) std::this_thread::sleep_for(std::chrono::milliseconds(kReapPollMs));
            reaped = true;
            continue;
        }
        if (n == 0) {
            if (reaped) {
                logProblem("process " + std::to_string(state->pid) +
                           " ended but a descendant keeps its output open; not waiting for it");
                while (!streams.empty()) closeStream(streams.size() - 1);
            } else {
                reaped = state->tryReap(false);
            }
            continue;
        }
        // Streams first (one read each, so neither starves the other); the
        // pidfd only marks the end, the pipes are drained on later rounds.
        for (size_t i = streams.size(); i-- > 0;) {
            if (fds[i].revents == 0) continue;
            ssize_t r = ::read(streams[i].fd, buffer.data(), buffer.size());
            if (r > 0) {
                state->deliverData(streams[i].isStdout,
                                   std::string_view(buffer.data(), static_cast<size_t>(r)));
            } else if (r == 0) {
                closeStream(i);
            } else if (errno != EAGAIN && errno != EINTR) {
                logProblem("read failed: " + errnoText(errno));
                closeStream(i);
            }
        }
        if (pollPidfd && fds.back().revents != 0) reaped = state->tryReap(false);
        // Without a pidfd, check every round: busy pipes must not delay it.
        if (!reaped && pidfd < 0) reaped = state->tryReap(false);
    }
    for (const Stream& s : streams) ::close(s.fd);
    {
        std::lock_guard lock(state->mutex);
        closeFd(state->pidfd);
    }
    state->deliverTermination();
    {
        std::lock_guard lock(state->mutex);
        state->readerEnded = true;
    }
    state->finishedChanged.notify_all();
}

Task::Task() : m_state(std::make_shared<State>()) {
    m_state->owner = this;
}

Task::~Task() {
    bool onReader = m_state->onReaderThread();
    std::unique_lock dispatch(m_state->dispatchMutex, std::defer_lock);
    if (!onReader) dispatch.lock();
    std::shared_ptr<DataHandler> out, err;
    std::shared_ptr<TerminationHandler> term;
    {
        std::lock_guard lock(m_state->mutex);
        out = std::move(m_state->stdoutHandler);
        err = std::move(m_state->stderrHandler);
        term = std::move(m_state->terminationHandler);
        m_state->owner = nullptr;
        m_state->abandoned = true;
        m_state->signalLocked(SIGKILL);
    }
    if (dispatch.owns_lock()) dispatch.unlock();
    out.reset();
    err.reset();
    term.reset();
    // The reader thread is detached (a task kept after its end holds no
    // thread); wait until it is done, unless this runs on it.
    if (!onReader) {
        std::unique_lock lock(m_state->mutex);
        m_state->finishedChanged.wait(lock, [&] { return !m_state->launched || m_state->readerEnded; });
    }
}

void Task::setExecutablePath(std::string path) { m_executablePath = std::move(path); }
void Task::setArguments(std::vector<std::string> arguments) { m_arguments = std::move(arguments); }
void Task::setEnvironmentAdditions(std::map<std::string, std::string> additions) {
    m_environmentAdditions = std::move(additions);
}
void Task::setCurrentDirectory(std::string path) { m_currentDirectory = std::move(path); }
void Task::setStandardOutput(Output output) { m_stdout = output; }
void Task::setStandardError(Output output) { m_stderr = output; }
void Task::setOwnProcessGroup(bool own) { m_ownProcessGroup = own; }
void Task::setNiceIncrement(int increment) { m_niceIncrement = std::clamp(increment, 0, 19); }

void Task::setDataHandler(bool isStdout, DataHandler handler) {
    auto fresh = handler ? std::make_shared<DataHandler>(std::move(handler)) : nullptr;
    std::shared_ptr<DataHandler> old;
    {
        std::unique_lock dispatch(m_state->dispatchMutex, std::defer_lock);
        if (!m_state->onReaderThread()) dispatch.lock();
        std::lock_guard lock(m_state->mutex);
        auto& slot = isStdout ? m_state->stdoutHandler : m_state->stderrHandler;
        old = std::exchange(slot, std::move(fresh));
    }
}

void Task::setStdoutHandler(DataHandler handler) { setDataHandler(true, std::move(handler)); }
void Task::setStderrHandler(DataHandler handler) { setDataHandler(false, std::move(handler)); }

void Task::setTerminationHandler(TerminationHandler handler) {
    auto fresh = handler ? std::make_shared<TerminationHandler>(std::move(handler)) : nullptr;
    std::shared_ptr<TerminationHandler> old;
    {
        std::unique_lock dispatch(m_state->dispatchMutex, std::defer_lock);
        if (!m_state->onReaderThread()) dispatch.lock();
        std::lock_guard lock(m_state->mutex);
        old = std::exchange(m_state->terminationHandler, std::move(fresh));
    }
}

namespace {

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
};

}  // namespace

std::optional<Error> Task::launch() {
    auto fail = [&](int code, const std::string& description) {
        return Error::make(kErrorDomain, code, description);
    };
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->launched) return fail(EALREADY, "The task was already launched");
    }
    if (m_executablePath.empty()) return fail(ENOENT, "No executable path was set");
    if (!m_currentDirectory.empty()) {
        struct stat st{};
        if (::stat(m_currentDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            return fail(ENOTDIR, "Cannot launch \"" + m_executablePath + "\": working directory \"" +
                                     m_currentDirectory + "\" is not a directory");
        }
    }

    // Pipes: [0] read end kept by us, [1] write end given to the child.
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    auto closeAll = [&] {
        closeFd(outPipe[0]);
        closeFd(outPipe[1]);
        closeFd(errPipe[0]);
        closeFd(errPipe[1]);
    };
    auto makePipe = [&](int (&fds)[2]) -> int {
        if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
        fds[0] = moveAboveStandardStreams(fds[0]);
        fds[1] = moveAboveStandardStreams(fds[1]);
        if (fds[0] < 0 || fds[1] < 0) return EMFILE;
        ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        return 0;
    };
    if (m_stdout == Output::pipe) {
        if (int rc = makePipe(outPipe)) {
            closeAll();
            return fail(rc, "Cannot create a pipe: " + errnoText(rc));
        }
    }
    if (m_stderr == Output::pipe) {
        if (int rc = makePipe(errPipe)) {
            closeAll();
            return fail(rc, "Cannot create a pipe: " + errnoText(rc));
        }
    }

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    auto routeOutput = [&](Output mode, int writeEnd, int target) {
        if (mode == Output::pipe) {
            posix_spawn_file_actions_adddup2(&setup.actions, writeEnd, target);
        } else if (mode == Output::discard) {
            posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", O_WRONLY, 0);
        }
    };
    routeOutput(m_stdout, outPipe[1], 1);
    routeOutput(m_stderr, errPipe[1], 2);
    if (!m_currentDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&setup.actions, m_currentDirectory.c_str());
    }

    // Default dispositions and an empty mask: an ignored SIGPIPE or a blocked
    // SIGTERM in this process must not carry over into the child.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    posix_spawnattr_setsigdefault(&setup.attr, &all);
    posix_spawnattr_setsigmask(&setup.attr, &none);
    if (m_ownProcessGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&setup.attr, 0);
    }
    posix_spawnattr_setflags(&setup.attr, flags);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(m_executablePath.c_str()));
    for (const std::string& a : m_arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        std::string name(entry.substr(0, entry.find('=')));
        if (!m_environmentAdditions.count(name)) envStrings.emplace_back(entry);
    }
    for (const auto& [name, value] : m_environmentAdditions) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::unique_lock lock(m_state->mutex);
    if (m_state->launched) {
        closeAll();
        return fail(EALREADY, "The task was already launched");
    }
    pid_t pid = 0;
    int rc = 0;
    auto spawn = [&] {
        rc = ::posix_spawn(&pid, m_executablePath.c_str(), &setup.actions, &setup.attr, argv.data(), envp.data());
    };
    if (m_niceIncrement > 0) {
        // The nice value is a thread's own and a child starts with its spawning
        // thread's: spawning from a short-lived thread lowered first gives the
        // child its priority before its first instruction (set afterwards, the
        // child ran for a while at ours). Lowering needs no privilege; failing
        // only costs speed.
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, 0);
        const int wanted = std::min(current + m_niceIncrement, 19);
        const int readError = errno;  // errno is the calling thread's own
        std::string problem;
        try {
            std::thread spawner([&] {
                if (readError != 0 || ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), wanted) != 0) {
                    problem = "cannot lower the priority of a child process: " + errnoText(readError ? readError : errno);
                }
                spawn();
            });
            spawner.join();
        } catch (const std::system_error&) {
            problem = "cannot lower the priority of a child process: no thread to spawn it from";
            spawn();
        }
        if (!problem.empty()) logProblem(problem);
    } else {
        spawn();
    }
    closeFd(outPipe[1]);
    closeFd(errPipe[1]);
    if (rc != 0) {
        closeAll();
        return fail(rc, "Cannot launch \"" + m_executablePath + "\": " + errnoText(rc));
    }
    m_state->pid = pid;
    m_state->ownGroup = m_ownProcessGroup;
    m_state->launched = true;
    int pidfd = openPidfd(pid);
    m_state->pidfd = pidfd >= 0 ? moveAboveStandardStreams(pidfd) : -1;
    try {
        std::thread reader(readerLoop, m_state, outPipe[0], errPipe[0]);
        m_state->readerId = reader.get_id();
        reader.detach();
    } catch (const std::system_error& e) {
        // No reader: end the child here so nothing is left behind.
        m_state->signalLocked(SIGKILL);
        lock.unlock();
        m_state->tryReap(true);
        lock.lock();
        closeAll();
        closeFd(m_state->pidfd);
        m_state->finished = true;
        m_state->readerEnded = true;
        return fail(EAGAIN, std::string("Cannot start the reader thread: ") + e.what());
    }
    return std::nullopt;
}

void Task::signal(int signalNumber) {
    std::lock_guard lock(m_state->mutex);
    m_state->signalLocked(signalNumber);
}

void Task::terminate() { signal(SIGTERM); }
void Task::kill() { signal(SIGKILL); }

bool Task::isRunning() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->launched && !m_state->reaped;
}

pid_t Task::processIdentifier() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->pid;
}

int Task::terminationStatus() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->reaped ? m_state->status : 0;
}

Task::TerminationReason Task::terminationReason() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->reaped ? m_state->reason : TerminationReason::exit;
}

void Task::waitUntilExit() const {
    std::unique_lock lock(m_state->mutex);
    if (!m_state->launched || std::this_thread::get_id() == m_state->readerId) return;
    m_state->finishedChanged.wait(lock, [&] { return m_state->finished; });
}

}  // namespace platform
