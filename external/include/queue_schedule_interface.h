// Interface of the closed queue-scheduler library. The start record's layout is shared with the
// library, so every field keeps its width and offset.
#ifndef QS_EXTERNAL_INCLUDE_QUEUE_SCHEDULE_INTERFACE_H_
#define QS_EXTERNAL_INCLUDE_QUEUE_SCHEDULE_INTERFACE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bqs {

// 128 bytes, little-endian. Strings are one pointer wide, so this header needs
// -D_GLIBCXX_USE_CXX11_ABI=0 (see the static_asserts below).
struct InitQsParams {
  uint32_t deviceId_;
  int32_t fixedParam1_;
  int32_t fixedParam2_;
  int32_t reschedInterval_;
  uint32_t deployMode_;
  uint32_t hostPid_;
  uint32_t vfId_;
  std::string pidSign_;
  std::string groupName_;
  uint64_t schedPolicy_;
  uint32_t starter_;
  std::string profCfgData_;
  int32_t abnormalInterval_;
  bool profFlag_;
  int32_t fixedParam3_;
  int32_t fixedParam4_;
  uint32_t otherDeviceId_;
  bool withOtherDevice_;
  std::vector<uint32_t> devIds_;
  bool fixedFlag_;
};

static_assert(sizeof(std::string) == 8, "build with -D_GLIBCXX_USE_CXX11_ABI=0");
static_assert(sizeof(std::vector<uint32_t>) == 24, "unexpected std::vector layout");
static_assert(sizeof(InitQsParams) == 128, "InitQsParams must be 128 bytes");
static_assert(offsetof(InitQsParams, deviceId_) == 0);
static_assert(offsetof(InitQsParams, fixedParam1_) == 4);
static_assert(offsetof(InitQsParams, fixedParam2_) == 8);
static_assert(offsetof(InitQsParams, reschedInterval_) == 12);
static_assert(offsetof(InitQsParams, deployMode_) == 16);
static_assert(offsetof(InitQsParams, hostPid_) == 20);
static_assert(offsetof(InitQsParams, vfId_) == 24);
static_assert(offsetof(InitQsParams, pidSign_) == 32);
static_assert(offsetof(InitQsParams, groupName_) == 40);
static_assert(offsetof(InitQsParams, schedPolicy_) == 48);
static_assert(offsetof(InitQsParams, starter_) == 56);
static_assert(offsetof(InitQsParams, profCfgData_) == 64);
static_assert(offsetof(InitQsParams, abnormalInterval_) == 72);
static_assert(offsetof(InitQsParams, profFlag_) == 76);
static_assert(offsetof(InitQsParams, fixedParam3_) == 80);
static_assert(offsetof(InitQsParams, fixedParam4_) == 84);
static_assert(offsetof(InitQsParams, otherDeviceId_) == 88);
static_assert(offsetof(InitQsParams, withOtherDevice_) == 92);
static_assert(offsetof(InitQsParams, devIds_) == 96);
static_assert(offsetof(InitQsParams, fixedFlag_) == 120);

class QueueScheduleInterface {
 public:
  static QueueScheduleInterface &GetInstance();
  // 0: the queue scheduler runs; anything else is a failure code.
  int32_t InitQueueScheduler(const InitQsParams &params);
  // Returns once the queue scheduler has stopped.
  int32_t WaitForStop();
  void Destroy() const;

  QueueScheduleInterface(const QueueScheduleInterface &) = delete;
  QueueScheduleInterface &operator=(const QueueScheduleInterface &) = delete;

 private:
  QueueScheduleInterface() = default;
  ~QueueScheduleInterface() = default;
};

class BindCpuUtils {
 public:
  // True once the process has joined the device's control group.
  static bool AddToCgroup(uint32_t deviceId, uint32_t vfId);
};

}  // namespace bqs

#endif  // QS_EXTERNAL_INCLUDE_QUEUE_SCHEDULE_INTERFACE_H_
