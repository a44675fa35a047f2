#include <signal.h>

#include <gtest/gtest.h>
#include <zorvik/error.h>
#include <zorvik/pipeline.h>

#include "pipeline_support.h"

namespace {

// Hashes one mapped file, which puts the bus error guard in place.
void hashOneMappedFile() {
  scratchDir dir;
  makeFile(dir.file("f"), 100000);
  processor p;
  p.start();
  recordingHasher h;
  h.fileSize = 100000;
  std::wstring path = widen(dir.file("f"));
  ASSERT_EQ(p.processFile(path.c_str(), &h), error::ok);
  p.wait();
  ASSERT_EQ(p.getResult(), error::ok);
}

volatile sig_atomic_t g_caught = 0;
void catchBus(int) { g_caught = 1; }

// A bus error outside a hashed window is not ours: it goes on to the
// handler that was there before the guard.
TEST(FaultGuard, PassesOtherBusErrorsOn) {
  struct sigaction mine = {}, previous;
  mine.sa_handler = catchBus;
  sigemptyset(&mine.sa_mask);
  ASSERT_EQ(sigaction(SIGBUS, &mine, &previous), 0);
  hashOneMappedFile();
  g_caught = 0;
  raise(SIGBUS);
  EXPECT_EQ(g_caught, 1);
  sigaction(SIGBUS, &previous, nullptr);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// With no handler before it, such a bus error still ends the process as
// the default action would (the sanitizers bring handlers of their own).
TEST(FaultGuard, DefaultActionStaysDeadly) {
  EXPECT_EXIT(
      {
        signal(SIGBUS, SIG_DFL);
        hashOneMappedFile();
        raise(SIGBUS);
        exit(0);
      },
      ::testing::KilledBySignal(SIGBUS), "");
}
#endif

}  // namespace
