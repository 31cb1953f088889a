#include <cstdarg>
#include <cstdio>
#include <string>

#include "doubles/recorder.h"

// Really formats every record, so a format/argument mismatch shows up in the sanitizers.
extern "C" void DlogRecord(int moduleId, int level, const char *fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, fmt, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  std::vsnprintf(&text[0], text.size(), fmt, args);
  va_end(args);
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);

  const std::string::size_type prefixEnd = text.find("] ");
  std::string message = prefixEnd == std::string::npos ? text : text.substr(prefixEnd + 2);
  test_doubles::AddRecord({moduleId, level, fmt, text, std::move(message)});
}
