// tavix: the application's entry point.
#include "Tavix_YouTube/app/AppShell.h"
#include "platform/runtime/EndProcess.h"

int main(int argc, char** argv) {
  {
    AppShell shell(argc, argv);
    shell.start();
    shell.exec();
  }
  // The SDK's queued work may still run on the pool; no exit-time destructors under it.
  platform::endProcess(0);
}
