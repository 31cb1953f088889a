#include "main/plugin_loader.h"

#include <dlfcn.h>

#include "bqs_log/bqs_log.h"
#include "main/deployment_hooks.h"

namespace qs_launcher {
namespace {

constexpr char kStartEntryName[] = "StartVexorSchedulerModule";
constexpr char kStopEntryName[] = "StopVexorSchedulerModule";

// The only state the loader keeps: entry points are looked up again when needed.
void *g_schedulerSoHandle = nullptr;

// Hands one entry point to the registry; true when it was registered.
bool RegisterEntry(int32_t callbackId, void *entry) {
  const ModuleCallBackEntry callback{callbackId, entry};
  return RegisterModuleCallBack(&callback) == 0;
}

// Steps of the load that can fail once the library is open; false means "close it again".
bool RegisterEntryPoints() {
  void *startEntry = dlsym(g_schedulerSoHandle, kStartEntryName);
  if (startEntry == nullptr) {
    BQS_LOG_ERROR("cannot find StartVexorSchedulerModule");
    return false;
  }
  if (!RegisterEntry(kStartModuleCallBackId, startEntry)) {
    BQS_LOG_ERROR("reg StartVexorSchedulerModule failed");
    return false;
  }
  void *stopEntry = dlsym(g_schedulerSoHandle, kStopEntryName);
  if (stopEntry == nullptr) {
    UnregisterModuleCallBack(kStartModuleCallBackId);
    BQS_LOG_ERROR("cannot find StopVexorSchedulerModule");
    return false;
  }
  if (!RegisterEntry(kStopModuleCallBackId, stopEntry)) {
    UnregisterModuleCallBack(kStartModuleCallBackId);
    BQS_LOG_ERROR("reg StopVexorSchedulerModule failed");
    return false;
  }
  return true;
}

}  // namespace

void RegVexorSchedulerModuleCallBack() {
  // RTLD_LAZY alone: the plug-in's symbols stay local to it.
  g_schedulerSoHandle = dlopen(kSchedulerSoName, RTLD_LAZY);
  if (g_schedulerSoHandle == nullptr) {
    BQS_LOG_WARN("cannot open so %s", kSchedulerSoName);
    return;
  }
  if (!RegisterEntryPoints()) {
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
