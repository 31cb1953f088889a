#include "deployment/deployment_hooks.h"

namespace qs_launcher {

int32_t IsHostSide() { return 1; }

int32_t WaitDeviceShutdown(uint32_t, uint32_t, uint32_t, uint32_t) { return 0; }

int32_t SendErrorCode(uint32_t, uint32_t, uint32_t, uint32_t, const char *, uint32_t) { return 0; }

// The host side keeps no registry: entries are accepted and forgotten.
int32_t RegisterModuleCallBack(const ModuleCallBackEntry *) { return 0; }

void UnregisterModuleCallBack(int32_t) {}

}  // namespace qs_launcher
