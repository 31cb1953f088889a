// Starts the launcher (A), the baseline (B), the baseline with one worker thread (C) and the
// launcher whose stand-in queue scheduler runs one worker thread (D) in turn, A B C D A B C D ...,
// and measures each run from outside through /proc: exec to ready (SIGTERM shows
// as caught), context switches of all its threads while it waits, peak resident memory, SIGTERM
// to exit. Prints table rows of medians:
// | measure | launcher | baseline | ratio or difference | target | met |
// With --against DIR it starts this build's launcher and the launcher of the build tree DIR in
// turn instead, each with its own stand-ins and plug-in, and shows what this one adds.
// Usage: qs_bench_launch [--against DIR] [rounds] [idle-ms]
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultRounds = 30;
constexpr int kDefaultIdleMs = 2000;
// Start-up threads settle (the first sleep of each is a switch) before the idle count starts.
constexpr auto kSettle = std::chrono::milliseconds(100);
constexpr auto kReadyPoll = std::chrono::microseconds(10);
constexpr auto kReadyDeadline = std::chrono::seconds(5);
constexpr int kSigtermBit = SIGTERM - 1;
constexpr double kTimeRatioLimit = 1.5;
constexpr long kMemoryAllowanceKib = 1024;
// What a launcher may add to another build's, as the portable release build to the one built
// against the build machine's runtime.
constexpr double kAddedReadyLimitMs = 0.5;
constexpr long kAddedMemoryLimitKib = 128;

struct RunFigures {
  bool ok = false;
  double readyMs = 0;
  double exitMs = 0;
  long peakKib = 0;
  long idleSwitches = 0;
  int threads = 0;
};

// Reads a small /proc file in one go, without the stream library's buffering.
std::string ReadProcFile(const std::string &path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return "";
  }
  char buffer[4096];
  const ssize_t length = read(fd, buffer, sizeof(buffer) - 1);
  close(fd);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// The text after "name:" in a status file, or "".
std::string StatusField(const std::string &status, const char *name) {
  const std::string key = std::string("\n") + name + ":";
  const std::string::size_type at = status.find(key);
  if (at == std::string::npos) {
    return "";
  }
  const std::string::size_type begin = at + key.size();
  return status.substr(begin, status.find('\n', begin) - begin);
}

bool SigtermCaught(pid_t pid) {
  const std::string mask =
      StatusField(ReadProcFile("/proc/" + std::to_string(pid) + "/status"), "SigCgt");
  return !mask.empty() && ((std::strtoull(mask.c_str(), nullptr, 16) >> kSigtermBit) & 1ULL) != 0;
}

// Voluntary plus involuntary context switches of every thread of the process, and the count of
// threads.
long ContextSwitches(pid_t pid, int &threads) {
  const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
  DIR *dir = opendir(taskDir.c_str());
  long total = 0;
  threads = 0;
  if (dir == nullptr) {
    return 0;
  }
  while (const dirent *entry = readdir(dir)) {
    if (entry->d_name[0] == '.') {
      continue;
    }
    const std::string status = ReadProcFile(taskDir + "/" + entry->d_name + "/status");
    total += std::atol(StatusField(status, "voluntary_ctxt_switches").c_str());
    total += std::atol(StatusField(status, "nonvoluntary_ctxt_switches").c_str());
    ++threads;
  }
  closedir(dir);
  return total;
}

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Program {
  std::string path;
  std::vector<std::string> args;
  std::vector<std::string> env;                  // besides PATH and LD_LIBRARY_PATH
  std::string pluginDir = QS_SAMPLE_PLUGIN_DIR;  // LD_LIBRARY_PATH
};

RunFigures MeasureOneRun(const Program &program, std::chrono::milliseconds idle) {
  RunFigures figures;
  std::vector<std::string> args = {program.path};
  args.insert(args.end(), program.args.begin(), program.args.end());
  std::vector<std::string> env = {"PATH=/usr/bin:/bin", "LD_LIBRARY_PATH=" + program.pluginDir};
  env.insert(env.end(), program.env.begin(), program.env.end());
  std::vector<char *> argv;
  std::vector<char *> envp;
  for (std::string &arg : args) {
    argv.push_back(&arg[0]);
  }
  for (std::string &entry : env) {
    envp.push_back(&entry[0]);
  }
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  }
  pid_t pid = -1;
  const Clock::time_point spawned = Clock::now();
  const int error =
      posix_spawn(&pid, program.path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "cannot start %s: %s\n", program.path.c_str(), std::strerror(error));
    return figures;
  }

  bool ready = false;
  while (!(ready = SigtermCaught(pid)) && Clock::now() - spawned < kReadyDeadline) {
    std::this_thread::sleep_for(kReadyPoll);
  }
  figures.readyMs = MillisecondsSince(spawned);

  std::this_thread::sleep_for(kSettle);
  int threads = 0;
  const long switchesBefore = ContextSwitches(pid, threads);
  std::this_thread::sleep_for(idle);
  figures.idleSwitches = ContextSwitches(pid, figures.threads) - switchesBefore;
  figures.peakKib = std::atol(
      StatusField(ReadProcFile("/proc/" + std::to_string(pid) + "/status"), "VmHWM").c_str());

  const Clock::time_point signalled = Clock::now();
  kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  figures.exitMs = MillisecondsSince(signalled);
  figures.ok = ready && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!figures.ok) {
    std::fprintf(stderr, "%s: ready=%d status=0x%x\n", program.path.c_str(), ready ? 1 : 0, status);
  }
  return figures;
}

template <typename T>
T Median(std::vector<T> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double MaxOf(const std::vector<double> &values) {
  return *std::max_element(values.begin(), values.end());
}

template <typename Field>
std::vector<double> Column(const std::vector<RunFigures> &runs, Field field) {
  std::vector<double> column;
  for (const RunFigures &run : runs) {
    column.push_back(static_cast<double>(run.*field));
  }
  return column;
}

const char *Met(bool met) { return met ? "yes" : "NO"; }

// Runs the programs in turn, round after round; false when a run failed.
bool MeasureInTurn(const std::vector<Program> &programs, int rounds, std::chrono::milliseconds idle,
                   std::vector<std::vector<RunFigures>> &runs) {
  runs.assign(programs.size(), {});
  for (int round = 0; round < rounds; ++round) {
    for (size_t program = 0; program < programs.size(); ++program) {
      runs[program].push_back(MeasureOneRun(programs[program], idle));
      if (!runs[program].back().ok) {
        std::fprintf(stderr, "a run failed; no figures\n");
        return false;
      }
    }
    std::fprintf(stderr, "\rround %d/%d", round + 1, rounds);
  }
  std::fprintf(stderr, "\n");
  return true;
}

std::vector<std::string> LauncherArgs() {
  return {"--deviceId=3", "--pid=" + std::to_string(getpid()), "--qsInitGroupName=bench"};
}

// This build's launcher against the one of the build tree other.
int CompareLaunchers(const std::string &other, int rounds, std::chrono::milliseconds idle) {
  const std::vector<Program> programs = {
      {QS_LAUNCHER_PATH, LauncherArgs(), {}},
      {other + "/bin/qs_launcher", LauncherArgs(), {}, other + "/plugins"},
  };
  std::vector<std::vector<RunFigures>> runs;
  if (!MeasureInTurn(programs, rounds, idle, runs)) {
    return 1;
  }
  const double readyA = Median(Column(runs[0], &RunFigures::readyMs));
  const double readyB = Median(Column(runs[1], &RunFigures::readyMs));
  const double exitA = Median(Column(runs[0], &RunFigures::exitMs));
  const double exitB = Median(Column(runs[1], &RunFigures::exitMs));
  const double peakA = Median(Column(runs[0], &RunFigures::peakKib));
  const double peakB = Median(Column(runs[1], &RunFigures::peakKib));
  // The median of the differences within each round, A B: both runs of a round meet the same
  // load, which the difference of the two medians does not cancel.
  std::vector<double> readyAdded;
  for (size_t round = 0; round < runs[0].size(); ++round) {
    readyAdded.push_back(runs[0][round].readyMs - runs[1][round].readyMs);
  }
  const double added = Median(readyAdded);
  std::printf(
      "| exec to ready (difference: median of the rounds') | %.3f ms | %.3f ms | %+.3f ms | <= "
      "+%.1f ms | %s |\n",
      readyA, readyB, added, kAddedReadyLimitMs, Met(added <= kAddedReadyLimitMs));
  std::printf("| SIGTERM to exit | %.3f ms | %.3f ms | %+.3f ms | - | - |\n", exitA, exitB,
              exitA - exitB);
  std::printf("| peak resident (VmHWM) | %.0f KiB | %.0f KiB | %+.0f KiB | <= +%ld KiB | %s |\n",
              peakA, peakB, peakA - peakB, kAddedMemoryLimitKib,
              Met(peakA - peakB <= kAddedMemoryLimitKib));
  return 0;
}

}  // namespace

int main(int argc, char *argv[]) {
  std::string against;
  if (argc > 2 && std::strcmp(argv[1], "--against") == 0) {
    against = argv[2];
    argc -= 2;
    argv += 2;
  }
  const int rounds = argc > 1 ? std::atoi(argv[1]) : kDefaultRounds;
  const std::chrono::milliseconds idle(argc > 2 ? std::atoi(argv[2]) : kDefaultIdleMs);
  if (rounds < 1 || idle.count() < 0) {
    std::fprintf(stderr, "usage: %s [--against DIR] [rounds] [idle-ms]\n", argv[0]);
    return 2;
  }
  // Timer slack would add about 50 us to every poll of the readiness loop.
  prctl(PR_SET_TIMERSLACK, 1UL);
  if (!against.empty()) {
    return CompareLaunchers(against, rounds, idle);
  }

  const std::vector<Program> programs = {
      {QS_LAUNCHER_PATH, LauncherArgs(), {}},
      {QS_BASELINE_PATH, {}, {}},
      {QS_BASELINE_PATH, {"--worker"}, {}},
      {QS_LAUNCHER_PATH, LauncherArgs(), {"QS_STANDIN_WORKER_THREAD=1"}},
  };
  std::vector<std::vector<RunFigures>> runs;
  if (!MeasureInTurn(programs, rounds, idle, runs)) {
    return 1;
  }
  const std::vector<RunFigures> &launcher = runs[0];
  const std::vector<RunFigures> &baseline = runs[1];
  const std::vector<RunFigures> &withWorker = runs[2];
  const std::vector<RunFigures> &launcherWithWorker = runs[3];

  const double readyA = Median(Column(launcher, &RunFigures::readyMs));
  const double readyB = Median(Column(baseline, &RunFigures::readyMs));
  const double exitA = Median(Column(launcher, &RunFigures::exitMs));
  const double exitB = Median(Column(baseline, &RunFigures::exitMs));
  const double exitC = Median(Column(withWorker, &RunFigures::exitMs));
  const double exitD = Median(Column(launcherWithWorker, &RunFigures::exitMs));
  const double peakA = Median(Column(launcher, &RunFigures::peakKib));
  const double peakB = Median(Column(baseline, &RunFigures::peakKib));
  const double maxSwitchesA =
      std::max(MaxOf(Column(launcher, &RunFigures::idleSwitches)),
               MaxOf(Column(launcherWithWorker, &RunFigures::idleSwitches)));
  const double maxSwitchesB = MaxOf(Column(baseline, &RunFigures::idleSwitches));

  std::printf("| exec to ready | %.3f ms | %.3f ms | %.2fx | <= %.1fx | %s |\n", readyA, readyB,
              readyA / readyB, kTimeRatioLimit, Met(readyA / readyB <= kTimeRatioLimit));
  std::printf("| SIGTERM to exit | %.3f ms | %.3f ms | %.2fx | <= %.1fx | %s |\n", exitA, exitB,
              exitA / exitB, kTimeRatioLimit, Met(exitA / exitB <= kTimeRatioLimit));
  std::printf(
      "| SIGTERM to exit, stand-in worker thread vs baseline joining one worker thread | %.3f ms | "
      "%.3f ms | %.2fx | <= %.1fx | %s |\n",
      exitD, exitC, exitD / exitC, kTimeRatioLimit, Met(exitD / exitC <= kTimeRatioLimit));
  std::printf("| peak resident (VmHWM) | %.0f KiB | %.0f KiB | %+.0f KiB | <= +%ld KiB | %s |\n",
              peakA, peakB, peakA - peakB, kMemoryAllowanceKib,
              Met(peakA - peakB <= kMemoryAllowanceKib));
  std::printf(
      "| context switches in %.1f s idle, all threads (up to %d), max of %d runs | %.0f | %.0f | "
      "- | 0 | %s |\n",
      static_cast<double>(idle.count()) / 1000.0, launcherWithWorker.front().threads, rounds,
      maxSwitchesA, maxSwitchesB, Met(maxSwitchesA == 0));
  return 0;
}
