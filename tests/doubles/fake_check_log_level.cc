#include "doubles/recorder.h"

extern "C" int CheckLogLevel(int moduleId, int level) {
  test_doubles::AddCheck({moduleId, level});
  const test_doubles::Answers &answers = test_doubles::answers();
  if (answers.checkLogLevel) {
    return answers.checkLogLevel(moduleId, level);
  }
  return level >= answers.logThreshold ? answers.checkAnswer : 0;
}
