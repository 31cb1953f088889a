#include "doubles/recorder.h"

extern "C" int dlog_setlevel(int moduleId, int level, int enableEvent) {
  test_doubles::AddSetLevel({moduleId, level, enableEvent});
  return test_doubles::answers().setLevelResult;
}

extern "C" int DlogSetAttr(LogAttr attr) {
  test_doubles::AddAttr(attr);
  return test_doubles::answers().setAttrResult;
}
