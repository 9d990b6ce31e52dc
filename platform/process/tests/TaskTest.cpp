#include "platform/process/Task.h"
#include "testing/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;
using Reason = Task::TerminationReason;

// A deadline only so that a broken build fails instead of hanging.
constexpr auto kPatience = 30s;

// Records what the handlers of one task see, from the reader thread.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::string out, err;
    bool outEof = false, errEof = false;
    int terminations = 0;
    // Snapshot taken inside the termination handler.
    std::string outAtEnd, errAtEnd;
    bool eofsAtEnd = false;

    void attach(Task& task) {
        task.setStdoutHandler([this](std::string_view bytes) { add(bytes, out, outEof); });
        task.setStderrHandler([this](std::string_view bytes) { add(bytes, err, errEof); });
        task.setTerminationHandler([this](Task&) {
            std::lock_guard lock(mutex);
            ++terminations;
            outAtEnd = out;
            errAtEnd = err;
            eofsAtEnd = outEof && errEof;
            changed.notify_all();
        });
    }
    void add(std::string_view bytes, std::string& into, bool& eof) {
        std::lock_guard lock(mutex);
        EXPECT_FALSE(eof) << "bytes after end of file";
        if (bytes.empty()) {
            eof = true;
        } else {
            into.append(bytes);
        }
        changed.notify_all();
    }
    bool waitFor(const std::function<bool()>& predicate) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, predicate);
    }
};

std::unique_ptr<Task> shellTask(const std::string& script, std::vector<std::string> extra = {}) {
    auto task = std::make_unique<Task>();
    task->setExecutablePath("/bin/sh");
    std::vector<std::string> args{"-c", script, "sh"};
    args.insert(args.end(), extra.begin(), extra.end());
    task->setArguments(std::move(args));
    return task;
}

// True once `pid` no longer names a live process (gone or a zombie).
bool processGone(pid_t pid) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!stat || !std::getline(stat, line)) return true;
        auto close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size()) {
            char state = line[close + 2];
            if (state == 'Z' || state == 'X') return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

bool processAlive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line)) return false;
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST(TaskTest, TerminationStatusIsExitCodeOrSignalNumber) {
    struct Case {
        const char* script;
        int status;
        Reason reason;
    };
    const Case cases[] = {
        {"exit 0", 0, Reason::exit},
        {"exit 1", 1, Reason::exit},
        {"exit 2", 2, Reason::exit},
        {"exit 101", 101, Reason::exit},
        {"exit 255", 255, Reason::exit},
        {"kill -TERM $$", 15, Reason::uncaughtSignal},
        {"kill -KILL $$", 9, Reason::uncaughtSignal},
        {"kill -HUP $$", 1, Reason::uncaughtSignal},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        auto task = shellTask(c.script);
        Recorder rec;
        rec.attach(*task);
        ASSERT_FALSE(task->launch().has_value());
        EXPECT_GT(task->processIdentifier(), 0);
        task->waitUntilExit();
        EXPECT_FALSE(task->isRunning());
        EXPECT_EQ(task->terminationStatus(), c.status);
        EXPECT_EQ(task->terminationReason(), c.reason);
        EXPECT_EQ(rec.terminations, 1);
        EXPECT_TRUE(rec.eofsAtEnd);
    }
}

// The child writes and then dies by SIGTERM at once: everything it wrote must
// reach the handlers before the termination handler runs.
TEST(TaskTest, LastBytesBeforeSigtermArriveBeforeTermination) {
    auto task = shellTask(
        "head -c 50000 /dev/zero | tr '\\0' x; printf 'tail'; printf 'last error' >&2; kill -TERM $$");
    Recorder rec;
    rec.attach(*task);
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    EXPECT_EQ(task->terminationStatus(), 15);
    EXPECT_EQ(task->terminationReason(), Reason::uncaughtSignal);
    std::lock_guard lock(rec.mutex);
    EXPECT_TRUE(rec.eofsAtEnd);
    EXPECT_EQ(rec.outAtEnd, std::string(50000, 'x') + "tail");
    EXPECT_EQ(rec.errAtEnd, "last error");
}

TEST(TaskTest, TerminateAndKillEndARunningChildWithTheirSignal) {
    const std::pair<bool, int> cases[] = {{true, 15}, {false, 9}};
    for (auto [useTerminate, expected] : cases) {
        SCOPED_TRACE(expected);
        auto task = shellTask("echo ready; exec sleep 1000");
        Recorder rec;
        rec.attach(*task);
        ASSERT_FALSE(task->launch().has_value());
        ASSERT_TRUE(rec.waitFor([&] { return rec.out == "ready\n"; }));
        EXPECT_TRUE(task->isRunning());
        useTerminate ? task->terminate() : task->kill();
        task->waitUntilExit();
        EXPECT_EQ(task->terminationStatus(), expected);
        EXPECT_EQ(task->terminationReason(), Reason::uncaughtSignal);
        EXPECT_EQ(rec.outAtEnd, "ready\n");
    }
}

TEST(TaskTest, LargeOutputOnBothPipesArrivesCompleteAndInOrder) {
    auto task = shellTask("seq 1 1000000 & seq 1 400000 >&2; wait");
    Recorder rec;
    rec.attach(*task);
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    auto expected = [](int n) {
        std::string s;
        for (int i = 1; i <= n; ++i) s += std::to_string(i) + "\n";
        return s;
    };
    std::lock_guard lock(rec.mutex);
    EXPECT_EQ(task->terminationStatus(), 0);
    EXPECT_GT(rec.outAtEnd.size(), 6u << 20);
    EXPECT_TRUE(rec.outAtEnd == expected(1000000)) << "stdout differs, size " << rec.outAtEnd.size();
    EXPECT_TRUE(rec.errAtEnd == expected(400000)) << "stderr differs, size " << rec.errAtEnd.size();
}

TEST(TaskTest, ArgumentsArePassedVerbatimWithoutAShell) {
    const std::vector<std::string> args{"a b",  "\"quoted\"", "'single'", "-n",       "--flag=x y",
                                        "",     "$HOME",      "*",        "a;b|c&d", "back\\slash",
                                        "ünï", "line\nbreak"};
    auto task = shellTask("for a; do printf '[%s]' \"$a\"; done", args);
    Recorder rec;
    rec.attach(*task);
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    std::string expected;
    for (const auto& a : args) expected += "[" + a + "]";
    EXPECT_EQ(rec.outAtEnd, expected);
}

TEST(TaskTest, EnvironmentWorkingDirectoryAndStandardStreams) {
    testkit::ScopedEnvironment environment;
    environment.set("TASK_TEST_INHERITED", "kept");
    environment.set("TASK_TEST_REPLACED", "old");
    auto dir = std::filesystem::temp_directory_path() / ("task-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto task = shellTask(
        "printf '%s|%s|%s|' \"$TASK_TEST_INHERITED\" \"$TASK_TEST_REPLACED\" \"$TASK_TEST_ADDED\"; pwd;"
        "if read line; then echo stdin-had-data; else echo stdin-empty; fi; printf 'to stderr' >&2");
    task->setEnvironmentAdditions({{"TASK_TEST_REPLACED", "new"}, {"TASK_TEST_ADDED", "a b=c"}});
    task->setCurrentDirectory(dir.string());
    Recorder rec;
    rec.attach(*task);
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    EXPECT_EQ(rec.outAtEnd, "kept|new|a b=c|" + std::filesystem::canonical(dir).string() + "\nstdin-empty\n");
    EXPECT_EQ(rec.errAtEnd, "to stderr");
    std::filesystem::remove_all(dir);
}

// Descriptor number -> link target, of this process.
std::map<std::string, std::string> openDescriptors() {
    std::map<std::string, std::string> result;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        auto target = std::filesystem::read_symlink(entry.path(), ec);
        if (!ec) result[entry.path().filename().string()] = target.string();
    }
    return result;
}

// Our descriptors are close-on-exec: a child sees none of another running
// task's pipe ends, and only /dev/null and its own pipes on 0, 1 and 2.
TEST(TaskTest, ChildInheritsNoDescriptorsOfOtherTasks) {
    std::set<std::string> before;
    for (const auto& [fd, target] : openDescriptors()) before.insert(target);
    auto other = shellTask("exec sleep 1000");
    ASSERT_FALSE(other->launch().has_value());
    std::set<std::string> othersTargets;
    for (const auto& [fd, target] : openDescriptors()) {
        if (!before.count(target) && target.rfind("/proc/", 0) != 0) othersTargets.insert(target);
    }
    EXPECT_GE(othersTargets.size(), 2u);  // its two pipe ends (and a pidfd)

    Task task;
    task.setExecutablePath("/bin/ls");
    task.setArguments({"-l", "/proc/self/fd/"});
    Recorder rec;
    rec.attach(task);
    ASSERT_FALSE(task.launch().has_value());
    task.waitUntilExit();
    other->kill();

    std::map<std::string, std::string> seen;
    std::istringstream lines(rec.outAtEnd);
    std::string line;
    while (std::getline(lines, line)) {
        auto arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        auto space = line.rfind(' ', arrow - 1);
        seen[line.substr(space + 1, arrow - space - 1)] = line.substr(arrow + 4);
    }
    EXPECT_EQ(seen["0"], "/dev/null");
    EXPECT_EQ(seen["1"].rfind("pipe:", 0), 0u);
    EXPECT_EQ(seen["2"].rfind("pipe:", 0), 0u);
    for (const auto& [fd, target] : seen) {
        EXPECT_FALSE(othersTargets.count(target)) << "fd " << fd << " -> " << target << " leaked";
    }
}

TEST(TaskTest, LaunchFailuresAreErrorValues) {
    auto dir = std::filesystem::temp_directory_path() / ("task-fail-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto plain = (dir / "not-executable").string();
    std::ofstream(plain) << "#!/bin/sh\necho hi\n";
    ::chmod(plain.c_str(), 0644);

    struct Case {
        std::string path;
        std::string directory;
        int code;
    };
    const Case cases[] = {
        {"/nonexistent/tool", "", ENOENT},
        {plain, "", EACCES},
        {dir.string(), "", EACCES},
        {"", "", ENOENT},
        {"/bin/sh", (dir / "missing").string(), ENOTDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " in " + c.directory);
        Task task;
        task.setExecutablePath(c.path);
        task.setCurrentDirectory(c.directory);
        Recorder rec;
        rec.attach(task);
        auto error = task.launch();
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->domain, Task::kErrorDomain);
        EXPECT_EQ(error->code, c.code);
        std::string description = error->localizedDescription();
        EXPECT_NE(description.find(c.directory.empty() ? c.path : c.directory), std::string::npos)
            << description;
        EXPECT_FALSE(task.isRunning());
        EXPECT_EQ(task.processIdentifier(), 0);
        task.terminate();
        task.waitUntilExit();
        EXPECT_EQ(rec.terminations, 0);
        EXPECT_EQ(rec.out, "");
    }
    std::filesystem::remove_all(dir);

    // A second launch is refused and leaves the first run alone.
    auto task = shellTask("exit 4");
    ASSERT_FALSE(task->launch().has_value());
    auto again = task->launch();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->code, EALREADY);
    task->waitUntilExit();
    EXPECT_EQ(task->terminationStatus(), 4);
}

TEST(TaskTest, TerminateAndKillAreHarmlessBeforeLaunchAndAfterExit) {
    auto task = shellTask("exit 3");
    Recorder rec;
    rec.attach(*task);
    task->terminate();
    task->kill();
    EXPECT_FALSE(task->isRunning());
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    task->terminate();
    task->kill();
    EXPECT_EQ(task->terminationStatus(), 3);
    EXPECT_EQ(task->terminationReason(), Reason::exit);
    EXPECT_EQ(rec.terminations, 1);
}

// After setStdoutHandler(nullptr) returns, the old handler is not running and
// never runs again, although the child keeps writing.
TEST(TaskTest, RemovingAHandlerSynchronisesWithTheReader) {
    auto task = shellTask("exec yes");
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    task->setStdoutHandler([&](std::string_view) {
        inside = true;
        ++calls;
        std::this_thread::sleep_for(1ms);
        inside = false;
    });
    ASSERT_FALSE(task->launch().has_value());
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (calls < 5 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_GE(calls.load(), 5);
    task->setStdoutHandler(nullptr);
    EXPECT_FALSE(inside.load());
    int frozen = calls;
    task->kill();
    task->waitUntilExit();
    EXPECT_EQ(calls.load(), frozen);
    EXPECT_EQ(task->terminationStatus(), 9);
}

TEST(TaskTest, HandlerCanRemoveItselfFromTheReaderThread) {
    auto task = shellTask("exec yes");
    std::atomic<int> calls{0};
    task->setStdoutHandler([&](std::string_view) {
        ++calls;
        task->setStdoutHandler(nullptr);
        task->kill();
    });
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    EXPECT_EQ(calls.load(), 1);
}

// Table: with its own group, terminate() also ends a grandchild; without, the
// grandchild survives and keeps the pipe open, yet the termination arrives.
TEST(TaskTest, ProcessGroupTerminateReachesGrandchildren) {
    for (bool ownGroup : {true, false}) {
        SCOPED_TRACE(ownGroup);
        auto task = shellTask("sleep 1000 & echo $!; wait");
        task->setOwnProcessGroup(ownGroup);
        Recorder rec;
        rec.attach(*task);
        ASSERT_FALSE(task->launch().has_value());
        ASSERT_TRUE(rec.waitFor([&] { return rec.out.find('\n') != std::string::npos; }));
        pid_t grandchild = std::stoi(rec.out);
        ASSERT_TRUE(processAlive(grandchild));
        task->terminate();
        task->waitUntilExit();
        EXPECT_EQ(task->terminationStatus(), 15);
        EXPECT_TRUE(rec.eofsAtEnd);
        if (ownGroup) {
            EXPECT_TRUE(processGone(grandchild));
        } else {
            EXPECT_TRUE(processAlive(grandchild));
            ::kill(grandchild, SIGKILL);
        }
    }
}

TEST(TaskTest, DestroyingARunningTaskKillsItAndCallsNoHandler) {
    std::atomic<int> terminations{0};
    auto task = shellTask("echo ready; exec sleep 1000");
    task->setOwnProcessGroup(true);
    Recorder rec;
    task->setStdoutHandler([&](std::string_view bytes) { rec.add(bytes, rec.out, rec.outEof); });
    task->setTerminationHandler([&](Task&) { ++terminations; });
    ASSERT_FALSE(task->launch().has_value());
    ASSERT_TRUE(rec.waitFor([&] { return rec.out == "ready\n"; }));
    pid_t pid = task->processIdentifier();
    task.reset();
    EXPECT_TRUE(processGone(pid));
    EXPECT_EQ(terminations.load(), 0);
}

// Handlers that own their task (the only owner once the caller lets go) are
// released after their last call, so the task is freed on its own thread.
TEST(TaskTest, HandlersOwningTheirTaskAreReleasedAtTheEnd) {
    auto task = std::make_shared<Task>();
    task->setExecutablePath("/bin/sh");
    task->setArguments({"-c", "echo title; echo thumbnail"});
    std::weak_ptr<Task> weak = task;
    std::mutex mutex;
    std::string box;
    std::atomic<int> status{-1};
    task->setStdoutHandler([task, &mutex, &box](std::string_view bytes) {
        std::lock_guard lock(mutex);
        box.append(bytes);
    });
    task->setTerminationHandler([task, &status](Task& self) {
        EXPECT_EQ(&self, task.get());
        status = self.terminationStatus();
    });
    ASSERT_FALSE(task->launch().has_value());
    task.reset();
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!weak.expired() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(status.load(), 0);
    std::lock_guard lock(mutex);
    EXPECT_EQ(box, "title\nthumbnail\n");
}

// Ended tasks that are kept (a download list keeps each item's last process)
// hold no thread: the stacks of their reader threads must not pile up.
TEST(TaskTest, EndedTasksKeptAliveHoldNoThreadStack) {
    // Writable mappings of exactly a thread stack's size: thread stacks (in
    // use, or kept by the C library for reuse, which it caps at a few).
    auto stackMappings = [] {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        size_t stackSize = 0;
        pthread_attr_getstacksize(&attributes, &stackSize);
        pthread_attr_destroy(&attributes);
        std::ifstream maps("/proc/self/maps");
        size_t count = 0;
        for (std::string line; std::getline(maps, line);) {
            unsigned long from = 0, to = 0;
            char permissions[5] = {};
            if (std::sscanf(line.c_str(), "%lx-%lx %4s", &from, &to, permissions) == 3 &&
                std::string(permissions) == "rw-p" && to - from == stackSize) {
                ++count;
            }
        }
        return count;
    };
    const size_t before = stackMappings();
    std::vector<std::unique_ptr<Task>> kept;
    for (int i = 0; i < 30; ++i) {
        kept.push_back(shellTask("exit 0"));
        Recorder recorder;
        recorder.attach(*kept.back());
        ASSERT_FALSE(kept.back()->launch().has_value());
        kept.back()->waitUntilExit();
        kept.back()->setStdoutHandler(nullptr);
        kept.back()->setStderrHandler(nullptr);
        kept.back()->setTerminationHandler(nullptr);
    }
    // Each reader thread ends right after its termination handler returned.
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (stackMappings() > before + 10 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_LE(stackMappings(), before + 10) << "thirty kept tasks would keep thirty stacks";
    EXPECT_EQ(kept.back()->terminationStatus(), 0);
    kept.clear();  // destroying ended tasks returns at once
}

TEST(TaskTest, NiceIncrementLowersTheChildsPriorityOnly) {
    auto niceness = [](int increment) {
        Task task;
        task.setExecutablePath("/usr/bin/nice");  // prints its own niceness
        task.setNiceIncrement(increment);
        Recorder recorder;
        recorder.attach(task);
        EXPECT_FALSE(task.launch().has_value());
        EXPECT_TRUE(recorder.waitFor([&] { return recorder.terminations == 1; }));
        std::lock_guard lock(recorder.mutex);
        return std::stoi(recorder.out);
    };
    const int own = niceness(0);
    EXPECT_EQ(niceness(5), std::min(own + 5, 19));
    EXPECT_EQ(niceness(40), 19);  // at most the lowest priority
    EXPECT_EQ(niceness(0), own) << "this process kept its priority";
}

TEST(TaskTest, OutputCanBeInheritedOrDiscarded) {
    auto task = shellTask("echo out; echo err >&2");
    task->setStandardOutput(Task::Output::discard);
    task->setStandardError(Task::Output::discard);
    Recorder rec;
    rec.attach(*task);
    ASSERT_FALSE(task->launch().has_value());
    task->waitUntilExit();
    EXPECT_EQ(task->terminationStatus(), 0);
    EXPECT_EQ(rec.terminations, 1);
    EXPECT_EQ(rec.out, "");
    EXPECT_FALSE(rec.outEof);  // no pipe, so no end-of-file call either
}

}  // namespace
}  // namespace platform
