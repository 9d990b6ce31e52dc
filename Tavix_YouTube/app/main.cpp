// tavix: the application's entry point.
#include "Tavix_YouTube/app/AppShell.h"

int main(int argc, char** argv) {
  AppShell shell(argc, argv);
  shell.start();
  // The window was closed or a quit signal arrived: the one way out.
  shell.quit(shell.exec());
}
