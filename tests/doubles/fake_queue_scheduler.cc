#include <cstring>
#include <stdexcept>

#include "doubles/recorder.h"
#include "queue_schedule_interface.h"

namespace bqs {

QueueScheduleInterface &QueueScheduleInterface::GetInstance() {
  static QueueScheduleInterface instance;
  test_doubles::AddCall("GetInstance");
  return instance;
}

int32_t QueueScheduleInterface::InitQueueScheduler(const InitQsParams &params) {
  test_doubles::AddCall("InitQueueScheduler");
  unsigned char bytes[sizeof(InitQsParams)];
  std::memcpy(bytes, static_cast<const void *>(&params), sizeof(bytes));
  test_doubles::SetInitParams(
      &params, bytes, {params.pidSign_, params.groupName_, params.profCfgData_, params.devIds_});
  const test_doubles::Answers &answers = test_doubles::answers();
  if (answers.onInit) {
    answers.onInit();
  }
  if (answers.initThrows) {
    throw std::runtime_error("queue scheduler failure");
  }
  return answers.initResult;
}

int32_t QueueScheduleInterface::WaitForStop() {
  test_doubles::AddCall("WaitForStop");
  if (test_doubles::answers().waitForStopThrows) {
    throw std::runtime_error("queue scheduler failure");
  }
  return 0;
}

void QueueScheduleInterface::Destroy() const { test_doubles::AddCall("Destroy"); }

bool BindCpuUtils::AddToCgroup(uint32_t, uint32_t) {
  test_doubles::AddCall("AddToCgroup");
  return test_doubles::answers().addToCgroupResult;
}

}  // namespace bqs
