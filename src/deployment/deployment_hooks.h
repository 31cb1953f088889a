// Deployment hooks: small functions whose answers tell host side from device side, and the
// plug-in callback registry. This build is the host side and the answers are fixed; tests link
// recording doubles in their place.
#ifndef QS_SRC_DEPLOYMENT_DEPLOYMENT_HOOKS_H_
#define QS_SRC_DEPLOYMENT_DEPLOYMENT_HOOKS_H_

#include <cstdint>

namespace qs_launcher {

// 1: host-side deployment, 0: device side.
int32_t IsHostSide();

// 0: the device side reached shutdown normally; anything else is an error code.
int32_t WaitDeviceShutdown(uint32_t deviceId, uint32_t tsdType, uint32_t hostPid, uint32_t vfId);

// Hands an error-message code to whoever reports start failures. The result is ignored.
int32_t SendErrorCode(uint32_t deviceId, uint32_t tsdType, uint32_t hostPid, uint32_t vfId,
                      const char *errorCode, uint32_t errorCodeLength);

// The tsd type that the device-side wait and the error report receive.
constexpr uint32_t kTsdType = 3;

struct ModuleCallBackEntry {
  int32_t callbackId_;
  void *entry_;
};

constexpr int32_t kStartModuleCallBackId = 30;
constexpr int32_t kStopModuleCallBackId = 34;

// 0: registered.
int32_t RegisterModuleCallBack(const ModuleCallBackEntry *entry);
void UnregisterModuleCallBack(int32_t callbackId);

}  // namespace qs_launcher

#endif  // QS_SRC_DEPLOYMENT_DEPLOYMENT_HOOKS_H_
