// A device log library that wants no info or warning record and files nothing: the cost of the
// parser alone.
#include "dlog_pub.h"

extern "C" {

int CheckLogLevel(int /*moduleId*/, int /*level*/) { return 0; }
void DlogRecord(int /*moduleId*/, int /*level*/, const char* /*fmt*/, ...) {}
int dlog_setlevel(int /*moduleId*/, int /*level*/, int /*enableEvent*/) { return 0; }
int DlogSetAttr(LogAttr /*attr*/) { return 0; }

}  // extern "C"
