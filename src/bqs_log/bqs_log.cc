#include "bqs_log/bqs_log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace qs_launcher {
namespace {

// One pair for the whole process, filled on the thread's first handed-over record.
thread_local bool tls_thread_id_fetched = false;
thread_local unsigned long long tls_thread_id = 0;

}  // namespace

bool RecordWanted(int module, int level) {
  if (DlogRecord == nullptr || CheckLogLevel == nullptr) {
    return false;
  }
  return level == kLogLevelError || CheckLogLevel(module, level) == 1;
}

unsigned long long CachedThreadId() {
  if (!tls_thread_id_fetched) {
    tls_thread_id = static_cast<unsigned long long>(syscall(SYS_gettid));
    tls_thread_id_fetched = true;
  }
  return tls_thread_id;
}

const char *SourceBaseName(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

}  // namespace qs_launcher
