// fake-collector: a loopback telemetry collector to run the SDK against by
// hand, until it is ended by a signal.
//
//   fake-collector --port N --script FILE
//
// The first line on standard output is "port N" once it listens (N is a free
// port when 0 is asked). Each request is then written as text: method and
// path, the headers in order, and the decoded body (FakeCollector.h, which
// also describes the script's lines).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "testing/fakes/transport/FakeCollector.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

int usage() {
  std::fprintf(stderr, "usage: fake-collector --port N --script FILE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = -1;
  std::string scriptPath;
  for (int i = 1; i < argc; i += 2) {
    if (i + 1 >= argc) return usage();
    if (std::strcmp(argv[i], "--port") == 0) {
      char* end = nullptr;
      const long value = std::strtol(argv[i + 1], &end, 10);
      if (*argv[i + 1] == '\0' || *end != '\0' || value < 0 || value > 65535) return usage();
      port = static_cast<int>(value);
    } else if (std::strcmp(argv[i], "--script") == 0) {
      scriptPath = argv[i + 1];
    } else {
      return usage();
    }
  }
  if (port < 0 || scriptPath.empty()) return usage();
  std::ifstream file(scriptPath);
  if (!file) {
    std::fprintf(stderr, "fake-collector: cannot read %s\n", scriptPath.c_str());
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string error;
  auto answers = testkit::FakeCollector::parseScript(text, &error);
  if (!answers) {
    std::fprintf(stderr, "fake-collector: %s: %s\n", scriptPath.c_str(), error.c_str());
    return 1;
  }

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  testkit::FakeCollector collector(port);
  collector.script(*answers);
  std::printf("port %d\n", collector.port());
  std::fflush(stdout);
  size_t written = 0;
  // Only the requests not written yet are decoded.
  auto writeNew = [&] {
    std::vector<testkit::RecordedRequest> requests = collector.server().requests();
    for (; written < requests.size(); ++written) {
      std::fputs(testkit::FakeCollector::describe(testkit::FakeCollector::decode(requests[written])).c_str(), stdout);
      std::fflush(stdout);
    }
  };
  while (!g_stop) {
    if (collector.waitForRequests(written + 1, 0.2)) writeNew();
  }
  // Requests answered just before the signal are written too.
  collector.server().stop();
  writeNew();
  return 0;
}
