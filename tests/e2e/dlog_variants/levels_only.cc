// A device log library with the two level functions only; it notes each call.
#include <cstdio>
#include <cstdlib>

#include "dlog_pub.h"

namespace {

void Note(const char *what, int a, int b, int c) {
  FILE *out = std::fopen(std::getenv("DLOG_STANDIN_FILE"), "a");
  if (out != nullptr) {
    std::fprintf(out, "%s %d %d %d\n", what, a, b, c);
    std::fclose(out);
  }
}

}  // namespace

extern "C" int dlog_setlevel(int moduleId, int level, int enableEvent) {
  Note("dlog_setlevel", moduleId, level, enableEvent);
  return 0;
}

extern "C" int DlogSetAttr(LogAttr attr) {
  Note("DlogSetAttr", static_cast<int>(attr.type), static_cast<int>(attr.pid),
       static_cast<int>(attr.deviceId));
  return 0;
}
