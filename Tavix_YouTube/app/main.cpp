// tavix: the application's entry point.
#include "Tavix_YouTube/app/AppShell.h"

int main(int argc, char** argv) {
  AppShell shell(argc, argv);
  shell.start();
  shell.exec();
  return 0;
}
