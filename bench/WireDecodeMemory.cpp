// Resident memory of decoding 5 MB of hostile wire input to its error: each
// case's input is written to a file, then read and decoded by a fresh run of
// this program (so nothing of an earlier case is resident), beside a fresh
// run that only reads the same file, the reference. For each case it prints
// the largest resident size of both runs, their difference, and the decoder's
// answer:
//
//   empty-bundles      rss_max_mb=14.9 reference_mb=11.3 growth_mb=3.6 goal_mb=30 decoded=no
//                      line="<ERROR> MeasurementBatch decoder failed: Decoded size over 16777216 bytes"
//
//   bench_wire_decode_memory [SIZE_MB]       (default 5)
//
// The inputs repeat one short item (two bytes each) until the size is
// reached: each item makes a whole record, string cell or value in memory.
// A child run is `bench_wire_decode_memory --child decode|read CASE FILE`.
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "measurement/messages/APMPBMessageType.h"

namespace {

struct Case {
  const char* name;
  const APMPBMessageType& type;
  uint8_t item[2];
};

// Each an item of a repeated field of the type, empty or one byte long.
const Case kCases[] = {
    {"empty-bundles", kAPMPBMeasurementBatch, {0x0a, 0x00}},
    {"empty-parameters", kAPMPBEvent, {0x0a, 0x00}},
    {"one-byte-varints", kAPMPBResultData, {0x08, 0x01}},
    {"short-strings", kAPMPBStringFilter, {0x22, 0x00}},
};

const Case* caseNamed(const char* name) {
  for (const Case& each : kCases) {
    if (std::strcmp(each.name, name) == 0) return &each;
  }
  return nullptr;
}

double peakResidentMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The child: reads the file whole, decodes it unless only reading, and
// prints "peak_mb=N decoded=yes|no" last (the decoder's own lines come first).
int child(bool decode, const Case& which, const char* path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.eof() && file.fail()) {
    std::fprintf(stderr, "cannot read %s\n", path);
    return 2;
  }
  bool decoded = false;
  if (decode) {
    APMPBMessageInfo* info = which.type.newMessageInfo();
    decoded = which.type.decode(bytes.data(), bytes.size(), info);
    which.type.freeMessageInfo(info);
  }
  std::fflush(stdout);
  std::printf("peak_mb=%.1f decoded=%s\n", peakResidentMB(), decoded ? "yes" : "no");
  return 0;
}

struct ChildAnswer {
  double peakMB = -1;
  std::string decoded = "?";
  std::string firstLine;
};

ChildAnswer runChild(const std::string& self, const char* mode, const Case& which, const std::string& path) {
  const std::string command = "'" + self + "' --child " + mode + " " + which.name + " '" + path + "'";
  ChildAnswer answer;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return answer;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    char decoded[8] = {};
    double peak = 0;
    if (std::sscanf(text.c_str(), "peak_mb=%lf decoded=%7s", &peak, decoded) == 2) {
      answer.peakMB = peak;
      answer.decoded = decoded;
    } else if (answer.firstLine.empty()) {
      answer.firstLine = text;
    }
  }
  if (pclose(pipe) != 0) answer.peakMB = -1;
  return answer;
}

std::string selfPath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return {};
  return std::string(path, size_t(length));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
    const Case* which = caseNamed(argv[3]);
    if (which == nullptr) return 2;
    return child(std::strcmp(argv[2], "decode") == 0, *which, argv[4]);
  }
  const double sizeMB = argc > 1 ? std::atof(argv[1]) : 5.0;
  if (!(sizeMB > 0 && sizeMB <= 64)) {
    std::fprintf(stderr, "usage: %s [SIZE_MB] (0 < SIZE_MB <= 64)\n", argv[0]);
    return 2;
  }
  const std::string self = selfPath();
  char directory[] = "/tmp/wire-decode-memory-XXXXXX";
  if (self.empty() || mkdtemp(directory) == nullptr) {
    std::fprintf(stderr, "cannot find this program or make a temporary directory\n");
    return 1;
  }
  const size_t size = size_t(sizeMB * 1024 * 1024) & ~size_t(1);
  int failures = 0;
  for (const Case& which : kCases) {
    const std::string path = std::string(directory) + "/" + which.name;
    {
      std::vector<uint8_t> bytes(size);
      for (size_t at = 0; at < size; at += 2) std::memcpy(&bytes[at], which.item, 2);
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
    }
    const ChildAnswer reference = runChild(self, "read", which, path);
    const ChildAnswer decode = runChild(self, "decode", which, path);
    std::remove(path.c_str());
    if (reference.peakMB < 0 || decode.peakMB < 0) {
      std::printf("%-18s a child run failed\n", which.name);
      ++failures;
      continue;
    }
    std::printf("%-18s rss_max_mb=%.1f reference_mb=%.1f growth_mb=%.1f goal_mb=30 decoded=%s\n", which.name,
                decode.peakMB, reference.peakMB, decode.peakMB - reference.peakMB, decode.decoded.c_str());
    std::printf("%-18s line=\"%s\"\n", "", decode.firstLine.c_str());
  }
  rmdir(directory);
  return failures == 0 ? 0 : 1;
}
