// The device log library's functions, bound weakly: a library that lacks any of them still lets
// the process start, and each shows as a null address that callers test before use.
#ifndef QS_SRC_BQS_LOG_DLOG_WEAK_H_
#define QS_SRC_BQS_LOG_DLOG_WEAK_H_

#include "dlog_pub.h"

#pragma weak CheckLogLevel
#pragma weak DlogRecord
#pragma weak dlog_setlevel
#pragma weak DlogSetAttr

#endif  // QS_SRC_BQS_LOG_DLOG_WEAK_H_
