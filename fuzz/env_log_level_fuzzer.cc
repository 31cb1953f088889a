// Arbitrary texts for KORVEL_GLOBAL_LOG_LEVEL and KORVEL_GLOBAL_EVENT_ENABLE. The input up to
// its first NUL byte is the level text and the text after it (up to the next NUL) the event
// text; an empty input leaves both variables unset, an input without a NUL the event one.
// GetEnv must hand each text over unchanged, and SetLogLevelWithEnv must pass dlog_setlevel the
// levels that strtol reads from them, or the defaults 3 and 1.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "doubles/recorder.h"
#include "main/env_log_level.h"
#include "qs_args_parser/args_parser.h"

namespace {

// Longer texts are cut to this; the GetEnv length limit far above it is left to the unit tests.
constexpr size_t kMaxValueLength = 1 << 16;

void Require(bool holds, const char *what) {
  if (!holds) {
    std::fprintf(stderr, "env log level fuzzer: %s\n", what);
    std::abort();
  }
}

// glibc's setenv keeps every distinct value it was ever given until the process ends, which a
// long fuzzing run reports as running out of memory. putenv of one buffer per variable, sized
// once and never moved, keeps nothing.
class EnvVariable {
 public:
  explicit EnvVariable(const char *name)
      : name_(name), buffer_(name_.size() + 1 + kMaxValueLength + 1, '\0') {
    std::memcpy(buffer_.data(), name_.data(), name_.size());
    buffer_[name_.size()] = '=';
  }

  void Set(const std::string &value) {
    char *text = buffer_.data() + name_.size() + 1;
    std::memcpy(text, value.data(), value.size());
    text[value.size()] = '\0';
    Require(putenv(buffer_.data()) == 0, "putenv failed");
  }

  void Unset() { Require(unsetenv(name_.c_str()) == 0, "unsetenv failed"); }

 private:
  const std::string name_;
  std::vector<char> buffer_;
};

void Apply(EnvVariable &variable, const std::optional<std::string> &value) {
  if (value) {
    variable.Set(*value);
  } else {
    variable.Unset();
  }
}

// The conversion rules restated with strtol: no digit, or a number outside the int range,
// gives the default.
int32_t Expected(const std::optional<std::string> &text, int32_t fallback) {
  if (!text) {
    return fallback;
  }
  const int savedErrno = errno;
  errno = 0;
  char *end = nullptr;
  const long value = std::strtol(text->c_str(), &end, 10);
  const bool converted =
      end != text->c_str() && errno != ERANGE && value >= INT32_MIN && value <= INT32_MAX;
  errno = savedErrno;
  return converted ? static_cast<int32_t>(value) : fallback;
}

// The value GetEnv leaves in a string that held sentinel.
std::string ThroughGetEnv(const char *name, const std::string &sentinel) {
  std::string value = sentinel;
  qs_launcher::GetEnv(name, value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static EnvVariable levelVariable(qs_launcher::kEnvLogLevel);
  static EnvVariable eventVariable(qs_launcher::kEnvEventEnable);
  const std::string input(reinterpret_cast<const char *>(data),
                          size < kMaxValueLength ? size : kMaxValueLength);
  std::optional<std::string> levelText;
  std::optional<std::string> eventText;
  if (!input.empty()) {
    const size_t levelEnd = input.find('\0');
    levelText = input.substr(0, levelEnd);
    if (levelEnd != std::string::npos) {
      eventText = std::string(input.c_str() + levelEnd + 1);
    }
  }
  Apply(levelVariable, levelText);
  Apply(eventVariable, eventText);

  const std::string sentinel = "\x01untouched";
  Require(ThroughGetEnv(qs_launcher::kEnvLogLevel, sentinel) == levelText.value_or(sentinel),
          "GetEnv changed the level text");
  Require(ThroughGetEnv(qs_launcher::kEnvEventEnable, sentinel) == eventText.value_or(sentinel),
          "GetEnv changed the event text");

  test_doubles::Reset();  // every answer 1: each record is formatted
  qs_launcher::ArgsParser parser;
  parser.SetLogLevelWithEnv();
  const auto calls = test_doubles::SetLevelCalls();
  Require(calls.size() == 1 && calls[0].module == -1, "not one global level call");
  Require(calls[0].level == Expected(levelText, 3), "wrong level");
  Require(calls[0].enableEvent == Expected(eventText, 1), "wrong event level");
  Require(test_doubles::AttrCalls().size() == 1, "not one attribute record");
  // The info record, and one warning for each variable that is not set.
  const size_t missing = (levelText ? 0 : 1) + (eventText ? 0 : 1);
  Require(test_doubles::Records().size() == 1 + missing, "wrong number of records");
  Require(parser.logLevel_ == 3 && parser.eventLevel_ == 1,
          "environment levels were stored in the record");
  return 0;
}
