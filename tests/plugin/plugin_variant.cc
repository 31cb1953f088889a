// A scheduler plug-in for the loader's tests, built in several variants: which entry points it
// exports and what its stop entry point returns are fixed at compile time.
#include <cstdint>

#include "plugin/variant_probe.h"
#include "vexor_scheduler_module.h"

// Defined nowhere. Only the start entry point calls it, and the launcher never calls that, so
// the variant opens only when the launcher asks for lazy binding.
extern "C" void VariantFunctionDefinedNowhere();

extern "C" {

#if VARIANT_HAS_START
__attribute__((visibility("default"))) int32_t StartVexorSchedulerModule(void *) {
  VariantFunctionDefinedNowhere();
  return 0;
}
#endif

#if VARIANT_HAS_STOP
__attribute__((visibility("default"))) int32_t StopVexorSchedulerModule(
    SchedulerModuleStopParams *params) {
  PluginVariantStopped(params);
  return VARIANT_STOP_RESULT;
}
#endif

}  // extern "C"

namespace {

// The mark that the library was really unloaded, not merely forgotten.
__attribute__((destructor)) void ReportUnload() { PluginVariantUnloaded(); }

}  // namespace
