// Many launches, each ended by SIGTERM at a random moment of start-up or of the wait: the signal
// meets either the default disposition (start-up not finished, the process dies at once) or the
// launcher's handler (clean stop, exit 0), never anything in between, and no run hangs.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/launcher_process.h"

namespace e2e {
namespace {

constexpr int kSoakRuns = 200;
constexpr int kCalibrationRuns = 5;
constexpr int kStormRuns = 3;
constexpr auto kExitDeadline = std::chrono::seconds(3);
constexpr auto kMinimumWindow = std::chrono::microseconds(2000);
constexpr char kStormStopDelayMs[] = "300";
// More than ten thousand signals a second. Unpaced, the sender would keep the launcher in signal
// delivery almost all the time, and the stand-in's relative sleep in WaitForStop only advances
// while the thread is inside it, so the stop would stretch without end.
constexpr auto kStormGap = std::chrono::microseconds(20);

// The records of a clean stop, in order.
constexpr const char *kStopSequence[] = {
    "] Exit WaitShutdown",
    "] Tsd wait for shut down success",
    "plug-in: stopped",
    "queue scheduler stand-in: stopped",
    "queue scheduler stand-in: destroyed",
    "] QueueSchedule exit",
};

LaunchOptions SoakOptions() {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.args.push_back("--resIds=5,6");
  options.libraryPath = SamplePluginDir();
  return options;
}

::testing::AssertionResult StopSequenceExactlyOnce(const std::vector<std::string> &records) {
  ::testing::AssertionResult once =
      OnceInOrder(records, {std::begin(kStopSequence), std::end(kStopSequence)});
  if (!once) {
    return once;
  }
  if (FindLine(records, "ERROR") >= 0) {
    return ::testing::AssertionFailure() << "error record: " << records[FindLine(records, "ERROR")];
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult NoStopRecord(const std::vector<std::string> &records) {
  for (const char *text : kStopSequence) {
    if (FindLine(records, text) >= 0) {
      return ::testing::AssertionFailure() << "killed after writing: " << text;
    }
  }
  return ::testing::AssertionSuccess();
}

// Twice the median time from spawn to the handler's installation (as the handshake sees it):
// random delays in this window fall before and after the installation in about equal numbers.
std::chrono::microseconds SignalWindow() {
  std::vector<std::chrono::microseconds> readyTimes;
  for (int run = 0; run < kCalibrationRuns; ++run) {
    LauncherProcess process(SoakOptions());
    const auto start = std::chrono::steady_clock::now();
    if (process.WaitUntilReady()) {
      readyTimes.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::steady_clock::now() - start));
    }
    process.Signal(SIGTERM);
    process.Wait(kExitDeadline);
  }
  if (readyTimes.empty()) {
    return kMinimumWindow;
  }
  std::sort(readyTimes.begin(), readyTimes.end());
  return std::max(kMinimumWindow, 2 * readyTimes[readyTimes.size() / 2]);
}

TEST(LauncherSoak, SigtermAtRandomMomentsEndsKilledOrCleanNeverHung) {
  const std::chrono::microseconds window = SignalWindow();
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed) + ", window " + std::to_string(window.count()) +
               " us");
  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> delays(0, window.count());

  int killedBeforeHandler = 0;
  int cleanExits = 0;
  for (int run = 0; run < kSoakRuns; ++run) {
    const std::chrono::microseconds delay(delays(random));
    SCOPED_TRACE("run " + std::to_string(run) + ", delay " + std::to_string(delay.count()) + " us");
    LauncherProcess process(SoakOptions());
    std::this_thread::sleep_for(delay);
    process.Signal(SIGTERM);
    const ExitResult exit = process.Wait(kExitDeadline);
    ASSERT_TRUE(exit.finished) << "hung after SIGTERM";
    const std::vector<std::string> records = process.RecordLines();
    if (exit.signaled && exit.signal == SIGTERM) {
      ++killedBeforeHandler;
      ASSERT_TRUE(NoStopRecord(records));
    } else {
      ++cleanExits;
      ASSERT_TRUE(exit.exited);
      ASSERT_EQ(exit.exitStatus, 0);
      ASSERT_TRUE(StopSequenceExactlyOnce(records));
    }
    ASSERT_EQ(process.Stdout() + process.Stderr(), "");
  }
  std::printf("soak: %d runs, %d killed before the handler, %d clean exits, window %lld us\n",
              kSoakRuns, killedBeforeHandler, cleanExits, static_cast<long long>(window.count()));
  // Both outcomes were exercised.
  EXPECT_GT(killedBeforeHandler, 0);
  EXPECT_GT(cleanExits, 0);
}

// A storm of SIGTERMs from the handshake until the process has ended: through the wait, the
// plug-in stop, a slow WaitForStop, Destroy and the exit. One clean stop, exit 0.
TEST(LauncherSoak, SigtermStormDuringSlowStopStopsOnce) {
  LaunchOptions options = SoakOptions();
  options.env = {{"QS_STANDIN_STOP_DELAY_MS", kStormStopDelayMs}};
  for (int run = 0; run < kStormRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    LauncherProcess process(options);
    ASSERT_TRUE(process.WaitUntilReady());
    long long sent = 0;
    const auto end = std::chrono::steady_clock::now() + kExitDeadline;
    while (!process.Ended() && std::chrono::steady_clock::now() < end) {
      process.Signal(SIGTERM);
      ++sent;
      std::this_thread::sleep_for(kStormGap);
    }
    const ExitResult exit = process.Wait(kExitDeadline);
    ASSERT_TRUE(exit.finished) << "hung during the storm";
    ASSERT_TRUE(exit.exited);
    EXPECT_EQ(exit.exitStatus, 0);
    EXPECT_TRUE(StopSequenceExactlyOnce(process.RecordLines()));
    EXPECT_EQ(process.Stdout() + process.Stderr(), "");
    std::printf("storm: run %d, %lld SIGTERMs sent\n", run, sent);
  }
}

}  // namespace
}  // namespace e2e
