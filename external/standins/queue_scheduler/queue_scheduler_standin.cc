// Stand-in for the closed queue-scheduler library (libqueue_scheduler.so). It checks the start
// record's fixed values and logs what it received. For tests and demonstrations:
//   QS_STANDIN_INIT_RESULT=N     InitQueueScheduler returns N instead
//   QS_STANDIN_INIT_DELAY_MS=N   InitQueueScheduler takes N ms
//   QS_STANDIN_INIT_GATE=FIFO    InitQueueScheduler first reads one byte from the named FIFO, so
//                                the start waits until a test writes it
//   QS_STANDIN_STOP_DELAY_MS=N   WaitForStop takes N ms (otherwise it returns at once)
//   QS_STANDIN_WORKER_THREAD=1   a successful start runs one idle worker thread, named
//                                "qs_standin_work", until WaitForStop(), as the real library
//                                runs threads of its own
//   QS_STANDIN_SPAWN_CHILD=1     a successful start forks a child process, as the real library
//                                may start processes, and logs the names of the environment
//                                variables the child inherited
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "dlog_pub.h"
#include "queue_schedule_interface.h"

// Like the launcher, the stand-in tolerates a log library that lacks the record functions.
#pragma weak CheckLogLevel
#pragma weak DlogRecord

namespace bqs {
namespace {

constexpr int kStandinModule = 20;
constexpr int kLevelInfo = 1;
constexpr int kLevelError = 3;
constexpr int32_t kBadParamsCode = 22;
constexpr char kWorkerName[] = "qs_standin_work";  // at most 15 characters

// A whole-number environment value, or fallback when unset or not a number.
long EnvNumber(const char *name, long fallback) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the process writes the environment.
  const char *text = std::getenv(name);
  if (text == nullptr || text[0] == '\0') {
    return fallback;
  }
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' ? value : fallback;
}

void SleepMs(long ms) {
  if (ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

#define STANDIN_LOG(level, ...)                              \
  do {                                                       \
    if (CheckLogLevel != nullptr && DlogRecord != nullptr && \
        CheckLogLevel(kStandinModule, (level)) == 1) {       \
      DlogRecord(kStandinModule, (level), __VA_ARGS__);      \
    }                                                        \
  } while (false)

// Blocks until a writer has opened the FIFO and written one byte (or closed it).
void PassInitGate() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the process writes the environment.
  const char *path = std::getenv("QS_STANDIN_INIT_GATE");
  if (path == nullptr || path[0] == '\0') {
    return;
  }
  int fd = -1;
  while ((fd = open(path, O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  if (fd < 0) {
    STANDIN_LOG(kLevelError, "queue scheduler stand-in: cannot open the start gate %s", path);
    return;
  }
  char byte = 0;
  while (read(fd, &byte, 1) < 0 && errno == EINTR) {
  }
  close(fd);
}

// The child only reads its memory, writes the pipe and exits: after a fork only
// async-signal-safe calls are allowed.
[[noreturn]] void WriteEnvironmentNames(int fd) {
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const char *end = *entry;
    while (*end != '\0' && *end != '=') {
      ++end;
    }
    const ssize_t separator = write(fd, " ", 1);
    const ssize_t name = write(fd, *entry, static_cast<size_t>(end - *entry));
    (void)separator;
    (void)name;
  }
  _exit(0);
}

// Logs "child process inherited NAME NAME ...", the names of a forked child's environment.
void ReportChildEnvironment() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    STANDIN_LOG(kLevelError, "queue scheduler stand-in: cannot make a pipe for the child");
    return;
  }
  const pid_t child = fork();
  if (child == 0) {
    WriteEnvironmentNames(fds[1]);
  }
  close(fds[1]);
  if (child < 0) {
    close(fds[0]);
    STANDIN_LOG(kLevelError, "queue scheduler stand-in: cannot start a child process");
    return;
  }
  std::string names;
  char buffer[256];
  ssize_t got = 0;
  while ((got = read(fds[0], buffer, sizeof(buffer))) != 0) {
    if (got > 0) {
      names.append(buffer, static_cast<size_t>(got));
    } else if (errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  STANDIN_LOG(kLevelInfo, "queue scheduler stand-in: child process inherited%s", names.c_str());
}

// What a running queue scheduler holds: its own copy of the start record and a worker.
struct SchedulerState {
  InitQsParams params;
  std::mutex mutex;
  std::condition_variable stopRequested;
  bool stopping = false;
  std::thread worker;
};

std::unique_ptr<SchedulerState> g_state;

bool FixedValuesValid(const InitQsParams &params) {
  return params.fixedParam1_ == 5 && params.fixedParam2_ == 6 && params.fixedParam3_ == 8 &&
         params.fixedParam4_ == 9 && params.fixedFlag_;
}

void StopWorker() {
  if (!g_state || !g_state->worker.joinable()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_state->mutex);
    g_state->stopping = true;
  }
  g_state->stopRequested.notify_all();
  g_state->worker.join();
}

}  // namespace

QueueScheduleInterface &QueueScheduleInterface::GetInstance() {
  static QueueScheduleInterface instance;
  return instance;
}

int32_t QueueScheduleInterface::InitQueueScheduler(const InitQsParams &params) {
  PassInitGate();
  SleepMs(EnvNumber("QS_STANDIN_INIT_DELAY_MS", 0));
  const long forced = EnvNumber("QS_STANDIN_INIT_RESULT", 0);
  if (forced != 0) {
    STANDIN_LOG(kLevelError, "queue scheduler stand-in: start refused with code %ld", forced);
    return static_cast<int32_t>(forced);
  }
  if (!FixedValuesValid(params)) {
    STANDIN_LOG(kLevelError, "queue scheduler stand-in: start record has wrong fixed values");
    return kBadParamsCode;
  }
  STANDIN_LOG(kLevelInfo,
              "queue scheduler stand-in: started deviceId=%u hostPid=%u groupName=%s "
              "devIds=%zu otherDeviceId=%u withOtherDevice=%d",
              params.deviceId_, params.hostPid_, params.groupName_.c_str(), params.devIds_.size(),
              params.otherDeviceId_, params.withOtherDevice_ ? 1 : 0);
  if (EnvNumber("QS_STANDIN_SPAWN_CHILD", 0) == 1) {
    ReportChildEnvironment();  // before the worker starts, while the process has one thread
  }
  StopWorker();
  g_state = std::make_unique<SchedulerState>();
  g_state->params = params;
  SchedulerState *state = g_state.get();
  if (EnvNumber("QS_STANDIN_WORKER_THREAD", 0) == 1) {
    state->worker = std::thread([state] {
      std::unique_lock<std::mutex> lock(state->mutex);
      state->stopRequested.wait(lock, [state] { return state->stopping; });
    });
    // Named before the start returns, so that a test finds it once the launcher is ready.
    (void)pthread_setname_np(state->worker.native_handle(), kWorkerName);
  }
  return 0;
}

int32_t QueueScheduleInterface::WaitForStop() {
  SleepMs(EnvNumber("QS_STANDIN_STOP_DELAY_MS", 0));
  StopWorker();
  STANDIN_LOG(kLevelInfo, "queue scheduler stand-in: stopped");
  return 0;
}

void QueueScheduleInterface::Destroy() const {
  StopWorker();
  g_state.reset();
  STANDIN_LOG(kLevelInfo, "queue scheduler stand-in: destroyed");
}

bool BindCpuUtils::AddToCgroup(uint32_t, uint32_t) { return true; }

}  // namespace bqs
