#include <pthread.h>
#include <setjmp.h>
#include <signal.h>

#include <atomic>

#include <zorvik/hasher.h>

#include "pipeline/fault_guard.h"

namespace {

struct guard {
  sigjmp_buf resume;
  const unsigned char* begin;
  const unsigned char* end;
  const unsigned char* faultAt;
};

// Per thread, and in the static TLS block so the handler reads it without
// any lazy allocation.
__thread guard* volatile t_guard __attribute__((tls_model("initial-exec"))) = nullptr;

struct sigaction g_previous;
pthread_once_t g_installed = PTHREAD_ONCE_INIT;

void passOn(int signo, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
    if (g_previous.sa_sigaction != nullptr) g_previous.sa_sigaction(signo, info, context);
    return;
  }
  if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(signo);
    return;
  }
  // The default action; an ignored bus error would only fault again. The
  // signal is blocked in here, so it is delivered as soon as we return.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signo, &fallback, nullptr);
  raise(signo);
}

void onBusError(int signo, siginfo_t* info, void* context) {
  guard* active = t_guard;
  const unsigned char* at = static_cast<const unsigned char*>(info->si_addr);
  if (active != nullptr && at >= active->begin && at < active->end) {
    active->faultAt = at;
    siglongjmp(active->resume, 1);
  }
  passOn(signo, info, context);
}

void install() {
  struct sigaction action = {};
  action.sa_sigaction = onBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, &g_previous);
}

}  // namespace

namespace {

// Runs `work` over the window [data, data + length); a bus error inside the
// window ends it early and the result is false, `*at` (when given) where it
// struck.
template <typename Work>
bool guarded(const unsigned char* data, size_t length, Work work, const unsigned char** at = nullptr) {
  pthread_once(&g_installed, install);
  guard window;
  window.begin = data;
  window.end = data + length;
  window.faultAt = nullptr;
  // No mask saved: that would cost a system call per window. The handler
  // runs with SIGBUS blocked, so the jump back unblocks it by hand.
  if (sigsetjmp(window.resume, 0) != 0) {
    t_guard = nullptr;
    sigset_t bus;
    sigemptyset(&bus);
    sigaddset(&bus, SIGBUS);
    pthread_sigmask(SIG_UNBLOCK, &bus, nullptr);
    // Written by the handler after the jump point: read from memory.
    if (at != nullptr) *at = *static_cast<const unsigned char* volatile*>(&window.faultAt);
    return false;
  }
  t_guard = &window;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  work();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  t_guard = nullptr;
  return true;
}

}  // namespace

bool hashMappedWindow(hasher* h, unsigned char* data, unsigned int length) {
  return guarded(data, length, [&] { h->update(data, length); });
}

bool guardedUpdate(const zorvik::algorithm& a, void* state, const unsigned char* data, size_t length) {
  return guarded(data, length, [&] { a.update(state, data, length); });
}

bool guardedRun(const unsigned char* begin, const unsigned char* end, void (*work)(void*), void* context,
                const unsigned char** at) {
  return guarded(begin, static_cast<size_t>(end - begin), [&] { work(context); }, at);
}

bool touchMappedWindow(const unsigned char* data, unsigned int length) {
  return guarded(data, length, [&] {
    unsigned char sink = 0;
    for (unsigned int at = 0; at < length; at += 4096)
      sink ^= *static_cast<const volatile unsigned char*>(data + at);
    asm volatile("" : : "r"(sink));
  });
}
