#include "doubles/recorder.h"

#include <mutex>

namespace test_doubles {
namespace {

constexpr size_t kReservedCheckCalls = 64;

struct State {
  Answers answers;
  std::vector<std::string> calls;
  std::vector<LogRecord> records;
  std::vector<CheckCall> checks;
  std::vector<SetLevelCall> setLevels;
  std::vector<LogAttr> attrs;
  std::vector<SendErrorCodeCall> sendErrorCodes;
  std::vector<unsigned char> initBytes;
  InitParamCopy initValues;
  const void *initAddress = nullptr;
};

std::mutex &Mutex() {
  static std::mutex mutex;
  return mutex;
}

State &GetState() {
  static State state;
  return state;
}

template <typename T>
std::vector<T> Snapshot(const std::vector<T> &values) {
  std::lock_guard<std::mutex> lock(Mutex());
  return values;
}

}  // namespace

void Reset() {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState() = State();
  // Room for a test's gate queries, so that asking the gate takes no heap memory (the log cost
  // test counts allocations around it).
  GetState().checks.reserve(kReservedCheckCalls);
}

Answers &answers() { return GetState().answers; }

std::vector<std::string> Calls() { return Snapshot(GetState().calls); }
std::vector<LogRecord> Records() { return Snapshot(GetState().records); }
std::vector<CheckCall> CheckCalls() { return Snapshot(GetState().checks); }
std::vector<SetLevelCall> SetLevelCalls() { return Snapshot(GetState().setLevels); }
std::vector<LogAttr> AttrCalls() { return Snapshot(GetState().attrs); }
std::vector<SendErrorCodeCall> SendErrorCodeCalls() { return Snapshot(GetState().sendErrorCodes); }
std::vector<unsigned char> InitParamBytes() { return Snapshot(GetState().initBytes); }

const void *InitParamsAddress() {
  std::lock_guard<std::mutex> lock(Mutex());
  return GetState().initAddress;
}

InitParamCopy InitParamValues() {
  std::lock_guard<std::mutex> lock(Mutex());
  return GetState().initValues;
}

std::vector<std::string> Messages() {
  std::vector<std::string> messages;
  for (const LogRecord &record : Records()) {
    messages.push_back(record.message);
  }
  return messages;
}

void AddCall(const std::string &call) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().calls.push_back(call);
}

void AddRecord(LogRecord record) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().calls.push_back("DlogRecord:" + record.message);
  GetState().records.push_back(std::move(record));
}

void AddCheck(CheckCall call) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().checks.push_back(call);
}

void AddSetLevel(SetLevelCall call) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().calls.push_back("dlog_setlevel");
  GetState().setLevels.push_back(call);
}

void AddAttr(const LogAttr &attr) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().calls.push_back("DlogSetAttr");
  GetState().attrs.push_back(attr);
}

void AddSendErrorCode(SendErrorCodeCall call) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().calls.push_back("SendErrorCode:" + call.code);
  GetState().sendErrorCodes.push_back(std::move(call));
}

void SetInitParams(const void *address, const unsigned char *bytes, InitParamCopy values) {
  std::lock_guard<std::mutex> lock(Mutex());
  GetState().initAddress = address;
  GetState().initBytes.assign(bytes, bytes + 128);
  GetState().initValues = std::move(values);
}

}  // namespace test_doubles
