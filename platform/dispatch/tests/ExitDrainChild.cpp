// exit-drain-child PATH: queues a slow write of "written" to PATH on a
// registered store queue, then ends at once as a program that is done ends:
// the drain, then endProcess (which runs no queued work).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/dispatch/ExitDrain.h"
#include "platform/runtime/EndProcess.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: exit-drain-child PATH\n");
    return 2;
  }
  const std::string path = argv[1];
  static const auto* const queue = new platform::SerialQueue("test.exit-drain.store");
  platform::ExitDrain::registerQueue(*queue);
  queue->async([path] {
    // A write that takes a while, replaced in one rename as stores do.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string temporary = path + ".tmp";
    std::ofstream(temporary) << "written";
    std::rename(temporary.c_str(), path.c_str());
  });
  platform::ExitDrain::drain(60);
  platform::endProcess(0);
}
