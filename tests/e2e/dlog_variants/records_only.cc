// A device log library with the two record functions only.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "dlog_pub.h"

extern "C" int CheckLogLevel(int, int level) { return level >= 1 ? 1 : 0; }

extern "C" void DlogRecord(int, int, const char *fmt, ...) {
  FILE *out = std::fopen(std::getenv("DLOG_STANDIN_FILE"), "a");
  if (out == nullptr) {
    return;
  }
  va_list args;
  va_start(args, fmt);
  std::vfprintf(out, fmt, args);
  va_end(args);
  std::fputc('\n', out);
  std::fclose(out);
}
