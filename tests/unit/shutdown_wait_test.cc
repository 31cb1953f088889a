// Each test runs in its own process (ctest runs one test per invocation), so the process-wide
// shutdown flag starts false in each.
#include "main/shutdown_wait.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
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
