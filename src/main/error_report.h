#ifndef QS_SRC_MAIN_ERROR_REPORT_H_
#define QS_SRC_MAIN_ERROR_REPORT_H_

#include <cstdint>

namespace qs_launcher {

// Logs a failed start of the queue scheduler and hands its error-message code ("EM9001" for
// 16, "EM9002" for anything else) to the error-code report hook.
void ReportErrorMsg(int32_t errorCode, uint32_t deviceId, int32_t hostPid, uint32_t vfId);

}  // namespace qs_launcher

#endif  // QS_SRC_MAIN_ERROR_REPORT_H_
