// Example scheduler plug-in (libvexor_scheduler.so), an outside component: it exports the two
// entry points the launcher looks for and logs what its stop entry point receives.
#include <cstdint>

#include "dlog_pub.h"
#include "vexor_scheduler_module.h"

#pragma weak CheckLogLevel
#pragma weak DlogRecord

namespace {

constexpr int kPluginModule = 21;
constexpr int kLevelInfo = 1;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t StartVexorSchedulerModule(void *) { return 0; }

__attribute__((visibility("default"))) int32_t StopVexorSchedulerModule(
    SchedulerModuleStopParams *params) {
  if (params != nullptr && CheckLogLevel != nullptr && DlogRecord != nullptr &&
      CheckLogLevel(kPluginModule, kLevelInfo) == 1) {
    DlogRecord(kPluginModule, kLevelInfo,
               "sample scheduler plug-in: stopped deviceId=%u hostPid=%u vfId=%u",
               params->deviceId_, params->hostPid_, static_cast<unsigned>(params->vfId_));
  }
  return 0;
}

}  // extern "C"
