// Log levels from the environment, used when no level option was accepted.
#include "main/env_log_level.h"

#include <cstdlib>
#include <cstring>

#include "bqs_log/bqs_log.h"
#include "qs_args_parser/args_parser.h"
#include "qs_args_parser/number_conversion.h"

namespace qs_launcher {
namespace {

constexpr int32_t kDefaultEnvLogLevel = 3;
constexpr int32_t kDefaultEnvEventLevel = 1;

}  // namespace

void GetEnv(const char *name, std::string &value) {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): read before any thread starts; nothing writes it.
  const char *text = std::getenv(name);
  const std::size_t length = text == nullptr ? 0 : strnlen(text, kEnvValueLengthLimit);
  if (text == nullptr || length == kEnvValueLengthLimit) {
    BQS_LOG_WARN("Get env[%s] failed.", name);
    return;
  }
  value.assign(text, length);
}

void ArgsParser::SetLogLevelWithEnv() {
  std::string levelText;
  std::string eventText;
  GetEnv(kEnvLogLevel, levelText);
  GetEnv(kEnvEventEnable, eventText);
  BQS_RUN_LOG_INFO("Set log with env, envLogLevel[%s], envEventLevel[%s]", levelText.c_str(),
                   eventText.c_str());
  // A text that does not convert keeps the default, silently; no range check is made.
  int32_t level = kDefaultEnvLogLevel;
  int32_t eventLevel = kDefaultEnvEventLevel;
  (void)ToInt32(levelText, level);
  (void)ToInt32(eventText, eventLevel);
  SetLogLevel(level, eventLevel);
}

}  // namespace qs_launcher
