// Ends a program that is done without running exit-time destructors.
//
// Work queued on the dispatch pool (uploads, timers, store writes) may still
// be running when a program returns from main; destroying static objects
// under it would be a use after free. endProcess flushes the output streams
// and ends the process at once. In sanitizer builds the leak check still runs
// (and a race report still fails the exit status).
#pragma once

namespace platform {

[[noreturn]] void endProcess(int status);

}  // namespace platform
