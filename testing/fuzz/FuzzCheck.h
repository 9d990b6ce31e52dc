// FUZZ_CHECK(condition): a promise a fuzz target verifies (a round trip, a
// size limit). A broken one prints where and aborts, so libFuzzer and the
// replay driver report the input that broke it like any crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

[[noreturn]] inline void checkFailed(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, condition);
  std::abort();
}

}  // namespace fuzzing

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzzing::checkFailed(__FILE__, __LINE__, #condition))
