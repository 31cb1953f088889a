#include "main/error_report.h"

#include "bqs_log/bqs_log.h"
#include "deployment/deployment_hooks.h"

namespace qs_launcher {
namespace {

constexpr int32_t kEm9001FailureCode = 16;
constexpr char kEm9001[] = "EM9001";
constexpr char kEm9002[] = "EM9002";
static_assert(sizeof(kEm9001) == sizeof(kEm9002));
constexpr uint32_t kErrorMsgLength = sizeof(kEm9002) - 1;

}  // namespace

void ReportErrorMsg(int32_t errorCode, uint32_t deviceId, int32_t hostPid, uint32_t vfId) {
  BQS_RUN_LOG_WARN("ReportErrorMsg errcode is %d.", errorCode);
  const char *message = errorCode == kEm9001FailureCode ? kEm9001 : kEm9002;
  BQS_RUN_LOG_INFO("ReportErrorMsg msg is %s.", message);
  (void)SendErrorCode(deviceId, kTsdType, static_cast<uint32_t>(hostPid), vfId, message,
                      kErrorMsgLength);
}

}  // namespace qs_launcher
