// The launcher as its parent runs it: real process, stand-in libraries, SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>

#include <ostream>
#include <string>
#include <vector>

#include "e2e/launcher_process.h"

namespace e2e {
namespace {

void ExpectSilentStreams(const RunOutcome &run) {
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST(DriverE2e, NoArgumentsExits255) {
  const RunOutcome run = RunToExit({});
  ASSERT_TRUE(run.exit.exited);
  EXPECT_EQ(run.exit.exitStatus, 255);
  ExpectInOrder(run.records, {"INFO RUN module=36 [qs_main.cc:", "ERROR module=36 [qs_main.cc:"});
  ExpectInOrder(run.records, {"[main][tid:", "[main][tid:"});
  ExpectInOrder(run.records, {"QueueSchedule begin", "Parse args failed"});
  EXPECT_EQ(run.records.size(), 2U);
  ExpectSilentStreams(run);
}

TEST(DriverE2e, FullRunStopsInOrderOnSigterm) {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.args.push_back("--resIds=5,6");
  options.libraryPath = SamplePluginDir();
  const RunOutcome run = RunUntilSigterm(options);
  ExpectCleanStop(run);
  ExpectInOrder(run.records, {
                                 "QueueSchedule begin",
                                 "Start parameter. deviceId=3, hostPid=4242,",
                                 "resVec size is 2",
                                 "RegVexorSchedulerModuleCallBack success",
                                 "stand-in: started deviceId=5 hostPid=4242 groupName=qs_group",
                                 "QueueSchedule start success",
                                 "[WaitShutdown][tid:",
                                 "Tsd wait for shut down success",
                                 "plug-in: stopped deviceId=5 hostPid=4242 vfId=0",
                                 "stand-in: stopped",
                                 "stand-in: destroyed",
                                 "QueueSchedule exit",
                             });
  EXPECT_EQ(FindLine(run.records, "ERROR"), -1);
  EXPECT_GE(FindLine(run.records, "] Exit WaitShutdown"), 0);
}

TEST(DriverE2e, SigtermDuringSlowStartKillsWithoutExitRecord) {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.env = {{"QS_STANDIN_INIT_DELAY_MS", "3000"}};
  LauncherProcess process(options);
  ASSERT_TRUE(process.WaitForRecord("resVec size is"));
  process.Signal(SIGTERM);
  const ExitResult exit = process.Wait();
  ASSERT_TRUE(exit.finished);
  EXPECT_TRUE(exit.signaled);
  EXPECT_EQ(exit.signal, SIGTERM);
  const auto records = process.RecordLines();
  EXPECT_EQ(FindLine(records, "QueueSchedule start success"), -1);
  EXPECT_EQ(FindLine(records, "QueueSchedule exit"), -1);
  EXPECT_EQ(process.Stdout() + process.Stderr(), "");
}

// The handshake ends the moment the handler is installed, so the signal lands before, between
// or during the waiter's test of the flag and its sleep.
TEST(DriverE2e, SigtermRightAfterHandlerInstalledIsNeverLost) {
  constexpr int kRuns = 40;
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    LaunchOptions options;
    options.args = RequiredArgs();
    const RunOutcome outcome = RunUntilSigterm(options);
    ASSERT_TRUE(outcome.ready);
    ASSERT_TRUE(outcome.exit.finished) << "hung after SIGTERM";
    ASSERT_TRUE(outcome.exit.exited);
    EXPECT_EQ(outcome.exit.exitStatus, 0);
    EXPECT_GE(FindLine(outcome.records, "QueueSchedule exit"), 0);
  }
}

TEST(DriverE2e, SecondSigtermDuringStopOnlySetsTheFlag) {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.env = {{"QS_STANDIN_STOP_DELAY_MS", "300"}};
  LauncherProcess process(options);
  ASSERT_TRUE(process.WaitUntilReady());
  process.Signal(SIGTERM);
  ASSERT_TRUE(process.WaitForRecord("Exit WaitShutdown"));
  process.Signal(SIGTERM);
  process.Signal(SIGTERM);
  const ExitResult exit = process.Wait();
  ASSERT_TRUE(exit.exited);
  EXPECT_EQ(exit.exitStatus, 0);
  EXPECT_TRUE(OnceInOrder(process.RecordLines(), {"Exit WaitShutdown", "QueueSchedule exit"}));
}

// The readiness probe preloaded into the launcher takes its variables out of the environment, so
// that a process the queue scheduler starts neither loads the probe nor announces a SIGTERM
// handler of its own as the launcher's readiness. The child's other variables show that it did
// inherit the launcher's environment.
TEST(DriverE2e, ChildOfTheLibraryInheritsNoProbeVariables) {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.env = {{"QS_STANDIN_SPAWN_CHILD", "1"}};
  const RunOutcome run = RunUntilSigterm(options);
  ExpectCleanStop(run);
  const int at = FindLine(run.records, "queue scheduler stand-in: child process inherited ");
  ASSERT_GE(at, 0) << "no child process ran";
  const std::string line = run.records[static_cast<size_t>(at)] + " ";
  const std::string names = line.substr(line.find(" inherited ") + 10);
  EXPECT_NE(names.find(" QS_STANDIN_SPAWN_CHILD "), std::string::npos) << names;
  for (const std::string name : {"LD_PRELOAD", "QS_READY_FIFO"}) {
    EXPECT_EQ(names.find(" " + name + " "), std::string::npos)
        << name << " reached a child process of the launcher:" << names;
  }
}

// Where a SIGTERM meets the launcher, each row a test of its own; every one ends in the clean stop.
// A parent may leave SIGTERM blocked across exec: the wait unblocks it, so a SIGTERM sent during
// start-up (held pending until then) or once ready still stops cleanly. The worker thread of the
// queue scheduler keeps the blocked mask it inherited; the signal must still reach the thread that
// unblocked it. Unblocked, the worker may take the SIGTERM itself, and its handler must still wake
// the main thread's wait. The worker is picked by its name: an emulator runs threads of its own in
// the process, which would keep a signal from the program.
enum class SentTo { kProcessDuringStartUp, kProcessOnceReady, kLibraryThread };

struct DeliveryRow {
  const char *name;
  bool blockedByParent;
  SentTo sentTo;
  bool showsWorkerMask;  // what makes the blocked rows mean something, seen in /proc
};

void PrintTo(const DeliveryRow &row, std::ostream *out) { *out << row.name; }

class SigtermDeliveryTest : public ::testing::TestWithParam<DeliveryRow> {};

TEST_P(SigtermDeliveryTest, StopsCleanly) {
  const DeliveryRow &row = GetParam();
  if (row.showsWorkerMask && ForeignProcessor()) {
    GTEST_SKIP() << "the emulator's /proc shows the signal masks of its own threads, not the "
                    "program's";
  }
  LaunchOptions options;
  options.args = RequiredArgs();
  options.sigtermBlocked = row.blockedByParent;
  options.initGated = row.sentTo == SentTo::kProcessDuringStartUp;
  options.env = {{"QS_STANDIN_WORKER_THREAD", "1"}};
  LauncherProcess process(options);
  if (row.sentTo == SentTo::kProcessDuringStartUp) {
    // The start is held at its gate, so the handler cannot be in place yet.
    ASSERT_TRUE(process.WaitForRecord("resVec size is"));
    ASSERT_EQ(FindLine(process.RecordLines(), "QueueSchedule start success"), -1);
    process.Signal(SIGTERM);
    ASSERT_TRUE(process.ReleaseInitGate());
  } else {
    ASSERT_TRUE(process.WaitUntilReady());
    // On the runtime the build names: the release builds' tests run on Debian 11's.
    const std::string cLibrary = process.CLibraryFile();
    EXPECT_EQ(cLibrary.rfind(RuntimeLibraryDir() + "/", 0), 0U)
        << "C library " << cLibrary << ", not from " << RuntimeLibraryDir();
    const std::vector<pid_t> workers = process.ThreadsNamed("qs_standin_work");
    ASSERT_EQ(workers.size(), 1U);
    if (row.showsWorkerMask) {
      EXPECT_TRUE(process.SigtermBlocked(workers[0]));
    }
    if (row.sentTo == SentTo::kLibraryThread) {
      // Only the wake-up pipe can end a wait that already sleeps.
      ASSERT_TRUE(process.WaitUntilAsleepInPoll());
      process.SignalThread(workers[0], SIGTERM);
    } else {
      process.Signal(SIGTERM);
    }
  }
  const ExitResult exit = process.Wait();
  ASSERT_TRUE(exit.finished) << "SIGTERM stayed pending, or the wait never woke";
  ASSERT_TRUE(exit.exited);
  EXPECT_EQ(exit.exitStatus, 0);
  EXPECT_TRUE(OnceInOrder(process.RecordLines(), {"resVec size is", "QueueSchedule start success",
                                                  "Exit WaitShutdown", "QueueSchedule exit"}));
}

INSTANTIATE_TEST_SUITE_P(
    DriverE2e, SigtermDeliveryTest,
    ::testing::Values(
        DeliveryRow{"BlockedSentDuringStartUp", true, SentTo::kProcessDuringStartUp, false},
        DeliveryRow{"BlockedSentOnceReady", true, SentTo::kProcessOnceReady, false},
        DeliveryRow{"BlockedWorkerKeepsItsMask", true, SentTo::kProcessOnceReady, true},
        DeliveryRow{"TakenByTheLibraryThread", false, SentTo::kLibraryThread, false}),
    [](const ::testing::TestParamInfo<DeliveryRow> &info) { return std::string(info.param.name); });

// Each log function is bound weakly: a library that lacks some of them still runs the launcher.
// variant names a folder holding such a libdlog.so; the run must end cleanly on SIGTERM.
RunOutcome RunWithLogLibrary(const std::string &variant) {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.libraryPath = std::string(QS_DLOG_VARIANTS_DIR) + "/" + variant;
  RunOutcome run = RunUntilSigterm(options);
  ExpectCleanStop(run);
  return run;
}

TEST(DriverE2e, LogLibraryWithoutLevelFunctionsStillRuns) {
  const RunOutcome run = RunWithLogLibrary("records_only");
  ExpectInOrder(run.records, {"QueueSchedule begin", "Set log with env", "QueueSchedule exit"});
}

TEST(DriverE2e, LogLibraryWithoutRecordFunctionsIsSilentButRuns) {
  const RunOutcome run = RunWithLogLibrary("levels_only");
  // Only the level calls of the environment path show; no record was formatted.
  EXPECT_EQ(run.records,
            (std::vector<std::string>{"dlog_setlevel -1 1 1", "DlogSetAttr 0 4242 3"}));
}

}  // namespace
}  // namespace e2e
