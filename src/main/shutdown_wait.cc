// The SIGTERM handler must stay async-signal-safe and may run on any thread, so it never touches
// a mutex or condition variable: it stores the flag and writes one byte into a non-blocking
// self-pipe. The waiter sleeps in poll() on the pipe's read end with no timeout, so a signal
// that lands between its test of the flag and its sleep still leaves a byte that wakes it.
#include "main/shutdown_wait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#include "bqs_log/bqs_log.h"
#include "deployment/deployment_hooks.h"

namespace qs_launcher {
namespace {

std::atomic<bool> g_shutdownFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs a lock-free flag");

std::mutex g_shutdownMutex;

// Write end of the wake-up pipe, -1 until the first wait creates it. The pipe is never closed:
// a late SIGTERM during the stop sequence may still write to it, and a closed descriptor number
// could by then belong to someone else.
std::atomic<int> g_wakeWriteFd{-1};
int g_wakeReadFd = -1;
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free fd");

// Only if the pipe cannot be created (descriptor limit reached), or poll() keeps failing: test
// the flag this often rather than risk missing the signal or spinning a core.
constexpr int kFallbackPollMs = 50;

void OpenWakePipe() {
  if (g_wakeReadFd >= 0) {
    return;
  }
  int fds[2];
  if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    return;
  }
  g_wakeReadFd = fds[0];
  g_wakeWriteFd.store(fds[1]);
}

void SleepOneFallbackPeriod() { (void)poll(nullptr, 0, kFallbackPollMs); }

// Sleeps until the pipe has a byte (or, without a pipe, for one fallback period), then empties it.
void SleepUntilWoken() {
  if (g_wakeReadFd < 0) {
    SleepOneFallbackPeriod();
    return;
  }
  pollfd wake{g_wakeReadFd, POLLIN, 0};
  const int ready = poll(&wake, 1, -1);
  const bool interrupted = ready < 0 && errno == EINTR;
  // EINTR: the caller tests the flag again at once. Any other error, or a pipe that someone else
  // broke, may recur on every call, so it costs one fallback period, not a spinning core.
  if (ready < 0 || (wake.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
    if (!interrupted) {
      SleepOneFallbackPeriod();
    }
    return;
  }
  char buffer[64];
  // NOLINTNEXTLINE(clang-analyzer-unix.BlockInCriticalSection): the pipe is non-blocking.
  while (read(g_wakeReadFd, buffer, sizeof(buffer)) > 0) {
  }
}

// The signal mask survives exec: a parent that forgot to unblock SIGTERM would otherwise leave it
// pending for ever. Unblocked only once the handler is in place, so a pending one takes the
// clean stop.
void UnblockSigterm() {
  sigset_t sigterm;
  sigemptyset(&sigterm);
  sigaddset(&sigterm, SIGTERM);
  (void)pthread_sigmask(SIG_UNBLOCK, &sigterm, nullptr);
}

}  // namespace

void SigtermHandler(int /*signalNumber*/) {
  const int savedErrno = errno;
  g_shutdownFlag.store(true, std::memory_order_seq_cst);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const int fd = g_wakeWriteFd.load();
  if (fd >= 0) {
    const char byte = 1;
    // A full pipe already holds a wake-up, so a failed write loses nothing.
    const ssize_t written = write(fd, &byte, 1);
    (void)written;
  }
  errno = savedErrno;
}

void WaitShutdown() {
  OpenWakePipe();
  (void)std::signal(SIGTERM, SigtermHandler);
  UnblockSigterm();
  std::unique_lock<std::mutex> lock(g_shutdownMutex);
  while (!g_shutdownFlag.load()) {
    SleepUntilWoken();
  }
  BQS_LOG_INFO("Exit WaitShutdown");
}

int32_t WaitForShutdownRequest(uint32_t starter, uint32_t deviceId, uint32_t hostPid,
                               uint32_t vfId) {
  if (starter != 0 || IsHostSide() == 1) {
    WaitShutdown();
    return 0;
  }
  return WaitDeviceShutdown(deviceId, kTsdType, hostPid, vfId);
}

}  // namespace qs_launcher
