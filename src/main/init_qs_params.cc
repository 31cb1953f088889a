#include "main/init_qs_params.h"

#include <cstring>
#include <new>

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

}  // namespace

ZeroedInitQsParams::ZeroedInitQsParams() {
  std::memset(storage_, 0, sizeof(storage_));
  params_ = new (storage_) bqs::InitQsParams();
}

ZeroedInitQsParams::~ZeroedInitQsParams() { params_->~InitQsParams(); }

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
