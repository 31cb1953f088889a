// Each test runs in its own process (ctest runs one test per invocation), so the process-wide
// shutdown flag starts false in each.
#include "main/shutdown_wait.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "doubles/recorder.h"
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

// The closed libraries run threads of their own: the signal may be handled on any of them.
TEST_F(ShutdownWaitTest, SigtermHandledOnAnotherThreadWakesTheWaiter) {
  std::atomic<bool> done{false};
  std::thread other([&done] {
    while (!unit::SigtermHandlerInstalled()) {
      std::this_thread::yield();
    }
    pthread_kill(pthread_self(), SIGTERM);
    while (!done.load()) {
      std::this_thread::yield();
    }
  });
  qs_launcher::WaitShutdown();
  done.store(true);
  other.join();
  EXPECT_EQ(test_doubles::Messages().size(), 1U);
}

// With every descriptor in use the wake-up pipe cannot be made; the wait must still end.
TEST_F(ShutdownWaitTest, WaitEndsEvenWithoutDescriptorsForThePipe) {
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);
  int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
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

// A poll() that keeps failing must cost fallback periods, not a spinning core. Under a zero
// descriptor limit every poll() of the pipe fails with EINVAL; SIGUSR1 knocks the waiter out of
// a poll() it may already sleep in.
TEST_F(ShutdownWaitTest, PersistentPollErrorDoesNotSpin) {
  (void)signal(SIGUSR1, [](int) {});
  clockid_t waiterClock{};
  ASSERT_EQ(pthread_getcpuclockid(pthread_self(), &waiterClock), 0);
  const pthread_t waiter = pthread_self();
  double waiterCpuMs = -1;
  std::thread other([&] {
    while (!unit::SigtermHandlerInstalled()) {
      std::this_thread::yield();
    }
    unit::LetWaiterPastSigaction();
    rlimit original{};
    getrlimit(RLIMIT_NOFILE, &original);
    rlimit none = original;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_NOFILE, &none);
    pthread_kill(waiter, SIGUSR1);
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

TEST_F(ShutdownWaitTest, FurtherSigtermsOnlySetTheFlagAgain) {
  {
    unit::SigtermSender sender;
    qs_launcher::WaitShutdown();
  }
  for (int i = 0; i < 100000; ++i) {  // more than a pipe holds
    qs_launcher::SigtermHandler(SIGTERM);
  }
  qs_launcher::WaitShutdown();  // flag already set: returns at once
  EXPECT_EQ(test_doubles::Messages().size(), 2U);
}

}  // namespace
