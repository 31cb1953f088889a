#include "doubles/recorder.h"
#include "main/deployment_hooks.h"

namespace qs_launcher {

int32_t IsHostSide() {
  test_doubles::AddCall("IsHostSide");
  return test_doubles::answers().isHostSide;
}

int32_t WaitDeviceShutdown(uint32_t, uint32_t, uint32_t, uint32_t) {
  test_doubles::AddCall("WaitDeviceShutdown");
  return test_doubles::answers().waitDeviceShutdownResult;
}

int32_t SendErrorCode(uint32_t deviceId, uint32_t tsdType, uint32_t hostPid, uint32_t vfId,
                      const char *errorCode, uint32_t errorCodeLength) {
  test_doubles::AddSendErrorCode(
      {deviceId, tsdType, hostPid, vfId, std::string(errorCode), errorCodeLength});
  return 0;
}

int32_t RegisterModuleCallBack(const ModuleCallBackEntry *entry) {
  test_doubles::AddCall("RegisterModuleCallBack:" + std::to_string(entry->callbackId_));
  const test_doubles::Answers &answers = test_doubles::answers();
  return entry->callbackId_ == kStartModuleCallBackId ? answers.registerResult30
                                                      : answers.registerResult34;
}

void UnregisterModuleCallBack(int32_t callbackId) {
  test_doubles::AddCall("UnregisterModuleCallBack:" + std::to_string(callbackId));
}

}  // namespace qs_launcher
