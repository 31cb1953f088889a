// The launcher under valgrind's memcheck, on the clean run and on both early exits: no invalid
// access, no use of uninitialised memory, nothing definitely or indirectly lost. The release
// builds' launcher too, on the host's runtime.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/launcher_process.h"
#include "sanitizer_build.h"

namespace e2e {
namespace {

// Valgrind's exit status when it found an error: neither the launcher's 0 nor its 255.
constexpr int kMemcheckErrorStatus = 99;
constexpr auto kValgrindDeadline = std::chrono::seconds(60);

// Absolute path of valgrind on the runner's PATH, or "".
std::string FindValgrind() {
  const char *path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = folder + "/valgrind";
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return "";
}

class LauncherMemcheck : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef QS_SANITIZER_ALLOCATOR
    GTEST_SKIP() << "sanitizer build: valgrind cannot run it";
#endif
    if (ForeignProcessor()) {
      GTEST_SKIP() << "valgrind cannot run a program under the user-mode emulator";
    }
    valgrind_ = FindValgrind();
    if (valgrind_.empty()) {
      GTEST_SKIP() << "valgrind not installed (scripts/install_deps.sh installs it)";
    }
  }

  LaunchOptions UnderMemcheck(std::vector<std::string> args) const {
    LaunchOptions options;
    options.args = std::move(args);
    options.libraryPath = SamplePluginDir();
    // Not through another runtime's loader, whose symbols valgrind would need (its libc6-dbg):
    // the host's valgrind runs the launcher on the host's own runtime, which the release
    // build's launcher runs on too. Valgrind reads the release build's DWARF 4.
    options.hostRuntime = true;
    options.wrapper = {valgrind_,
                       "--tool=memcheck",
                       "--error-exitcode=" + std::to_string(kMemcheckErrorStatus),
                       "--leak-check=full",
                       "--errors-for-leak-kinds=definite,indirect",
                       "--show-leak-kinds=definite,indirect",
                       "--track-origins=yes"};
    return options;
  }

  std::string valgrind_;
};

// Valgrind reads every object's debug information (a report names files and lines from it); a
// format it cannot read, such as clang's DWARF 5 for valgrind 3.19, it names on stderr and goes
// on without it.
::testing::AssertionResult DebugInformationRead(const std::string &valgrindOutput) {
  if (valgrindOutput.find("Serious error when reading debug info") != std::string::npos) {
    return ::testing::AssertionFailure() << "valgrind cannot read the debug information:\n"
                                         << valgrindOutput;
  }
  return ::testing::AssertionSuccess();
}

// Valgrind catches every signal itself, so SigCgt says nothing about the launcher's handler.
// Ready instead once the start has succeeded and the main thread sleeps in the shutdown wait.
bool WaitUntilInShutdownWait(LauncherProcess &process) {
  return process.WaitForRecord("QueueSchedule start success", kValgrindDeadline) &&
         process.WaitUntilAsleepInPoll(kValgrindDeadline);
}

TEST_F(LauncherMemcheck, FullRunIsClean) {
  std::vector<std::string> args = RequiredArgs();
  args.insert(args.end(), {"--resIds=5,6", "--devIds=1,2,3", "--pidSign=sign",
                           "--profCfgData=cfg=1", "--vfId=2"});
  LauncherProcess process(UnderMemcheck(args));
  ASSERT_TRUE(WaitUntilInShutdownWait(process)) << process.Stderr();
  process.Signal(SIGTERM);
  const ExitResult exit = process.Wait(kValgrindDeadline);
  ASSERT_TRUE(exit.finished);
  ASSERT_TRUE(exit.exited) << process.Stderr();
  EXPECT_EQ(exit.exitStatus, 0) << process.Stderr();
  EXPECT_TRUE(DebugInformationRead(process.Stderr()));
  EXPECT_GE(FindLine(process.RecordLines(), "QueueSchedule exit"), 0);
}

TEST_F(LauncherMemcheck, EarlyExitsAreClean) {
  struct Case {
    const char *name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
    const char *lastRecord;
  };
  const Case cases[] = {
      {"parse failure", {"--deviceId=3"}, {}, "Parse args failed"},
      {"start failure",
       RequiredArgs(),
       {{"QS_STANDIN_INIT_RESULT", "16"}},
       "ReportErrorMsg msg is EM9001."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    LaunchOptions options = UnderMemcheck(c.args);
    options.env = c.env;
    LauncherProcess process(options);
    const ExitResult exit = process.Wait(kValgrindDeadline);
    ASSERT_TRUE(exit.finished);
    ASSERT_TRUE(exit.exited) << process.Stderr();
    EXPECT_EQ(exit.exitStatus, 255) << process.Stderr();
    EXPECT_TRUE(DebugInformationRead(process.Stderr()));
    EXPECT_GE(FindLine(process.RecordLines(), c.lastRecord), 0);
  }
}

}  // namespace
}  // namespace e2e
