// Log levels given on the command line, applied at the moment their option is parsed.
#include <cstddef>

#include "bqs_log/bqs_log.h"
#include "qs_args_parser/args_parser.h"

namespace qs_launcher {
namespace {

constexpr int kGlobalLogModule = -1;  // dlog_setlevel's selector for every module
constexpr uint32_t kVexorLogLevelMax = 3;

LogAttr MakeLogAttr(uint32_t hostPid, uint32_t deviceId) {
  LogAttr attr{};  // type and reserved bytes stay zero
  attr.pid = hostPid;
  attr.deviceId = deviceId;
  return attr;
}

}  // namespace

static_assert(sizeof(LogAttr) == 64, "the log attribute record is 64 bytes");
static_assert(offsetof(LogAttr, pid) == 4 && offsetof(LogAttr, deviceId) == 8);

void ArgsParser::SetLogLevel(int32_t level, int32_t eventLevel) {
  if (dlog_setlevel != nullptr && dlog_setlevel(kGlobalLogModule, level, eventLevel) != 0) {
    BQS_LOG_WARN("Set log level failed");
  }
  if (DlogSetAttr != nullptr && DlogSetAttr(MakeLogAttr(hostPid_, deviceId_)) != 0) {
    BQS_LOG_WARN("Set log attr failed");
  }
}

void ArgsParser::SetVexorLogLevel() {
  // Unsigned comparison: the default -1 and every other negative level is out.
  if (static_cast<uint32_t>(vexorLogLevel_) > kVexorLogLevelMax || dlog_setlevel == nullptr) {
    return;
  }
  if (dlog_setlevel(kLogModule, vexorLogLevel_, eventLevel_) != 0) {
    BQS_LOG_WARN("Set vexor log level failed");
  }
}

}  // namespace qs_launcher
