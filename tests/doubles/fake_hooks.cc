#include <algorithm>
#include <cstddef>
#include <cstring>

#include "deployment/deployment_hooks.h"
#include "doubles/recorder.h"

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
  // The entry crosses into the registry byte for byte: its padding must be zero too.
  unsigned char bytes[sizeof(ModuleCallBackEntry)];
  std::memcpy(bytes, static_cast<const void *>(entry), sizeof(bytes));
  const bool paddingZero =
      std::all_of(bytes + sizeof(entry->callbackId_), bytes + offsetof(ModuleCallBackEntry, entry_),
                  [](unsigned char byte) { return byte == 0; });
  test_doubles::AddCall("RegisterModuleCallBack:" + std::to_string(entry->callbackId_) +
                        (paddingZero ? "" : " with undefined padding"));
  const test_doubles::Answers &answers = test_doubles::answers();
  return entry->callbackId_ == kStartModuleCallBackId ? answers.registerResult30
                                                      : answers.registerResult34;
}

void UnregisterModuleCallBack(int32_t callbackId) {
  test_doubles::AddCall("UnregisterModuleCallBack:" + std::to_string(callbackId));
}

}  // namespace qs_launcher
