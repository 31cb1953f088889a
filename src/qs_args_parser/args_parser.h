// The launch-parameter record: every launch option's value with its default, the presence flags
// of the options whose absence matters, and the table from option prefix to parse operation.
#ifndef QS_SRC_QS_ARGS_PARSER_ARGS_PARSER_H_
#define QS_SRC_QS_ARGS_PARSER_ARGS_PARSER_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qs_launcher {

class ArgsParser;

// Parses one option's value text; false makes the whole parse fail.
using ParseFunc = bool (ArgsParser::*)(const std::string &value);

class ArgsParser {
 public:
  ArgsParser();

  ArgsParser(const ArgsParser &) = delete;
  ArgsParser &operator=(const ArgsParser &) = delete;

  // True when every argument was accepted and the required options are present.
  bool ParseArgs(int argc, char *argv[]);
  // The option's parse result, or true for an argument that is skipped.
  bool ParseSinglePara(const std::string &arg);
  // True when all required options are present; warns about missing optional ones.
  bool CheckRequiredParas();

  // One line with every scalar and text field. It costs a string per call: callers build it only
  // as an argument of a gated record macro, which evaluates it only when the record is written.
  std::string GetParasSummary() const;

  // Sets the global level of the device log library and hands it the log attribute record.
  void SetLogLevel(int32_t level, int32_t eventLevel);
  // Sets the level of the launcher's own log module when vexorLogLevel_ is 0..3.
  void SetVexorLogLevel();
  // Takes the levels from the environment; the driver calls it when no level option was given.
  void SetLogLevelWithEnv();

  uint32_t deviceId_ = 0;
  uint32_t hostPid_ = 0;
  std::string pidSign_;
  uint32_t vfId_ = 0;
  int32_t logLevel_ = 3;
  int32_t eventLevel_ = 1;
  int32_t vexorLogLevel_ = -1;
  uint32_t deployMode_ = 0;
  int32_t reschedInterval_ = 30;
  std::string groupName_;
  uint64_t schedPolicy_ = 0;
  uint32_t starter_ = 0;
  std::string profCfgData_;
  int32_t abnormalInterval_ = 10;
  std::vector<uint32_t> resIds_;
  std::vector<uint32_t> devIds_;
  bool profFlag_ = false;
  bool withDeviceId_ = false;
  bool withHostPid_ = false;
  bool withPidSign_ = false;
  bool withVfId_ = false;
  bool withLogLevel_ = false;
  bool withGroupName_ = false;
  bool withStarter_ = false;

 private:
  bool ParseDeviceId(const std::string &value);
  bool ParseHostPid(const std::string &value);
  bool ParsePidSign(const std::string &value);
  bool ParseVfId(const std::string &value);
  bool ParseLogLevel(const std::string &value);
  bool ParseVexorLogLevel(const std::string &value);
  bool ParseDeployMode(const std::string &value);
  bool ParseReschedInterval(const std::string &value);
  bool ParseGroupName(const std::string &value);
  bool ParseSchedPolicy(const std::string &value);
  bool ParseStarter(const std::string &value);
  bool ParseProfCfgData(const std::string &value);
  bool ParseProfFlag(const std::string &value);
  bool ParseAbnormalInterval(const std::string &value);
  bool ParseResIds(const std::string &value);
  bool ParseDevIds(const std::string &value);

  // One element of an id list: 0..63, warnings instead of errors, no field written.
  bool ParseDeviceId(const std::string &text, uint32_t &id) const;

  std::unordered_map<std::string, ParseFunc> optionTable_;
};

}  // namespace qs_launcher

#endif  // QS_SRC_QS_ARGS_PARSER_ARGS_PARSER_H_
