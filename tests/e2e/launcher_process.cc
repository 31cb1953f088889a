#include "e2e/launcher_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "asleep_in_poll.h"

namespace e2e {
namespace {

constexpr int kSigtermBit = SIGTERM - 1;
constexpr auto kPollInterval = std::chrono::milliseconds(1);
constexpr char kInitGate[] = "/init_gate";
constexpr char kReadyFifo[] = "/ready";
constexpr char kPreload[] = "LD_PRELOAD";
// How often the readiness wait looks whether the child has ended meanwhile; the event itself
// ends the wait at once.
constexpr int kEndedCheckMs = 10;

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// PATH with its links followed, as /proc/PID/maps names a mapped file; PATH itself when it cannot
// be resolved.
std::string Resolved(const std::string &path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string MakeTempDir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/qs_e2e.XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  return pattern;
}

// The value of a field of a /proc status file ("SigCgt", "Name" ...), "" when missing.
std::string StatusField(const std::string &path, const std::string &name) {
  std::ifstream status(path);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(name + ":", 0) == 0) {
      const std::string::size_type value = line.find_first_not_of(" \t", name.size() + 1);
      return value == std::string::npos ? "" : line.substr(value);
    }
  }
  return "";
}

// A hexadecimal signal mask of a status file holds SIGTERM.
bool HoldsSigterm(const std::string &mask) {
  return !mask.empty() && ((std::stoull(mask, nullptr, 16) >> kSigtermBit) & 1ULL) != 0;
}

bool SigtermCaught(pid_t pid) {
  return HoldsSigterm(StatusField("/proc/" + std::to_string(pid) + "/status", "SigCgt"));
}

std::vector<std::string> EnvironmentFor(const LaunchOptions &options, const std::string &dir) {
  std::vector<std::pair<std::string, std::string>> env = {
      {"PATH", "/usr/bin:/bin"},
      {"KORVEL_GLOBAL_LOG_LEVEL", "1"},
      {"DLOG_STANDIN_FILE", dir + "/dlog.txt"},
      // The readiness event (tests/ready_probe): the emulated loader reads these too.
      {kPreload, QS_READY_PROBE_PATH},
      {"QS_READY_FIFO", dir + kReadyFifo},
      // A thread of the closed library's own, as in a deployment: SIGTERM may land on it.
      {"QS_STANDIN_WORKER_THREAD", "1"}};
  if (!options.libraryPath.empty()) {
    env.emplace_back("LD_LIBRARY_PATH", options.libraryPath);
  }
  // Sanitizer settings of the test run reach the child too.
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char *value = std::getenv(name)) {
      env.emplace_back(name, value);
    }
  }
  for (const auto &entry : options.env) {
    env.push_back(entry);
    if (entry.first == kPreload) {
      env.back().second += std::string(":") + QS_READY_PROBE_PATH;
    }
  }
  std::vector<std::string> result;
  for (size_t i = 0; i < env.size(); ++i) {
    bool overridden = false;
    for (size_t j = i + 1; j < env.size(); ++j) {
      overridden = overridden || env[j].first == env[i].first;
    }
    if (!overridden) {
      result.push_back(env[i].first + "=" + env[i].second);
    }
  }
  return result;
}

std::vector<char *> Pointers(std::vector<std::string> &strings) {
  std::vector<char *> pointers;
  for (std::string &s : strings) {
    pointers.push_back(&s[0]);
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> RequiredArgs() {
  return {"--deviceId=3", "--pid=4242", "--qsInitGroupName=qs_group"};
}

std::string SamplePluginDir() { return QS_SAMPLE_PLUGIN_DIR; }

std::string RuntimeLibraryDir() { return Resolved(QS_RUNTIME_LIBRARY_DIR); }

const std::vector<std::string> &Runner() {
  static const std::vector<std::string> words = {QS_RUNNER_WORDS};
  return words;
}

const std::vector<std::string> &HostRuntimeRunner() {
  static const std::vector<std::string> words = {QS_HOST_RUNNER_WORDS};
  return words;
}

bool ForeignProcessor() { return QS_FOREIGN_PROCESSOR != 0; }

LauncherProcess::LauncherProcess(const LaunchOptions &options) : dir_(MakeTempDir()) {
  // Through the build's runner, as ctest runs the tests (or the host runtime's, if asked): no
  // binfmt_misc registration is assumed for a launcher of another processor, and another
  // runtime's loader is named explicitly.
  std::vector<std::string> argv = options.hostRuntime ? HostRuntimeRunner() : Runner();
  argv.insert(argv.end(), options.wrapper.begin(), options.wrapper.end());
  argv.push_back(QS_LAUNCHER_PATH);
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<std::string> envp = EnvironmentFor(options, dir_);
  // Opened before the child exists, so that the probe's non-blocking open finds a reader.
  if (mkfifo((dir_ + kReadyFifo).c_str(), 0600) != 0 ||
      (readyFd_ = open((dir_ + kReadyFifo).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
    throw std::runtime_error("cannot make the readiness FIFO");
  }
  if (options.initGated) {
    if (mkfifo((dir_ + kInitGate).c_str(), 0600) != 0) {
      throw std::runtime_error("mkfifo failed");
    }
    envp.push_back("QS_STANDIN_INIT_GATE=" + dir_ + kInitGate);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir_ + "/stdout").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir_ + "/stderr").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child starts with SIGTERM at its default disposition and unblocked (unless the options
  // ask for it blocked), whatever the runner had.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t sigterm;
  sigemptyset(&sigterm);
  sigaddset(&sigterm, SIGTERM);
  sigset_t blocked;
  sigemptyset(&blocked);
  if (options.sigtermBlocked) {
    blocked = sigterm;
  }
  posix_spawnattr_setsigmask(&attributes, &blocked);
  posix_spawnattr_setsigdefault(&attributes, &sigterm);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  auto argvPointers = Pointers(argv);
  auto envPointers = Pointers(envp);
  const int error = posix_spawn(&pid_, argv[0].c_str(), &actions, &attributes, argvPointers.data(),
                                envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    throw std::runtime_error("posix_spawn failed: " + std::to_string(error));
  }
}

LauncherProcess::~LauncherProcess() {
  if (!reaped_) {
    Wait(std::chrono::milliseconds(0));
  }
  close(readyFd_);
  const std::string command = "rm -rf '" + dir_ + "'";
  [[maybe_unused]] const int ignored = std::system(command.c_str());
}

bool LauncherProcess::WaitUntilReady(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  pollfd ready{readyFd_, POLLIN, 0};
  while (std::chrono::steady_clock::now() < end) {
    if (poll(&ready, 1, kEndedCheckMs) > 0) {
      // The kernel's view must agree with the probe, but under the emulator of another
      // processor it cannot.
      return (ready.revents & POLLIN) != 0 && (ForeignProcessor() || SigtermCaught(pid_));
    }
    if (Ended()) {
      return false;  // ended without ever installing the handler
    }
  }
  return false;
}

bool LauncherProcess::WaitUntilAsleepInPoll(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!test_support::AsleepInPoll(pid_, pid_)) {
    if (std::chrono::steady_clock::now() >= end || Ended()) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

bool LauncherProcess::WaitForRecord(const std::string &text, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (FindLine(RecordLines(), text) >= 0) {
      return true;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

bool LauncherProcess::Ended() const {
  siginfo_t info{};
  return !reaped_ &&
         waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

void LauncherProcess::Signal(int signalNumber) const {
  if (!reaped_) {
    kill(pid_, signalNumber);
  }
}

bool LauncherProcess::ReleaseInitGate(std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    // A non-blocking open for writing succeeds only once the reader has the FIFO open.
    const int fd = open((dir_ + kInitGate).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      const char byte = 1;
      const bool written = write(fd, &byte, 1) == 1;
      close(fd);
      return written;
    }
    if (errno != ENXIO) {
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return false;
}

void LauncherProcess::SignalThread(pid_t tid, int signalNumber) const {
  if (!reaped_) {
    tgkill(pid_, tid, signalNumber);
  }
}

std::vector<pid_t> LauncherProcess::ThreadsNamed(const std::string &name) const {
  const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
  std::vector<pid_t> ids;
  if (DIR *dir = opendir(tasks.c_str())) {
    while (const dirent *entry = readdir(dir)) {
      if (entry->d_name[0] != '.' &&
          StatusField(tasks + "/" + entry->d_name + "/status", "Name") == name) {
        ids.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
      }
    }
    closedir(dir);
  }
  return ids;
}

std::string LauncherProcess::CLibraryFile() const {
  std::istringstream maps(ReadFile("/proc/" + std::to_string(pid_) + "/maps"));
  std::string line;
  while (std::getline(maps, line)) {
    const std::string::size_type path = line.find('/');
    const std::string::size_type name = line.rfind('/');
    // libc.so.6 itself, or the versioned file it links to (libc-2.31.so).
    if (path != std::string::npos &&
        (line.compare(name + 1, 8, "libc.so.") == 0 || line.compare(name + 1, 5, "libc-") == 0)) {
      return Resolved(line.substr(path));
    }
  }
  return "";
}

bool LauncherProcess::SigtermBlocked(pid_t tid) const {
  return HoldsSigterm(StatusField(
      "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(tid) + "/status", "SigBlk"));
}

ExitResult LauncherProcess::Wait(std::chrono::milliseconds deadline) {
  ExitResult result;
  if (reaped_) {
    return result;
  }
  const auto end = std::chrono::steady_clock::now() + deadline;
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(kPollInterval);
  }
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  } else {
    result.finished = true;
  }
  reaped_ = true;
  result.exited = WIFEXITED(status);
  result.exitStatus = result.exited ? WEXITSTATUS(status) : -1;
  result.signaled = WIFSIGNALED(status);
  result.signal = result.signaled ? WTERMSIG(status) : 0;
  return result;
}

std::vector<std::string> LauncherProcess::RecordLines() const {
  std::istringstream text(ReadFile(dir_ + "/dlog.txt"));
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(text, line)) {
    lines.push_back(line);
  }
  return lines;
}

std::string LauncherProcess::Stdout() const { return ReadFile(dir_ + "/stdout"); }
std::string LauncherProcess::Stderr() const { return ReadFile(dir_ + "/stderr"); }

int FindLine(const std::vector<std::string> &lines, const std::string &text, int from) {
  for (int i = from < 0 ? 0 : from; i < static_cast<int>(lines.size()); ++i) {
    if (lines[static_cast<size_t>(i)].find(text) != std::string::npos) {
      return i;
    }
  }
  return -1;
}

namespace {

RunOutcome Collect(LauncherProcess &process, bool ready, ExitResult exit) {
  RunOutcome outcome;
  outcome.ready = ready;
  outcome.exit = exit;
  outcome.records = process.RecordLines();
  outcome.out = process.Stdout();
  outcome.err = process.Stderr();
  return outcome;
}

}  // namespace

RunOutcome RunUntilSigterm(const LaunchOptions &options) {
  LauncherProcess process(options);
  const bool ready = process.WaitUntilReady();
  if (ready) {
    process.Signal(SIGTERM);
  }
  const ExitResult exit = process.Wait();
  return Collect(process, ready, exit);
}

RunOutcome RunToExit(const LaunchOptions &options) {
  LauncherProcess process(options);
  const ExitResult exit = process.Wait();
  return Collect(process, false, exit);
}

void ExpectInOrder(const std::vector<std::string> &lines, const std::vector<std::string> &texts) {
  int at = -1;
  for (const std::string &text : texts) {
    at = FindLine(lines, text, at + 1);
    ASSERT_GE(at, 0) << "missing, or out of order: " << text;
  }
}

::testing::AssertionResult OnceInOrder(const std::vector<std::string> &lines,
                                       const std::vector<std::string> &texts) {
  int at = -1;
  for (const std::string &text : texts) {
    const int next = FindLine(lines, text, at + 1);
    if (next < 0) {
      return ::testing::AssertionFailure() << "missing, or out of order: " << text;
    }
    if (FindLine(lines, text) != next || FindLine(lines, text, next + 1) >= 0) {
      return ::testing::AssertionFailure() << "more than once: " << text;
    }
    at = next;
  }
  return ::testing::AssertionSuccess();
}

void ExpectCleanStop(const RunOutcome &run) {
  EXPECT_TRUE(run.ready);
  EXPECT_TRUE(run.exit.exited);
  EXPECT_EQ(run.exit.exitStatus, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

}  // namespace e2e
