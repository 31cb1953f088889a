// The parse operation of each launch option. Operations whose bad value must stop the launch
// return false after an error record; the others keep the field's current value, write their
// record and return true. Records carry the value text as a %s argument, never as a format.
#include <cstdint>
#include <string>

#include "bqs_log/bqs_log.h"
#include "qs_args_parser/args_parser.h"
#include "qs_args_parser/number_conversion.h"

namespace qs_launcher {
namespace {

constexpr uint32_t kDeviceIdEnd = 64;  // device ids are 0..63
constexpr uint32_t kVfIdMax = 16;
constexpr uint32_t kDeployModeMax = 2;
constexpr int32_t kReschedIntervalMin = -1;
constexpr int32_t kReschedIntervalMax = 1000;
// An abnormal interval of 0 is refused: 1..1000, and the warning names those bounds.
constexpr int32_t kAbnormalIntervalMin = 1;
constexpr int32_t kAbnormalIntervalMax = 1000;
constexpr int32_t kLogLevelDivisor = 100;  // "--logLevelInPid=" carries event * 100 + level
constexpr char kListSeparator = ',';

// Shared by the option and by the list-element form, which log at different levels.
#define QS_DEVICE_ID_CONVERSION_FAILED "Parse deviceId failed, param is %s"
#define QS_DEVICE_ID_OUT_OF_RANGE "DeviceId param[%s] invalided, value is not in [%d, %d)"

// Unsigned comparison, so every negative number is out of range.
bool AtMost(int32_t number, uint32_t max) { return static_cast<uint32_t>(number) <= max; }

}  // namespace

bool ArgsParser::ParseDeviceId(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_ERROR(QS_DEVICE_ID_CONVERSION_FAILED, value.c_str());
    return false;
  }
  if (!AtMost(number, kDeviceIdEnd - 1)) {
    BQS_LOG_ERROR(QS_DEVICE_ID_OUT_OF_RANGE, value.c_str(), 0, static_cast<int>(kDeviceIdEnd));
    return false;
  }
  deviceId_ = static_cast<uint32_t>(number);
  withDeviceId_ = true;
  return true;
}

bool ArgsParser::ParseDeviceId(const std::string &text, uint32_t &id) const {
  int32_t number = 0;
  if (!ToInt32(text, number)) {
    BQS_LOG_WARN(QS_DEVICE_ID_CONVERSION_FAILED, text.c_str());
    return false;
  }
  if (!AtMost(number, kDeviceIdEnd - 1)) {
    BQS_LOG_WARN(QS_DEVICE_ID_OUT_OF_RANGE, text.c_str(), 0, static_cast<int>(kDeviceIdEnd));
    return false;
  }
  id = static_cast<uint32_t>(number);
  return true;
}

bool ArgsParser::ParseHostPid(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_ERROR("Parse pid failed, param is %s", value.c_str());
    return false;
  }
  if (number <= 0) {
    BQS_LOG_ERROR("Pid param[%s] value invalided", value.c_str());
    return false;
  }
  hostPid_ = static_cast<uint32_t>(number);
  withHostPid_ = true;
  return true;
}

bool ArgsParser::ParsePidSign(const std::string &value) {
  pidSign_ = value;
  withPidSign_ = true;
  return true;
}

bool ArgsParser::ParseVfId(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_ERROR("Parse vfId failed, param is %s", value.c_str());
    return false;
  }
  if (!AtMost(number, kVfIdMax)) {
    BQS_LOG_ERROR("VfId param[%s] invalided, value is not in [%u, %u]", value.c_str(), 0U,
                  kVfIdMax);
    return false;
  }
  vfId_ = static_cast<uint32_t>(number);
  withVfId_ = true;
  return true;
}

bool ArgsParser::ParseLogLevel(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number) || number < 0) {
    return false;
  }
  eventLevel_ = number / kLogLevelDivisor;
  logLevel_ = number % kLogLevelDivisor;
  withLogLevel_ = true;
  SetLogLevel(logLevel_, eventLevel_);
  return true;
}

bool ArgsParser::ParseVexorLogLevel(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    return true;
  }
  vexorLogLevel_ = number;
  withLogLevel_ = true;
  SetVexorLogLevel();
  return true;
}

bool ArgsParser::ParseDeployMode(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_ERROR("Parse deploy mode failed, param is %s", value.c_str());
    return false;
  }
  if (!AtMost(number, kDeployModeMax)) {
    BQS_LOG_ERROR("deploy mode param[%s] invalided, value is not in [%u, %u]", value.c_str(), 0U,
                  kDeployModeMax);
    return false;
  }
  deployMode_ = static_cast<uint32_t>(number);
  return true;
}

bool ArgsParser::ParseReschedInterval(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_WARN("Parse resched interval not success, using default value %d ms", reschedInterval_);
    return true;
  }
  if (number < kReschedIntervalMin || number > kReschedIntervalMax) {
    BQS_LOG_WARN(
        "resched interval param[%s] invalided, value is not in [%d, %d], using default "
        "value[%d] ms",
        value.c_str(), kReschedIntervalMin, kReschedIntervalMax, reschedInterval_);
    return true;
  }
  reschedInterval_ = number;
  return true;
}

bool ArgsParser::ParseGroupName(const std::string &value) {
  groupName_ = value;
  withGroupName_ = true;
  return true;
}

bool ArgsParser::ParseSchedPolicy(const std::string &value) {
  uint64_t number = 0;
  if (!ToUint64(value, number)) {
    BQS_LOG_ERROR("Parse SchedPolicy failed, param is %s", value.c_str());
    return false;
  }
  BQS_LOG_INFO("SchedPolicy is [0x%llx].", static_cast<unsigned long long>(number));
  schedPolicy_ = number;
  return true;
}

bool ArgsParser::ParseStarter(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_WARN("Parse starter failed, param is %s", value.c_str());
    return true;
  }
  starter_ = static_cast<uint32_t>(number);
  withStarter_ = true;
  return true;
}

bool ArgsParser::ParseProfCfgData(const std::string &value) {
  profCfgData_ = value;
  return true;
}

bool ArgsParser::ParseProfFlag(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_WARN("Parse prof flag failed, param is %s", value.c_str());
    return true;
  }
  profFlag_ = number != 0;
  return true;
}

bool ArgsParser::ParseAbnormalInterval(const std::string &value) {
  int32_t number = 0;
  if (!ToInt32(value, number)) {
    BQS_LOG_INFO("Parse abnormal interval not success, using default value %d", abnormalInterval_);
    return true;
  }
  if (number < kAbnormalIntervalMin || number > kAbnormalIntervalMax) {
    BQS_LOG_WARN(
        "abnormal interval param[%s] invalided, value is not in [%d, %d], using default value[%d]",
        value.c_str(), kAbnormalIntervalMin, kAbnormalIntervalMax, abnormalInterval_);
    return true;
  }
  abnormalInterval_ = number;
  return true;
}

// A pair of ids: "3,5" appends 3 and 5; "3,5,7" appends 3 and 5 (the second text "5,7" converts
// to 5); "3" appends nothing; "x,5" appends nothing; "3,x" appends 3.
bool ArgsParser::ParseResIds(const std::string &value) {
  const std::string::size_type comma = value.find(kListSeparator);
  if (comma == std::string::npos) {
    return true;
  }
  uint32_t id = 0;
  if (!ParseDeviceId(value.substr(0, comma), id)) {
    return true;
  }
  resIds_.push_back(id);
  if (ParseDeviceId(value.substr(comma + 1), id)) {
    resIds_.push_back(id);
  }
  return true;
}

// Items in order, up to the first bad one: "1,2,3" appends 1, 2, 3; "1,,3" appends 1; "" and a
// trailing comma add no item.
bool ArgsParser::ParseDevIds(const std::string &value) {
  std::string::size_type begin = 0;
  while (begin < value.size()) {
    std::string::size_type end = value.find(kListSeparator, begin);
    if (end == std::string::npos) {
      end = value.size();
    }
    uint32_t id = 0;
    if (!ParseDeviceId(value.substr(begin, end - begin), id)) {
      break;
    }
    devIds_.push_back(id);
    begin = end + 1;
  }
  return true;
}

}  // namespace qs_launcher
