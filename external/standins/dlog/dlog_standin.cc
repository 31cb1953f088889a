// Stand-in for the closed device log library (libdlog.so). Levels: 0 debug, 1 info, 2 warning,
// 3 error, 4 off. One line per record on stderr, or appended to $DLOG_STANDIN_FILE:
//   2026-12-08 17:20:52.123 INFO RUN module=36 hostPid=1234 device=3 <text>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "dlog_pub.h"

namespace {

constexpr int kLevelDebug = 0;
constexpr int kLevelOff = 4;
constexpr int kDefaultGlobalLevel = 3;
constexpr int kRunLogFlag = 0x1000000;
constexpr int kGlobalModule = -1;
constexpr int kModuleCount = 64;
constexpr char kGlobalLevelEnv[] = "KORVEL_GLOBAL_LOG_LEVEL";
constexpr char kOutputFileEnv[] = "DLOG_STANDIN_FILE";

bool ValidLevel(int level) { return level >= kLevelDebug && level <= kLevelOff; }

// The environment's level when it is exactly one valid level digit, else the default.
int InitialGlobalLevel() noexcept {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the process writes the environment.
  const char *text = std::getenv(kGlobalLevelEnv);
  if (text != nullptr && text[0] >= '0' && text[0] <= '4' && text[1] == '\0') {
    return text[0] - '0';
  }
  return kDefaultGlobalLevel;
}

std::atomic<int> g_globalLevel{InitialGlobalLevel()};
// Each module's own level plus one; 0 means "not set, use the global level".
std::atomic<int> g_moduleLevelsPlusOne[kModuleCount];
std::atomic<bool> g_attrSet{false};
std::atomic<uint32_t> g_attrPid{0};
std::atomic<uint32_t> g_attrDevice{0};

int ModuleOf(int moduleId) { return moduleId & ~kRunLogFlag; }

int EffectiveLevel(int module) {
  if (module >= 0 && module < kModuleCount) {
    const int ownPlusOne = g_moduleLevelsPlusOne[module].load();
    if (ownPlusOne != 0) {
      return ownPlusOne - 1;
    }
  }
  return g_globalLevel.load();
}

const char *LevelWord(int level) {
  static const char *const kWords[] = {"DEBUG", "INFO", "WARNING", "ERROR"};
  return level >= 0 && level < 4 ? kWords[level] : "LEVEL?";
}

std::string TimeStamp() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  (void)localtime_r(&now.tv_sec, &local);  // fails only for years past the range of int
  char text[64];
  const size_t length = std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  (void)std::snprintf(text + length, sizeof(text) - length, ".%03ld",
                      static_cast<long>(now.tv_usec / 1000));
  return text;
}

std::string Format(const char *fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  if (length <= 0) {
    return std::string();
  }
  std::string text(static_cast<size_t>(length) + 1, '\0');
  (void)std::vsnprintf(&text[0], text.size(), fmt, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

// One write per line, so lines of concurrent writers never interleave.
void WriteLine(const std::string &line) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the process writes the environment.
  const char *path = std::getenv(kOutputFileEnv);
  int fd = STDERR_FILENO;
  if (path != nullptr && path[0] != '\0') {
    fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      return;
    }
  }
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t written = write(fd, line.data() + done, line.size() - done);
    if (written <= 0) {
      break;
    }
    done += static_cast<size_t>(written);
  }
  if (fd != STDERR_FILENO) {
    close(fd);
  }
}

}  // namespace

extern "C" {

int CheckLogLevel(int moduleId, int level) {
  return level >= EffectiveLevel(ModuleOf(moduleId)) ? 1 : 0;
}

void DlogRecord(int moduleId, int level, const char *fmt, ...) {
  if (fmt == nullptr) {
    return;
  }
  va_list args;
  va_start(args, fmt);
  const std::string text = Format(fmt, args);
  va_end(args);

  std::string line = TimeStamp();
  line.append(" ").append(LevelWord(level));
  if ((moduleId & kRunLogFlag) != 0) {
    line.append(" RUN");
  }
  line.append(" module=").append(std::to_string(ModuleOf(moduleId)));
  if (g_attrSet.load()) {
    line.append(" hostPid=").append(std::to_string(g_attrPid.load()));
    line.append(" device=").append(std::to_string(g_attrDevice.load()));
  }
  line.append(" ").append(text).append("\n");
  WriteLine(line);
}

int dlog_setlevel(int moduleId, int level, int /*enableEvent*/) {
  if (!ValidLevel(level)) {
    return -1;
  }
  if (moduleId == kGlobalModule) {
    g_globalLevel.store(level);
    return 0;
  }
  if (moduleId < 0 || moduleId >= kModuleCount) {
    return -1;
  }
  g_moduleLevelsPlusOne[moduleId].store(level + 1);
  return 0;
}

int DlogSetAttr(LogAttr attr) {
  g_attrPid.store(attr.pid);
  g_attrDevice.store(attr.deviceId);
  g_attrSet.store(true);
  return 0;
}

}  // extern "C"
