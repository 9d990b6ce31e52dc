#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/log/CapturingLogSink.h"
#include "platform/log/FileLogSink.h"
#include "platform/log/InternalProblem.h"
#include "platform/log/Log.h"
#include "platform/log/ScopedLogSink.h"
#include "platform/log/StderrLogSink.h"

namespace platform {
namespace {

TEST(LogTest, CaptureReceivesExactRecordWithTextUnchanged) {
  ScopedLogSink scope;
  Log log = Log::handle("com.zoruvu.utilities.logger", "[ZULLogger]");
  // Format characters, a trailing blank and an embedded newline stay as they are.
  const std::string text = "12.6.0 - [ZULLogger][I-COR000023] Invalid %ld %@ level \nnext ";
  log.write(LogType::Error, text);
  log.write(LogType::Debug, "");

  std::vector<LogRecord> records = scope.capture()->records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0], (LogRecord{"com.zoruvu.utilities.logger", "[ZULLogger]", LogType::Error, text}));
  EXPECT_EQ(records[1].type, LogType::Debug);
  EXPECT_EQ(records[1].text, "");
}

TEST(LogTest, SinkReplacementRestoresPreviousAndDefault) {
  auto first = std::make_shared<CapturingLogSink>();
  std::shared_ptr<LogSink> original = Log::setSink(first);
  ASSERT_NE(original, nullptr);
  {
    ScopedLogSink inner;
    Log::handle("s", "c").write(LogType::Info, "inner");
  }
  Log::handle("s", "c").write(LogType::Info, "outer");
  EXPECT_EQ(first->texts(), std::vector<std::string>{"outer"});

  Log::setSink(nullptr);
  EXPECT_NE(dynamic_cast<StderrLogSink*>(Log::sink().get()), nullptr);
  Log::setSink(original);
}

TEST(LogTest, DisabledTypesAreNotWritten) {
  struct NoDebug : CapturingLogSink {
    bool enabled(LogType type) const override { return type != LogType::Debug; }
  };
  auto sink = std::make_shared<NoDebug>();
  ScopedLogSink scope(sink);
  Log log("s", "c");
  EXPECT_FALSE(log.enabled(LogType::Debug));
  EXPECT_TRUE(log.enabled(LogType::Fault));
  log.write(LogType::Debug, "hidden");
  log.write(LogType::Fault, "shown");
  EXPECT_EQ(sink->texts(), std::vector<std::string>{"shown"});
  EXPECT_FALSE(StderrLogSink(false).enabled(LogType::Debug));
}

TEST(LogTest, ConcurrentWritersLoseNothing) {
  ScopedLogSink scope;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      Log log("s", std::to_string(t));
      for (int i = 0; i < 200; ++i) log.write(LogType::Default, std::to_string(i));
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(scope.capture()->count(), 8u * 200u);
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/logtest-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    m_dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }
  static std::string read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  std::filesystem::path m_dir;
};

using FileLogSinkTest = TempDir;

TEST_F(FileLogSinkTest, AppendsOneLinePerWriteAndKeepsEarlierContent) {
  const auto path = m_dir / "app.log";
  { std::ofstream(path) << "earlier\n"; }
  {
    auto sink = FileLogSink::open(path.string());
    ASSERT_NE(sink, nullptr);
    ScopedLogSink scope(sink);
    Log log("s", "c");
    log.write(LogType::Info, "first");
    log.write(LogType::Error, "100% done");
    // A server's text with a line break and a terminal escape stays one line.
    log.write(LogType::Error, "bad answer: \x1b[2Jgone\nfake line");
  }
  auto again = FileLogSink::open(path.string());
  again->write(LogRecord{"s", "c", LogType::Info, "third"});
  EXPECT_EQ(read(path), "earlier\nfirst\n100% done\nbad answer: \\e[2Jgone\\nfake line\nthird\n");
}

TEST_F(FileLogSinkTest, UnopenableFileIsAnErrorNotASilentSink) {
  std::string error;
  EXPECT_EQ(FileLogSink::open((m_dir / "missing" / "app.log").string(), &error), nullptr);
  EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST_F(FileLogSinkTest, StderrSinkWritesTheTextAsOneLine) {
  // Point standard error at a file for the duration of the write.
  const auto path = m_dir / "stderr.txt";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  int saved = ::dup(STDERR_FILENO);
  ::dup2(fd, STDERR_FILENO);
  StderrLogSink().write(LogRecord{"s", "c", LogType::Error, "[Cat][I-X000001] text"});
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(fd);
  EXPECT_EQ(read(path), "[Cat][I-X000001] text\n");
}

TEST(InternalProblemTest, DefaultIsAnErrorLineAndHandlerReplacesIt) {
  ScopedLogSink scope;
  reportInternalProblem("dispatch", "exception escaped task on \"q\": boom");
  auto records = scope.capture()->records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], (LogRecord{"platform", "dispatch", LogType::Error, "exception escaped task on \"q\": boom"}));

  std::vector<std::string> seen;
  InternalProblemHandler previous = setInternalProblemHandler(
      [&](std::string_view component, std::string_view text) { seen.push_back(std::string(component) + ":" + std::string(text)); });
  reportInternalProblem("runtime", "x");
  setInternalProblemHandler(previous);
  reportInternalProblem("runtime", "y");
  EXPECT_EQ(seen, std::vector<std::string>{"runtime:x"});
  EXPECT_EQ(scope.capture()->count(), 2u);
}

}  // namespace
}  // namespace platform
