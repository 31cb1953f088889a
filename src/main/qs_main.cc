// qs_launcher: starts the queue scheduler for one device and host process, waits for SIGTERM,
// stops everything in a fixed order. Exit status 0 after a clean run, 255 after any failure.
// Every diagnostic is a record handed to the device log library; nothing goes to stdout/stderr.
#include <cstdint>
#include <memory>
#include <vector>

#include "bqs_log/bqs_log.h"
#include "deployment/deployment_hooks.h"
#include "main/error_report.h"
#include "main/init_qs_params.h"
#include "main/plugin_loader.h"
#include "main/shutdown_wait.h"
#include "qs_args_parser/args_parser.h"
#include "queue_schedule_interface.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;  // the parent sees 255

// Every step after parsing serves the first resource id when there is one.
uint32_t EffectiveDeviceId(uint32_t parsedDeviceId, const std::vector<uint32_t> &resIds) {
  return resIds.empty() ? parsedDeviceId : resIds.front();
}

}  // namespace

// Records are written here, in main itself, so that they name it. Everything a run builds is a
// local of the try block: on every way out, exceptions included, it is released newest first,
// but for a start record that the queue scheduler may still read when an exception strikes.
int main(int argc, char *argv[]) {
  using namespace qs_launcher;
  try {
    BQS_RUN_LOG_INFO("QueueSchedule begin");
    ArgsParser args;
    if (!args.ParseArgs(argc, argv)) {
      BQS_LOG_ERROR("Parse args failed");
      return kExitFailure;
    }
    BQS_RUN_LOG_INFO("Start parameter. %s", args.GetParasSummary().c_str());
    if (!args.withLogLevel_) {
      args.SetLogLevelWithEnv();
    }

    const std::vector<uint32_t> resIds = args.resIds_;
    BQS_RUN_LOG_INFO("resVec size is %zu", resIds.size());
    const uint32_t deviceId = EffectiveDeviceId(args.deviceId_, resIds);
    const uint32_t hostPid = args.hostPid_;
    const uint32_t vfId = args.vfId_;

    if (IsHostSide() == 0 && !bqs::BindCpuUtils::AddToCgroup(deviceId, vfId)) {
      return kExitFailure;
    }
    RegVexorSchedulerModuleCallBack();
    bqs::QueueScheduleInterface &scheduler = bqs::QueueScheduleInterface::GetInstance();

    // Stays alive, unchanged, until Destroy() has returned, or until the failed start's return;
    // if an exception ends the run after InitQueueScheduler was called, until the process exits.
    auto params = std::make_unique<ZeroedInitQsParams>();
    FillInitQsParams(params->Get(), deviceId, hostPid, vfId, resIds, args);
    const KeepStartRecordOnUnwind keepWhileSchedulerMayRun(params);
    const int32_t startResult = scheduler.InitQueueScheduler(params->Get());
    if (startResult != 0) {
      BQS_LOG_ERROR("QueueSchedule start failed, ret=%d .", startResult);
      ReportErrorMsg(startResult, deviceId, static_cast<int32_t>(hostPid), vfId);
      CloseSchedulerSo();
      return kExitFailure;
    }
    BQS_RUN_LOG_INFO("QueueSchedule start success");

    int exitStatus = kExitSuccess;
    const int32_t waitStatus = WaitForShutdownRequest(args.starter_, deviceId, hostPid, vfId);
    if (waitStatus == 0) {
      BQS_LOG_INFO("Tsd wait for shut down success");
    } else {
      BQS_LOG_ERROR("Tsd wait for shut down return not ok, error code[%d].", waitStatus);
      exitStatus = kExitFailure;
    }

    StopVexorSubModuleInQs(deviceId, hostPid, vfId);
    (void)scheduler.WaitForStop();
    scheduler.Destroy();
    BQS_RUN_LOG_INFO("QueueSchedule exit");
    return exitStatus;
  } catch (...) {
    BQS_LOG_ERROR("QueueSchedule run exception.");
    return kExitFailure;
  }
}
