#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/log/Console.h"
#include "platform/log/ConsoleCapture.h"

namespace platform {
namespace {

// Reads from fd until `expected` bytes arrived or the writer is plainly stuck.
std::string readUntil(int fd, size_t expected) {
  std::string got;
  char buffer[256];
  while (got.size() < expected) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 20000) <= 0) break;  // hang guard, not a speed check
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

TEST(ConsoleTest, PipeReaderSeesEachLineWhileWriterIsStillRunning) {
  int out[2], go[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(go), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(go[1]);
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);  // as stdout on a pipe is
    std::cout << "via stdio\n";                       // buffered, not flushed
    console::line("Downloading: 42% \xE2\x9C\x93");
    char wait;
    ssize_t ignored = ::read(go[0], &wait, 1);  // stay alive until the parent has read
    (void)ignored;
    console::line("second");
    ::_exit(0);
  }
  ::close(out[1]);
  ::close(go[0]);
  const std::string first = "via stdio\nDownloading: 42% \xE2\x9C\x93\n";
  EXPECT_EQ(readUntil(out[0], first.size()), first);
  ASSERT_EQ(::write(go[1], "x", 1), 1);
  EXPECT_EQ(readUntil(out[0], 7), "second\n");
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(out[0]);
  ::close(go[1]);
  EXPECT_TRUE(WIFEXITED(status));
}

TEST(ConsoleTest, CaptureKeepsLinesFromAllThreadsAndRestoresWriter) {
  std::vector<std::string> outer;
  console::Writer previous = console::setWriter([&](std::string_view text) { outer.emplace_back(text); });
  {
    ConsoleCapture capture;
    std::thread worker([] { console::line("from worker"); });
    worker.join();
    console::line("");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"from worker", ""}));
  }
  console::line("after");
  console::setWriter(previous);
  EXPECT_EQ(outer, std::vector<std::string>{"after"});
}

// Control characters from outside text are written escaped: a title with a
// terminal escape neither colours the terminal nor breaks the line.
TEST(ConsoleTest, ControlCharactersAreWrittenEscaped) {
  struct Case {
    std::string text;
    std::string written;
  } cases[] = {
      {"plain \xE2\x9C\x93 text", "plain \xE2\x9C\x93 text"},
      {"\x1b[31mred\x1b[0m", "\\e[31mred\\e[0m"},
      {"two\nlines\r\tand a bell\x07 and DEL\x7f", "two\\nlines\\r\\tand a bell\\x07 and DEL\\x7f"},
      {std::string("nul\0byte", 8), "nul\\x00byte"},
      // C1 controls (U+0080..U+009F, e.g. the one-byte CSI), not other
      // characters of that lead byte, nor ill-formed bytes.
      {"csi\xC2\x9B" "31m \xC2\xA9 \xC2 \xFF", "csi\\u009b31m \xC2\xA9 \xC2 \xFF"},
  };
  ConsoleCapture capture;
  for (const Case& c : cases) console::line(c.text);
  ASSERT_EQ(capture.lines().size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(capture.lines()[i], cases[i].written) << i;
}

}  // namespace
}  // namespace platform
