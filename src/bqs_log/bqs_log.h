// The one way the launcher writes a diagnostic: a record handed to the device log library.
//
// Every record is one printf-style literal, the prefix "[%s:%d][%s][tid:%llu] " followed by the
// message, with the source file's base name, the line, the function and the thread id in front
// of the message's own arguments. Info and warning records pass only when CheckLogLevel answers
// exactly 1; error records pass whenever the record functions exist. The macros test the gate
// before the message arguments are evaluated, so a suppressed record costs one CheckLogLevel call.
#ifndef QS_SRC_BQS_LOG_BQS_LOG_H_
#define QS_SRC_BQS_LOG_BQS_LOG_H_

#include "bqs_log/dlog_weak.h"

namespace qs_launcher {

constexpr int kLogModule = 36;
constexpr int kRunLogFlag = 0x1000000;
constexpr int kRunLogModule = kLogModule | kRunLogFlag;

constexpr int kLogLevelInfo = 1;
constexpr int kLogLevelWarning = 2;
constexpr int kLogLevelError = 3;

// True when a record of this module and level is to be handed over.
bool RecordWanted(int module, int level);

// The kernel id of the calling thread, fetched once per thread.
unsigned long long CachedThreadId();

// "src/main/qs_main.cc" -> "qs_main.cc".
const char *SourceBaseName(const char *path);

template <typename... Args>
void WriteRecord(int module, int level, const char *file, int line, const char *function,
                 const char *format, Args... args) {
  DlogRecord(module, level, format, SourceBaseName(file), line, function, CachedThreadId(),
             args...);
}

// Never called: lets the compiler check each message against its own arguments.
inline void CheckRecordFormat(const char *, ...) __attribute__((format(printf, 1, 2)));
inline void CheckRecordFormat(const char *, ...) {}

}  // namespace qs_launcher

#define BQS_LOG_PREFIX "[%s:%d][%s][tid:%llu] "

// The first variadic argument is the message literal; the prefix is joined to it by literal
// concatenation, so the whole format stays one literal.
#define BQS_LOG_RECORD(module, level, ...)                                                 \
  do {                                                                                     \
    if (false) ::qs_launcher::CheckRecordFormat(__VA_ARGS__);                              \
    if (::qs_launcher::RecordWanted((module), (level))) {                                  \
      ::qs_launcher::WriteRecord((module), (level), __FILE__, __LINE__, __func__,          \
                                 BQS_LOG_PREFIX __VA_ARGS__);                              \
    }                                                                                      \
  } while (false)

#define BQS_LOG_ERROR(...) \
  BQS_LOG_RECORD(::qs_launcher::kLogModule, ::qs_launcher::kLogLevelError, __VA_ARGS__)
#define BQS_LOG_WARN(...) \
  BQS_LOG_RECORD(::qs_launcher::kLogModule, ::qs_launcher::kLogLevelWarning, __VA_ARGS__)
#define BQS_LOG_INFO(...) \
  BQS_LOG_RECORD(::qs_launcher::kLogModule, ::qs_launcher::kLogLevelInfo, __VA_ARGS__)
#define BQS_RUN_LOG_WARN(...) \
  BQS_LOG_RECORD(::qs_launcher::kRunLogModule, ::qs_launcher::kLogLevelWarning, __VA_ARGS__)
#define BQS_RUN_LOG_INFO(...) \
  BQS_LOG_RECORD(::qs_launcher::kRunLogModule, ::qs_launcher::kLogLevelInfo, __VA_ARGS__)

#endif  // QS_SRC_BQS_LOG_BQS_LOG_H_
