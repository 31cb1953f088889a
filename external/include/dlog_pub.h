// Interface of the closed device log library.
#ifndef QS_EXTERNAL_INCLUDE_DLOG_PUB_H_
#define QS_EXTERNAL_INCLUDE_DLOG_PUB_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// 64 bytes, host byte order, handed over by value.
typedef struct LogAttr {
  uint32_t type;       // always 0
  uint32_t pid;        // host process id
  uint32_t deviceId;   // device id
  uint8_t reserved[52];
} LogAttr;

// Returns 1 when a record of this module and level is wanted now.
int CheckLogLevel(int moduleId, int level);
// Formats the record printf-style and files it under moduleId and level.
void DlogRecord(int moduleId, int level, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
// moduleId -1 sets the global level. Returns 0 on success.
int dlog_setlevel(int moduleId, int level, int enableEvent);
// Returns 0 on success.
int DlogSetAttr(LogAttr attr);

#ifdef __cplusplus
}
#endif

#endif  // QS_EXTERNAL_INCLUDE_DLOG_PUB_H_
