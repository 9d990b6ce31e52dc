// media-server: serves the files below a folder on 127.0.0.1, with byte
// ranges (see testing/MediaServer.h), until it is ended by a signal.
//
//   media-server ROOT [--port N] [--rate BYTES_PER_SECOND] [--cut-after BYTES]
//
// --cut-after answers without a length and ends after that many bytes of
// each file, as a server that closes early does.
//
// The first line on standard output is "port N" once it listens.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "testing/MediaServer.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: media-server ROOT [--port N] [--rate BYTES_PER_SECOND] [--cut-after BYTES]\n");
    return 2;
  }
  int port = 0;
  unsigned long long rate = 0;
  unsigned long long cutAfter = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) port = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rate") == 0) rate = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--cut-after") == 0) cutAfter = std::strtoull(argv[i + 1], nullptr, 10);
  }
  testkit::MediaServer server(argv[1], port);
  server.setRate(rate);
  server.setCutAfter(cutAfter);
  std::printf("port %d\n", server.port());
  std::fflush(stdout);
  server.wait();
  return 0;
}
