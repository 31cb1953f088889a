// Helpers of the launch-argument and log-level tests: the record fields a test compares, every
// field of the launch-parameter record as text, environment guards and a driver run.
#ifndef QS_TESTS_UNIT_ARGS_TEST_SUPPORT_H_
#define QS_TESTS_UNIT_ARGS_TEST_SUPPORT_H_

#include <cstdlib>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "doubles/recorder.h"
#include "qs_args_parser/args_parser.h"
#include "unit/driver_runner.h"

// The driver's main, renamed for the unit-test binary.

namespace args_test {

constexpr int kModule = 36;
constexpr int kRunModule = 0x1000024;
constexpr int kInfo = 1;
constexpr int kWarning = 2;
constexpr int kError = 3;

// What a test compares of a record; the file, line and thread id are covered elsewhere.
struct Rec {
  int module;
  int level;
  std::string function;
  std::string message;

  bool operator==(const Rec &other) const {
    return module == other.module && level == other.level && function == other.function &&
           message == other.message;
  }
};

inline void PrintTo(const Rec &rec, std::ostream *out) {
  *out << "{" << rec.module << ", " << rec.level << ", " << rec.function << ", \""
       << rec.message.substr(0, 120) << "\" (" << rec.message.size() << " chars)}";
}

// "[file:line][function][tid:N] message" -> function.
inline std::string FunctionOf(const std::string &text) {
  const std::string::size_type begin = text.find("][");
  const std::string::size_type end = text.find("][tid:", begin + 2);
  if (begin == std::string::npos || end == std::string::npos) {
    return "?";
  }
  return text.substr(begin + 2, end - begin - 2);
}

inline std::vector<Rec> Recs() {
  std::vector<Rec> recs;
  for (const test_doubles::LogRecord &record : test_doubles::Records()) {
    recs.push_back({record.module, record.level, FunctionOf(record.text), record.message});
  }
  return recs;
}

inline std::string Join(const std::vector<uint32_t> &ids) {
  std::string text;
  for (const uint32_t id : ids) {
    text += (text.empty() ? "" : ",") + std::to_string(id);
  }
  return text;
}

// Every field, so that a test sees what an operation changed and what it left alone.
using FieldMap = std::map<std::string, std::string>;

inline FieldMap Fields(const qs_launcher::ArgsParser &args) {
  const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
  return {
      {"deviceId_", std::to_string(args.deviceId_)},
      {"hostPid_", std::to_string(args.hostPid_)},
      {"pidSign_", args.pidSign_},
      {"vfId_", std::to_string(args.vfId_)},
      {"logLevel_", std::to_string(args.logLevel_)},
      {"eventLevel_", std::to_string(args.eventLevel_)},
      {"vexorLogLevel_", std::to_string(args.vexorLogLevel_)},
      {"deployMode_", std::to_string(args.deployMode_)},
      {"reschedInterval_", std::to_string(args.reschedInterval_)},
      {"groupName_", args.groupName_},
      {"schedPolicy_", std::to_string(args.schedPolicy_)},
      {"starter_", std::to_string(args.starter_)},
      {"profCfgData_", args.profCfgData_},
      {"abnormalInterval_", std::to_string(args.abnormalInterval_)},
      {"resIds_", Join(args.resIds_)},
      {"devIds_", Join(args.devIds_)},
      {"profFlag_", flag(args.profFlag_)},
      {"withDeviceId_", flag(args.withDeviceId_)},
      {"withHostPid_", flag(args.withHostPid_)},
      {"withPidSign_", flag(args.withPidSign_)},
      {"withVfId_", flag(args.withVfId_)},
      {"withLogLevel_", flag(args.withLogLevel_)},
      {"withGroupName_", flag(args.withGroupName_)},
      {"withStarter_", flag(args.withStarter_)},
  };
}

// The defaults with the fields of "name=value;name=value" replaced.
inline FieldMap DefaultsWith(const std::string &changes) {
  const qs_launcher::ArgsParser defaults;
  FieldMap fields = Fields(defaults);
  std::string::size_type begin = 0;
  while (begin < changes.size()) {
    std::string::size_type end = changes.find(';', begin);
    end = end == std::string::npos ? changes.size() : end;
    const std::string item = changes.substr(begin, end - begin);
    const std::string::size_type equals = item.find('=');
    fields.at(item.substr(0, equals)) = item.substr(equals + 1);
    begin = end + 1;
  }
  return fields;
}

// Sets (or, with nullopt, removes) an environment variable for the guard's lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const std::optional<std::string> &value) : name_(name) {
    if (const char *old = std::getenv(name)) {
      old_ = old;
    }
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }

  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  void Apply(const std::optional<std::string> &value) {
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

  std::string name_;
  std::optional<std::string> old_;
};

// Runs the driver with a program path in front of args. The queue scheduler refuses to start,
// so the run ends after the start-up part instead of waiting for SIGTERM.
inline int RunDriverUntilStart(const std::vector<std::string> &args) {
  test_doubles::answers().initResult = 1;
  return unit::RunDriver(args);
}

}  // namespace args_test

#endif  // QS_TESTS_UNIT_ARGS_TEST_SUPPORT_H_
