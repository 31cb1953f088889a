// Runs the built qs_launcher as a child process on the stand-ins, with a clean environment,
// its device-log lines sent to a file and its stdout/stderr captured.
#ifndef QS_TESTS_E2E_LAUNCHER_PROCESS_H_
#define QS_TESTS_E2E_LAUNCHER_PROCESS_H_

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// The arguments of a complete, valid launch (program path not included).
std::vector<std::string> RequiredArgs();

// Folder holding the sample plug-in (libvexor_scheduler.so).
std::string SamplePluginDir();

// Folder of the C runtime the tests run on: the build machine's, or the sysroot's (Debian 11);
// links resolved, so that it compares with CLibraryFile() however the sysroot is reached.
std::string RuntimeLibraryDir();

// The command line that every program of this build runs through, one word per element, as ctest
// runs the tests: the user-mode emulator of another processor, or the loader of another C
// runtime with its arguments. Empty: programs run directly.
const std::vector<std::string> &Runner();

// The command line that puts a program of this build on the build machine's own runtime: the
// emulator of another processor, or nothing.
const std::vector<std::string> &HostRuntimeRunner();

// The launcher is built for another processor and runs under the user-mode emulator, whose /proc
// view of a process shows the emulator's own signal state, not the program's. (Through another
// runtime's loader the launcher is the process itself, and /proc shows its own state.)
bool ForeignProcessor();

struct LaunchOptions {
  std::vector<std::string> args;
  // Added to a clean environment holding only PATH, KORVEL_GLOBAL_LOG_LEVEL=1 (so info records
  // show), DLOG_STANDIN_FILE, QS_STANDIN_WORKER_THREAD=1 and the readiness probe's LD_PRELOAD and
  // QS_READY_FIFO. A later entry with the same name wins, but for LD_PRELOAD: its libraries are
  // preloaded before the probe, which stays, so that WaitUntilReady() still sees the event.
  std::vector<std::pair<std::string, std::string>> env;
  // LD_LIBRARY_PATH of the child; empty: none, so no plug-in is found.
  std::string libraryPath;
  // Program and options that run the launcher (a memory checker, say); empty: run it directly.
  std::vector<std::string> wrapper;
  // Through HostRuntimeRunner() instead of Runner(): on the build machine's own C runtime,
  // whichever the tests run on.
  bool hostRuntime = false;
  // Start the child with SIGTERM blocked, as a careless parent may (the mask survives exec).
  bool sigtermBlocked = false;
  // Hold the stand-in queue scheduler's start until ReleaseInitGate() (QS_STANDIN_INIT_GATE).
  bool initGated = false;
};

struct ExitResult {
  bool finished = false;  // false: still running at the deadline, then killed
  bool exited = false;
  int exitStatus = -1;
  bool signaled = false;
  int signal = 0;
};

class LauncherProcess {
 public:
  explicit LauncherProcess(const LaunchOptions &options);
  ~LauncherProcess();

  LauncherProcess(const LauncherProcess &) = delete;
  LauncherProcess &operator=(const LauncherProcess &) = delete;

  pid_t pid() const { return pid_; }

  // Readiness handshake: true once the launcher has installed its SIGTERM handler, as the
  // preloaded probe announces it (natively /proc/PID/status must show SIGTERM caught too); false
  // if the process ended or the deadline passed first.
  bool WaitUntilReady(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // True once the child's main thread sleeps in poll(), as it does in the shutdown wait once
  // ready; false if that did not happen before the deadline.
  bool WaitUntilAsleepInPoll(std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // True once a record line containing text has been written.
  bool WaitForRecord(const std::string &text,
                     std::chrono::milliseconds deadline = std::chrono::seconds(5));
  // The child has ended; it is not reaped yet, so its pid cannot have been reused.
  bool Ended() const;
  void Signal(int signalNumber) const;
  // To one thread of the child, by its kernel id (see ThreadsNamed).
  void SignalThread(pid_t tid, int signalNumber) const;
  // Lets a gated start go on: writes the byte the stand-in waits for, once it holds the gate
  // open. False if that did not happen before the deadline.
  bool ReleaseInitGate(std::chrono::milliseconds deadline = std::chrono::seconds(5));

  // The file the child's C library is mapped from (/proc/PID/maps), links resolved; "" if none.
  std::string CLibraryFile() const;
  // Kernel ids of the child's threads of that name; whether one of them blocks SIGTERM.
  std::vector<pid_t> ThreadsNamed(const std::string &name) const;
  bool SigtermBlocked(pid_t tid) const;
  // Reaps the child; kills it with SIGKILL when it is still running at the deadline.
  ExitResult Wait(std::chrono::milliseconds deadline = std::chrono::seconds(5));

  // Lines of the device log (stand-in format), in order.
  std::vector<std::string> RecordLines() const;
  std::string Stdout() const;
  std::string Stderr() const;

 private:
  std::string dir_;
  int readyFd_ = -1;  // read end of the probe's FIFO
  pid_t pid_ = -1;
  bool reaped_ = false;
};

// Index of the first line at or after from that contains text, or -1.
int FindLine(const std::vector<std::string> &lines, const std::string &text, int from = 0);

// Fails the current test unless lines containing each text exist, in this order.
void ExpectInOrder(const std::vector<std::string> &lines, const std::vector<std::string> &texts);

// Success when lines containing each text exist, in this order, and each text in one line only.
::testing::AssertionResult OnceInOrder(const std::vector<std::string> &lines,
                                       const std::vector<std::string> &texts);

// Convenience: start, wait until ready, SIGTERM, wait for the exit.
struct RunOutcome {
  bool ready = false;
  ExitResult exit;
  std::vector<std::string> records;
  std::string out;
  std::string err;
};
RunOutcome RunUntilSigterm(const LaunchOptions &options);
// Convenience: start and wait for the exit without any signal.
RunOutcome RunToExit(const LaunchOptions &options);

// Fails the current test unless the run became ready, exited 0 after SIGTERM and wrote nothing
// on stdout or stderr.
void ExpectCleanStop(const RunOutcome &run);

}  // namespace e2e

#endif  // QS_TESTS_E2E_LAUNCHER_PROCESS_H_
