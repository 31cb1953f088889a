// How the test plug-in variants report back: the plug-in test binary defines and exports these,
// and a variant calls them from its stop entry point and when it is unloaded.
#ifndef QS_TESTS_PLUGIN_VARIANT_PROBE_H_
#define QS_TESTS_PLUGIN_VARIANT_PROBE_H_

#include "vexor_scheduler_module.h"

extern "C" {

// The stop entry point ran with this record.
void PluginVariantStopped(const SchedulerModuleStopParams *params);

// The variant's library is being unloaded (its destructor runs).
void PluginVariantUnloaded();

}  // extern "C"

#endif  // QS_TESTS_PLUGIN_VARIANT_PROBE_H_
