#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cstring>

#include <gtest/gtest.h>
#include <zorvik/pipeline.h>

namespace {

double monotonicSeconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

TEST(Event, TwoPostsPassExactlyTwoWaits) {
  event e;
  e.post();
  e.post();
  EXPECT_TRUE(e.timedWait(1000));
  EXPECT_TRUE(e.tryWait());
  EXPECT_FALSE(e.tryWait());
  e.post();
  e.post();
  e.wait();
  EXPECT_TRUE(e.tryWait());
  EXPECT_FALSE(e.tryWait());
}

TEST(Event, TimedWaitExpiresNoEarlierThanAsked) {
  event e;
  for (int ms : {0, -5, 1, 120}) {
    double before = monotonicSeconds();
    EXPECT_FALSE(e.timedWait(ms)) << ms;
    if (ms > 0) {
      EXPECT_GE(monotonicSeconds() - before, ms / 1000.0 - 0.002) << ms;
    }
  }
}

void noOp(int) {}

// A waiter that is interrupted by signals (no SA_RESTART) must still return
// only once the event was really posted.
TEST(Event, SignalsDoNotEndWaits) {
  struct sigaction action = {}, previous;
  action.sa_handler = noOp;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  for (int kind = 0; kind < 2; ++kind) {
    event e;
    std::atomic<bool> posted{false}, sawPost{false}, done{false};
    pthread_t waiter;
    struct job {
      event* e;
      int kind;
      std::atomic<bool>* posted;
      std::atomic<bool>* sawPost;
      std::atomic<bool>* done;
    } j{&e, kind, &posted, &sawPost, &done};
    ASSERT_EQ(pthread_create(&waiter, nullptr, [](void* p) -> void* {
                auto* j = static_cast<job*>(p);
                bool taken = true;
                if (j->kind == 0) j->e->wait();
                else taken = j->e->timedWait(20000);
                *j->sawPost = taken && j->posted->load();
                *j->done = true;
                return nullptr;
              }, &j), 0);
    for (int i = 0; i < 5; ++i) {
      usleep(20000);
      pthread_kill(waiter, SIGUSR1);
    }
    usleep(20000);
    EXPECT_FALSE(done.load()) << "kind " << kind;
    posted = true;
    e.post();
    pthread_join(waiter, nullptr);
    EXPECT_TRUE(sawPost.load()) << "kind " << kind;
  }
  sigaction(SIGUSR1, &previous, nullptr);
}

class probeThread : public thread {
public:
  explicit probeThread(const char* name) : thread(name) { _built = true; }
  ~probeThread() override { join(); }
  int run() override {
    ++runs;
    builtFirst = _built.load();
    onWorker = !pthread_equal(pthread_self(), owner);
    pthread_getname_np(pthread_self(), osName, sizeof osName);
    return 0;
  }
  const char* name() const { return _name; }
  int state() const { return __atomic_load_n(&_state, __ATOMIC_ACQUIRE); }

  std::atomic<bool> _built{false};
  std::atomic<int> runs{0};
  bool builtFirst = false, onWorker = false;
  pthread_t owner = pthread_self();
  char osName[16] = {};
};

TEST(Thread, RunsOwnRunOnceOnWorkerAfterConstruction) {
  probeThread t("checker");
  t.start();
  t.start();  // a second start is ignored
  EXPECT_EQ(t.join(), &t);
  EXPECT_EQ(t.runs.load(), 1);
  EXPECT_TRUE(t.builtFirst);
  EXPECT_TRUE(t.onWorker);
  EXPECT_STREQ(t.osName, "checker");
  EXPECT_EQ(t.state(), thread::finished);
  EXPECT_TRUE(t.isCreated());
}

TEST(Thread, NullNameIsUnknown) {
  probeThread t(nullptr);
  EXPECT_STREQ(t.name(), "unknown");
  t.start();
  t.join();
  EXPECT_STREQ(t.osName, "unknown");
}

TEST(Thread, NeverStartedEndsWithoutRunning) {
  auto* t = new probeThread("idle");
  EXPECT_EQ(t->state(), thread::created);
  delete t;  // would block for ever if the worker still waited for its start
  probeThread u("idle2");
  u.join();
  EXPECT_EQ(u.runs.load(), 0);
  EXPECT_EQ(u.state(), thread::finished);
}

}  // namespace
