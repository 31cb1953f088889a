// Shared state of the recording doubles: what the code under test handed to the closed
// libraries and hooks, in order, and the answers the doubles give.
#ifndef QS_TESTS_DOUBLES_RECORDER_H_
#define QS_TESTS_DOUBLES_RECORDER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dlog_pub.h"

namespace test_doubles {

struct LogRecord {
  int module;
  int level;
  std::string format;   // as handed over, prefix included
  std::string text;     // fully formatted
  std::string message;  // text after the "] " that ends the prefix
};

struct Answers {
  // CheckLogLevel answers this for level >= threshold, 0 below it.
  int logThreshold = 0;
  int checkAnswer = 1;
  // When set, CheckLogLevel answers this instead (any pattern of levels and modules).
  std::function<int(int module, int level)> checkLogLevel;
  int setLevelResult = 0;
  int setAttrResult = 0;
  int32_t isHostSide = 1;
  int32_t waitDeviceShutdownResult = 0;
  int32_t registerResult30 = 0;
  int32_t registerResult34 = 0;
  int32_t initResult = 0;
  bool initThrows = false;
  bool waitForStopThrows = false;
  bool addToCgroupResult = true;
  // Runs inside InitQueueScheduler after it has recorded its call (for example to send SIGTERM
  // once the handler is installed).
  std::function<void()> onInit;
};

// Resets every record and answer.
void Reset();
Answers &answers();

// Every call in order, as "Function" or "Function:detail" (for DlogRecord the message).
std::vector<std::string> Calls();
std::vector<LogRecord> Records();
// Messages of the records, in order.
std::vector<std::string> Messages();

struct CheckCall {
  int module;
  int level;
};
std::vector<CheckCall> CheckCalls();

struct SetLevelCall {
  int module;
  int level;
  int enableEvent;
};
std::vector<SetLevelCall> SetLevelCalls();
std::vector<LogAttr> AttrCalls();

struct SendErrorCodeCall {
  uint32_t deviceId, tsdType, hostPid, vfId;
  std::string code;
  uint32_t length;
};
std::vector<SendErrorCodeCall> SendErrorCodeCalls();

// The start record's 128 bytes as InitQueueScheduler received them, and its strings/list.
std::vector<unsigned char> InitParamBytes();
struct InitParamCopy {
  std::string pidSign, groupName, profCfgData;
  std::vector<uint32_t> devIds;
};
InitParamCopy InitParamValues();
// Where the start record that InitQueueScheduler received lives.
const void *InitParamsAddress();

// Used by the doubles themselves.
void AddCall(const std::string &call);
void AddRecord(LogRecord record);
void AddCheck(CheckCall call);
void AddSetLevel(SetLevelCall call);
void AddAttr(const LogAttr &attr);
void AddSendErrorCode(SendErrorCodeCall call);
void SetInitParams(const void *address, const unsigned char *bytes, InitParamCopy values);

}  // namespace test_doubles

#endif  // QS_TESTS_DOUBLES_RECORDER_H_
