#ifndef QS_SRC_MAIN_ENV_LOG_LEVEL_H_
#define QS_SRC_MAIN_ENV_LOG_LEVEL_H_

#include <cstddef>
#include <string>

namespace qs_launcher {

inline constexpr char kEnvLogLevel[] = "KORVEL_GLOBAL_LOG_LEVEL";
inline constexpr char kEnvEventEnable[] = "KORVEL_GLOBAL_EVENT_ENABLE";
// A value this long or longer is refused.
inline constexpr std::size_t kEnvValueLengthLimit = 0x100000;

// Copies the variable's text into value; a missing or too long variable leaves value untouched
// and is reported with a warning.
void GetEnv(const char *name, std::string &value);

}  // namespace qs_launcher

#endif  // QS_SRC_MAIN_ENV_LOG_LEVEL_H_
