// The scheduler plug-in libvexor_scheduler.so: opened once at start-up, its two entry points
// registered, its stop entry point called at shutdown before the library is closed. A missing
// or incomplete plug-in is only logged; start-up goes on without it.
#ifndef QS_SRC_MAIN_PLUGIN_LOADER_H_
#define QS_SRC_MAIN_PLUGIN_LOADER_H_

#include <cstdint>

#include "vexor_scheduler_module.h"

namespace qs_launcher {

// A bare file name: the system's loader searches its usual places.
inline constexpr char kSchedulerSoName[] = "libvexor_scheduler.so";

// Opens the plug-in and registers both entry points; leaves it open only when all succeeded.
void RegVexorSchedulerModuleCallBack();
// Calls the plug-in's stop entry point with the stop record, then closes the library.
void StopVexorSubModuleInQs(uint32_t deviceId, uint32_t hostPid, uint32_t vfId);
// Closes the library if it is open.
void CloseSchedulerSo();

// True while the plug-in library is open.
bool SchedulerSoLoaded();

// The 128-byte record handed to the stop entry point; the vf id keeps its low 8 bits.
SchedulerModuleStopParams MakeStopParams(uint32_t deviceId, uint32_t hostPid, uint32_t vfId);

}  // namespace qs_launcher

#endif  // QS_SRC_MAIN_PLUGIN_LOADER_H_
