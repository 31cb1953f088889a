#include "main/init_qs_params.h"

#include <cstring>
#include <exception>
#include <new>
#include <utility>

namespace qs_launcher {
namespace {

constexpr int32_t kFixedParam1 = 5;
constexpr int32_t kFixedParam2 = 6;
constexpr int32_t kFixedParam3 = 8;
constexpr int32_t kFixedParam4 = 9;

// The other device of a list of two or more: the first id, or the second when the first is the
// device itself. Ids after the second play no part.
uint32_t OtherDeviceId(uint32_t deviceId, const std::vector<uint32_t> &resIds) {
  if (resIds.size() < 2) {
    return 0;
  }
  return resIds[0] == deviceId ? resIds[1] : resIds[0];
}

// Records kept until exit. A plain pointer, never destroyed, so static destruction cannot free a
// record either; the records stay reachable for leak checkers.
ZeroedInitQsParams *g_keptRecords = nullptr;

}  // namespace

ZeroedInitQsParams::ZeroedInitQsParams() {
  std::memset(storage_, 0, sizeof(storage_));
  params_ = new (storage_) bqs::InitQsParams();
}

ZeroedInitQsParams::~ZeroedInitQsParams() { params_->~InitQsParams(); }

void ZeroedInitQsParams::KeepUntilExit(std::unique_ptr<ZeroedInitQsParams> record) noexcept {
  if (record) {
    record->nextKept_ = g_keptRecords;
    g_keptRecords = record.release();
  }
}

KeepStartRecordOnUnwind::KeepStartRecordOnUnwind(std::unique_ptr<ZeroedInitQsParams> &owner)
    : owner_(owner), uncaughtAtEntry_(std::uncaught_exceptions()) {}

KeepStartRecordOnUnwind::~KeepStartRecordOnUnwind() {
  if (std::uncaught_exceptions() > uncaughtAtEntry_) {
    ZeroedInitQsParams::KeepUntilExit(std::move(owner_));
  }
}

void FillInitQsParams(bqs::InitQsParams &params, uint32_t deviceId, uint32_t hostPid,
                      // NOLINTNEXTLINE(performance-unnecessary-value-param): the caller's copy.
                      uint32_t vfId, std::vector<uint32_t> resIds, const ArgsParser &args) {
  params.deviceId_ = deviceId;
  params.fixedParam1_ = kFixedParam1;
  params.fixedParam2_ = kFixedParam2;
  params.reschedInterval_ = args.reschedInterval_;
  params.deployMode_ = args.deployMode_;
  params.hostPid_ = hostPid;
  params.vfId_ = vfId;
  params.pidSign_ = args.pidSign_;
  params.groupName_ = args.groupName_;
  params.schedPolicy_ = args.schedPolicy_;
  params.starter_ = args.starter_;
  params.profCfgData_ = args.profCfgData_;
  params.abnormalInterval_ = args.abnormalInterval_;
  params.profFlag_ = args.profFlag_;
  params.fixedParam3_ = kFixedParam3;
  params.fixedParam4_ = kFixedParam4;
  params.otherDeviceId_ = OtherDeviceId(deviceId, resIds);
  params.withOtherDevice_ = resIds.size() >= 2;
  params.devIds_ = args.devIds_;
  params.fixedFlag_ = true;
}

}  // namespace qs_launcher
