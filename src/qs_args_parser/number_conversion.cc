#include "qs_args_parser/number_conversion.h"

#include <stdexcept>

namespace qs_launcher {

// std::invalid_argument (no digit) and std::out_of_range (too large) are both logic_errors;
// neither may leave a parse operation.
bool ToInt32(const std::string &text, int32_t &number) {
  try {
    number = std::stoi(text);
    return true;
  } catch (const std::logic_error &) {
    return false;
  }
}

bool ToUint64(const std::string &text, uint64_t &number) {
  try {
    number = std::stoull(text);
    return true;
  } catch (const std::logic_error &) {
    return false;
  }
}

}  // namespace qs_launcher
