// What the launcher hands to the scheduler plug-in (libvexor_scheduler.so).
#ifndef QS_EXTERNAL_INCLUDE_VEXOR_SCHEDULER_MODULE_H_
#define QS_EXTERNAL_INCLUDE_VEXOR_SCHEDULER_MODULE_H_

#include <cstddef>
#include <cstdint>

// 128 bytes, little-endian, every reserved byte zero.
struct SchedulerModuleStopParams {
  uint32_t deviceId_;
  uint8_t reserved1_[8];
  uint32_t hostPid_;
  uint8_t vfId_;  // low 8 bits of the vf id
  uint8_t reserved2_[111];
};

static_assert(sizeof(SchedulerModuleStopParams) == 128, "stop record must be 128 bytes");
static_assert(offsetof(SchedulerModuleStopParams, deviceId_) == 0);
static_assert(offsetof(SchedulerModuleStopParams, hostPid_) == 12);
static_assert(offsetof(SchedulerModuleStopParams, vfId_) == 16);
static_assert(offsetof(SchedulerModuleStopParams, reserved2_) == 17);

// Entry points the plug-in exports with C linkage. The launcher never calls the start entry
// point, so its signature is the plug-in's business.
using StopVexorSchedulerModuleFunc = int32_t (*)(SchedulerModuleStopParams *params);

#endif  // QS_EXTERNAL_INCLUDE_VEXOR_SCHEDULER_MODULE_H_
