#include "qs_args_parser/args_parser.h"

#include <utility>

#include "bqs_log/bqs_log.h"
#include "deployment/deployment_hooks.h"
#include "qs_args_parser/option_prefixes.h"

namespace qs_launcher {
namespace {

// Keys end in the separator, so the key of an argument is everything up to and including it.
constexpr char kKeyValueSeparator = '=';

// Splits at the first separator:
//   "--deviceId=3"      -> key "--deviceId=", value "3"
//   "--profCfgData=a=b" -> key "--profCfgData=", value "a=b"
//   "--pidSign="        -> key "--pidSign=",  value ""
//   "=x"                -> key "=",           value "x"
//   "/usr/bin/qs"       -> no key (skipped silently)
bool SplitArgument(const std::string &arg, std::string &key, std::string &value) {
  const std::string::size_type separator = arg.find(kKeyValueSeparator);
  if (separator == std::string::npos) {
    return false;
  }
  key.assign(arg, 0, separator + 1);
  value.assign(arg, separator + 1, std::string::npos);
  return true;
}

struct OptionPresence {
  const char *prefix;
  bool present;
};

}  // namespace

ArgsParser::ArgsParser()
    : optionTable_{
          {kDeviceIdPrefix, &ArgsParser::ParseDeviceId},
          {kHostPidPrefix, &ArgsParser::ParseHostPid},
          {kPidSignPrefix, &ArgsParser::ParsePidSign},
          {kVfIdPrefix, &ArgsParser::ParseVfId},
          {kLogLevelPrefix, &ArgsParser::ParseLogLevel},
          {kVexorLogLevelPrefix, &ArgsParser::ParseVexorLogLevel},
          {kDeployModePrefix, &ArgsParser::ParseDeployMode},
          {kReschedIntervalPrefix, &ArgsParser::ParseReschedInterval},
          {kGroupNamePrefix, &ArgsParser::ParseGroupName},
          {kSchedPolicyPrefix, &ArgsParser::ParseSchedPolicy},
          {kStarterPrefix, &ArgsParser::ParseStarter},
          {kProfCfgDataPrefix, &ArgsParser::ParseProfCfgData},
          {kProfFlagPrefix, &ArgsParser::ParseProfFlag},
          {kAbnormalIntervalPrefix, &ArgsParser::ParseAbnormalInterval},
          {kResIdsPrefix, &ArgsParser::ParseResIds},
          {kDevIdsPrefix, &ArgsParser::ParseDevIds},
      } {}

bool ArgsParser::ParseArgs(int argc, char *argv[]) {
  if (argv == nullptr || argc <= 1) {
    return false;
  }
  // Index 0, the program path, is parsed like any other argument.
  for (int index = 0; index < argc; ++index) {
    if (argv[index] == nullptr) {
      continue;
    }
    if (!ParseSinglePara(argv[index])) {
      return false;
    }
  }
  return CheckRequiredParas();
}

bool ArgsParser::ParseSinglePara(const std::string &arg) {
  std::string key;
  std::string value;
  if (!SplitArgument(arg, key, value)) {
    return true;
  }
  const auto option = optionTable_.find(key);
  if (option == optionTable_.end()) {
    BQS_LOG_WARN("unknown input parameter [%s] of function ParseArgs, ignore", key.c_str());
    return true;
  }
  return (this->*(option->second))(value);
}

bool ArgsParser::CheckRequiredParas() {
  std::vector<OptionPresence> required = {{kDeviceIdPrefix, withDeviceId_},
                                          {kHostPidPrefix, withHostPid_}};
  if (IsHostSide() == 1) {
    required.push_back({kGroupNamePrefix, withGroupName_});
  }
  for (const OptionPresence &option : required) {
    if (!option.present) {
      BQS_LOG_ERROR("Param error. Must specify param with [%s].", option.prefix);
      return false;
    }
  }
  const OptionPresence optional[] = {{kVfIdPrefix, withVfId_}, {kPidSignPrefix, withPidSign_}};
  for (const OptionPresence &option : optional) {
    if (!option.present) {
      BQS_LOG_WARN("param error. Param %s does not exist.", option.prefix);
    }
  }
  return true;
}

std::string ArgsParser::GetParasSummary() const {
  const auto number = [](auto value) { return std::to_string(value); };
  const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
  const std::pair<const char *, std::string> pairs[] = {
      {"deviceId=", number(deviceId_)},
      {", hostPid=", number(hostPid_)},
      {", pidSign=", pidSign_},
      {", vfId=", number(vfId_)},
      {", logLevel=", number(logLevel_)},
      {", eventLevel_=", number(eventLevel_)},
      {", vexorlogLevel=", number(vexorLogLevel_)},
      {", deployMode_=", number(deployMode_)},
      {", reschedInterval_=", number(reschedInterval_)},
      {", groupName_=", groupName_},
      {", schedPolicy_=", number(schedPolicy_)},
      {", starter_=", number(starter_)},
      {", profCfgData_=", profCfgData_},
      {", profFlag_=", flag(profFlag_)},
      {", abnormalInterval_=", number(abnormalInterval_)},
      {", withDeviceId_=", flag(withDeviceId_)},
      {", withHostPid_=", flag(withHostPid_)},
      {", withPidSign_=", flag(withPidSign_)},
      {", withVfId_=", flag(withVfId_)},
      {", withLogLevel_=", flag(withLogLevel_)},
      {", withGroupName_=", flag(withGroupName_)},
      {", withStarter_=", flag(withStarter_)},
  };
  std::string summary;
  for (const auto &[label, value] : pairs) {
    summary.append(label).append(value);
  }
  return summary;
}

}  // namespace qs_launcher
