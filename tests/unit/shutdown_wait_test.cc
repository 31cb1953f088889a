// Each test runs in its own process (ctest runs one test per invocation), so the process-wide
// shutdown flag starts false in each. A test that is to be repeated in one process
// (--gtest_repeat) waits in a child process of its own.
#include "main/shutdown_wait.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "asleep_in_poll.h"
#include "doubles/recorder.h"
#include "unit/deadline.h"
#include "unit/sigterm_sender.h"

namespace {

class ShutdownWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }
};

TEST_F(ShutdownWaitTest, SigtermToTheProcessEndsTheWait) {
  unit::SigtermSender sender;
  qs_launcher::WaitShutdown();
  EXPECT_EQ(test_doubles::Messages(), std::vector<std::string>{"Exit WaitShutdown"});
}

// Looks at /proc once a millisecond, asleep in between, until the waiter sleeps in poll().
void AwaitAsleepInPoll(pid_t waiter) {
  const unit::Deadline asleep("the waiter asleep in poll()");
  while (!test_support::AsleepInPoll(getpid(), waiter)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Exit status 0 when the wait, asleep in poll(), ends by a SIGTERM handled on another thread and
// writes its one record; 1 otherwise (the reason on stderr). Neither thread spins: the signalling
// thread sleeps until the waiter has returned, and the Deadline ends a wait that never does.
[[noreturn]] void WakeFromAnotherThread() {
  const auto waiter = static_cast<pid_t>(syscall(SYS_gettid));
  std::mutex mutex;
  std::condition_variable returned;
  bool sent = false;
  bool done = false;
  std::thread other([&] {
    AwaitAsleepInPoll(waiter);
    const unit::Deadline stopped("WaitShutdown returned after SIGTERM on another thread");
    std::unique_lock<std::mutex> lock(mutex);
    sent = true;
    pthread_kill(pthread_self(), SIGTERM);
    returned.wait(lock, [&done] { return done; });
  });
  qs_launcher::WaitShutdown();
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!sent) {
      std::fprintf(stderr, "WaitShutdown returned before any SIGTERM: the flag was set already\n");
      std::_Exit(1);
    }
    done = true;
  }
  returned.notify_one();
  other.join();
  const std::vector<std::string> records = test_doubles::Messages();
  if (records != std::vector<std::string>{"Exit WaitShutdown"}) {
    std::fprintf(stderr, "%zu records, not the one \"Exit WaitShutdown\"\n", records.size());
    std::_Exit(1);
  }
  std::_Exit(0);
}

// The closed libraries run threads of their own: the signal may be handled on any of them. Sent
// once the waiter sleeps, so that only the handler's wake-up can end the wait. It waits in a child
// process (the death test's fork), which leaves this process's shutdown flag false: the test can
// be repeated.
TEST_F(ShutdownWaitTest, SigtermHandledOnAnotherThreadWakesTheWaiter) {
  EXPECT_EXIT(WakeFromAnotherThread(), ::testing::ExitedWithCode(0), "");
}

// The two descriptors the next pipe2() gets: the kernel hands out the lowest free numbers, the
// read end's first, so a pipe made and closed at once had them. (No dup() of a standard stream:
// that one may be closed.) {-1, -1} when no pipe can be made.
std::pair<int, int> NextTwoDescriptors() {
  int fds[2] = {-1, -1};
  if (pipe2(fds, O_CLOEXEC) != 0) {
    return {-1, -1};
  }
  close(fds[0]);
  close(fds[1]);
  return {fds[0], fds[1]};
}

// With every descriptor in use the wake-up pipe cannot be made; the wait must still end.
TEST_F(ShutdownWaitTest, WaitEndsEvenWithoutDescriptorsForThePipe) {
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  const int lowestFree = NextTwoDescriptors().first;
  ASSERT_GE(lowestFree, 0);
  rlimit exhausted = original;
  exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
  {
    unit::SigtermSender sender;
    qs_launcher::WaitShutdown();
  }
  setrlimit(RLIMIT_NOFILE, &original);
  EXPECT_EQ(test_doubles::Messages(), std::vector<std::string>{"Exit WaitShutdown"});
}

double CpuMilliseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// True for a non-blocking, close-on-exec, write-only pipe. Learnt from /proc alone: under
// ThreadSanitizer only the thread that made a descriptor may use it, for want of any
// synchronisation it can see between that thread and this one.
bool IsWakePipeWriteEnd(int fd) {
  char target[16] = {};
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  if (readlink(link.c_str(), target, sizeof(target) - 1) < 0 ||
      std::string(target).rfind("pipe:", 0) != 0) {
    return false;
  }
  std::ifstream info("/proc/self/fdinfo/" + std::to_string(fd));
  std::string key;
  long flags = 0;
  while (info >> key && key != "flags:") {
  }
  info >> std::oct >> flags;
  const long wanted = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
  return (flags & (O_ACCMODE | O_NONBLOCK | O_CLOEXEC)) == wanted;
}

// Set by a row before the knock; the knock closes it on the waiter's own thread, which made it.
std::atomic<int> g_closeOnKnock{-1};
std::atomic<bool> g_knocked{false};

// SIGUSR1 knocks the waiter out of a poll() it may already sleep in.
void Knock(int /*signalNumber*/) {
  const int savedErrno = errno;
  const int fd = g_closeOnKnock.exchange(-1);
  if (fd >= 0) {
    close(fd);
  }
  g_knocked.store(true);
  errno = savedErrno;
}

// Under a zero descriptor limit every poll() of the pipe fails with EINVAL.
void ExhaustDescriptors(int /*writeEnd*/) {
  rlimit none{};
  getrlimit(RLIMIT_NOFILE, &none);
  none.rlim_cur = 0;
  setrlimit(RLIMIT_NOFILE, &none);
}

// With the write end closed, poll() of the read end reports POLLHUP while read() finds an end of
// file. The handler still writes to that number, so nothing may open a descriptor until the wait
// has ended; the read end stays open, so that the write cannot raise SIGPIPE.
void CloseWriteEnd(int writeEnd) {
  ASSERT_TRUE(IsWakePipeWriteEnd(writeEnd)) << "descriptor " << writeEnd;
  g_closeOnKnock.store(writeEnd);
}

struct PollErrorCase {
  const char *name;
  void (*breakPoll)(int writeEnd);  // run once the handler is installed
};

void PrintTo(const PollErrorCase &c, std::ostream *out) { *out << c.name; }

class PollErrorTest : public ShutdownWaitTest,
                      public ::testing::WithParamInterface<PollErrorCase> {};

// A poll() that keeps failing, or keeps reporting a broken pipe, must cost fallback periods, not
// a spinning core.
TEST_P(PollErrorTest, PersistentPollErrorDoesNotSpin) {
  (void)signal(SIGUSR1, Knock);
  clockid_t waiterClock{};
  ASSERT_EQ(pthread_getcpuclockid(pthread_self(), &waiterClock), 0);
  const pthread_t waiter = pthread_self();
  const int writeEnd = NextTwoDescriptors().second;  // nothing else opens one meanwhile
  double waiterCpuMs = -1;
  std::optional<unit::Deadline> stopped;
  std::thread other([&] {
    unit::AwaitSigtermHandler();
    stopped.emplace("WaitShutdown returned after SIGTERM despite the broken poll()");
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    GetParam().breakPoll(writeEnd);
    pthread_kill(waiter, SIGUSR1);
    while (!g_knocked.load()) {
      std::this_thread::yield();
    }
    const double before = CpuMilliseconds(waiterClock);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    waiterCpuMs = CpuMilliseconds(waiterClock) - before;
    setrlimit(RLIMIT_NOFILE, &original);
    kill(getpid(), SIGTERM);
  });
  qs_launcher::WaitShutdown();
  other.join();
  EXPECT_LT(waiterCpuMs, 30.0);
  EXPECT_EQ(test_doubles::Messages(), std::vector<std::string>{"Exit WaitShutdown"});
}

// Separate tests, so each row runs in a process of its own: the shutdown flag, once set, stays set.
INSTANTIATE_TEST_SUITE_P(ShutdownWait, PollErrorTest,
                         ::testing::Values(PollErrorCase{"PollFails", ExhaustDescriptors},
                                           PollErrorCase{"PipeBroken", CloseWriteEnd}),
                         [](const ::testing::TestParamInfo<PollErrorCase> &info) {
                           return std::string(info.param.name);
                         });

TEST_F(ShutdownWaitTest, FurtherSigtermsOnlySetTheFlagAgain) {
  {
    unit::SigtermSender sender;
    qs_launcher::WaitShutdown();
  }
  for (int i = 0; i < 100000; ++i) {  // more than a pipe holds
    qs_launcher::SigtermHandler(SIGTERM);
  }
  const unit::Deadline deadline("a second WaitShutdown returned with the flag already set");
  qs_launcher::WaitShutdown();
  EXPECT_EQ(test_doubles::Messages().size(), 2U);
}

}  // namespace
