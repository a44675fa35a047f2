#include <cstdio>

#include "output.h"
#include "run.h"

void waitForJob(run_context& context, const char* shown, char closing) {
  processor& worker = context.worker;
  if (context.settings.quiet) {
    worker.wait();
    return;
  }
  int lastShown = -1;
  int timeout = 5000;
  while (!worker.wait(timeout)) {
    timeout = 500;
    int percent = worker.getProgress();
    if (percent != lastShown) {
      lastShown = percent;
      progress("%s: %d%% complete\r", shown, percent);
    }
  }
  printf("%s: 100%% complete%c", shown, closing);
}
