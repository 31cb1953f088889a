// Runs the driver's main, or any other argv-taking function, from a list of strings.
#ifndef QS_TESTS_UNIT_DRIVER_RUNNER_H_
#define QS_TESTS_UNIT_DRIVER_RUNNER_H_

#include <string>
#include <utility>
#include <vector>

// The driver's main, renamed for the test binaries (see tests/unit/CMakeLists.txt).
int QsLauncherMain(int argc, char *argv[]);

namespace unit {

// Calls function(argc, argv) with strings as a null-terminated argv.
template <typename Function>
auto CallWithArgv(std::vector<std::string> strings, Function function) {
  std::vector<char *> argv;
  for (std::string &text : strings) {
    argv.push_back(&text[0]);
  }
  argv.push_back(nullptr);
  return function(static_cast<int>(strings.size()), argv.data());
}

// Runs the driver with a program path in front of args.
inline int RunDriver(std::vector<std::string> args) {
  args.insert(args.begin(), "qs_launcher");
  return CallWithArgv(std::move(args), QsLauncherMain);
}

}  // namespace unit

#endif  // QS_TESTS_UNIT_DRIVER_RUNNER_H_
