#include "main/plugin_loader.h"

#include <dlfcn.h>

#include <cstring>

#include "bqs_log/bqs_log.h"
#include "deployment/deployment_hooks.h"

namespace qs_launcher {
namespace {

constexpr char kStartEntryName[] = "StartVexorSchedulerModule";
constexpr char kStopEntryName[] = "StopVexorSchedulerModule";

// The only state the loader keeps: entry points are looked up again when needed.
void *g_schedulerSoHandle = nullptr;

// Hands one entry point to the registry; true when it was registered.
bool RegisterEntry(int32_t callbackId, void *entry) {
  // Every byte zeroed first, so the padding after the id reaches the registry as zeros too.
  // Value-initialisation is not enough: gcc -O2 turns it into stores of the members alone.
  ModuleCallBackEntry callback;
  std::memset(&callback, 0, sizeof(callback));
  callback.callbackId_ = callbackId;
  callback.entry_ = entry;
  return RegisterModuleCallBack(&callback) == 0;
}

}  // namespace

// Every record is written here rather than in a helper, so that each names this function. A
// load that fails after the open closes the library again; only id 30 can have been registered
// by then, and it is withdrawn.
void RegVexorSchedulerModuleCallBack() {
  // RTLD_LAZY alone: the plug-in's symbols stay local to it.
  g_schedulerSoHandle = dlopen(kSchedulerSoName, RTLD_LAZY);
  if (g_schedulerSoHandle == nullptr) {
    BQS_LOG_WARN("cannot open so %s", kSchedulerSoName);
    return;
  }
  void *startEntry = dlsym(g_schedulerSoHandle, kStartEntryName);
  if (startEntry == nullptr) {
    BQS_LOG_ERROR("cannot find StartVexorSchedulerModule");
    CloseSchedulerSo();
    return;
  }
  if (!RegisterEntry(kStartModuleCallBackId, startEntry)) {
    BQS_LOG_ERROR("reg StartVexorSchedulerModule failed");
    CloseSchedulerSo();
    return;
  }
  void *stopEntry = dlsym(g_schedulerSoHandle, kStopEntryName);
  if (stopEntry == nullptr) {
    UnregisterModuleCallBack(kStartModuleCallBackId);
    BQS_LOG_ERROR("cannot find StopVexorSchedulerModule");
    CloseSchedulerSo();
    return;
  }
  if (!RegisterEntry(kStopModuleCallBackId, stopEntry)) {
    UnregisterModuleCallBack(kStartModuleCallBackId);
    BQS_LOG_ERROR("reg StopVexorSchedulerModule failed");
    CloseSchedulerSo();
    return;
  }
  BQS_RUN_LOG_INFO("RegVexorSchedulerModuleCallBack success");
}

SchedulerModuleStopParams MakeStopParams(uint32_t deviceId, uint32_t hostPid, uint32_t vfId) {
  SchedulerModuleStopParams params{};
  params.deviceId_ = deviceId;
  params.hostPid_ = hostPid;
  params.vfId_ = static_cast<uint8_t>(vfId & 0xFFU);
  return params;
}

void StopVexorSubModuleInQs(uint32_t deviceId, uint32_t hostPid, uint32_t vfId) {
  if (g_schedulerSoHandle == nullptr) {
    BQS_LOG_WARN("cannot open so %s .", kSchedulerSoName);
    return;
  }
  SchedulerModuleStopParams params = MakeStopParams(deviceId, hostPid, vfId);
  const auto stopEntry =
      reinterpret_cast<StopVexorSchedulerModuleFunc>(dlsym(g_schedulerSoHandle, kStopEntryName));
  if (stopEntry == nullptr) {
    BQS_LOG_ERROR("cannot find StopVexorSchedulerModule");
  } else if (stopEntry(&params) != 0) {
    BQS_LOG_ERROR("StopVexorSchedulerModule fail");
  }
  CloseSchedulerSo();
}

void CloseSchedulerSo() {
  if (g_schedulerSoHandle != nullptr) {
    (void)dlclose(g_schedulerSoHandle);
    g_schedulerSoHandle = nullptr;
  }
}

bool SchedulerSoLoaded() { return g_schedulerSoHandle != nullptr; }

}  // namespace qs_launcher
