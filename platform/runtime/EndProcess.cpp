#include "platform/runtime/EndProcess.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace platform {

void endProcess(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  // _exit rather than _Exit: the thread sanitizer reports through it.
  ::_exit(status);
}

}  // namespace platform
