#ifndef QS_SRC_MAIN_INIT_QS_PARAMS_H_
#define QS_SRC_MAIN_INIT_QS_PARAMS_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "qs_args_parser/args_parser.h"
#include "queue_schedule_interface.h"

namespace qs_launcher {

// Owns a start record whose every byte, padding included, is zero before its members are
// constructed: the record crosses into the queue-scheduler library byte for byte.
class ZeroedInitQsParams {
 public:
  ZeroedInitQsParams();
  ~ZeroedInitQsParams();

  ZeroedInitQsParams(const ZeroedInitQsParams &) = delete;
  ZeroedInitQsParams &operator=(const ZeroedInitQsParams &) = delete;

  bqs::InitQsParams &Get() { return *params_; }

  // Takes the record from its owner without destroying it: it stays alive, reachable from a
  // process-wide list, until the process exits.
  static void KeepUntilExit(std::unique_ptr<ZeroedInitQsParams> record) noexcept;

 private:
  alignas(bqs::InitQsParams) unsigned char storage_[sizeof(bqs::InitQsParams)];
  bqs::InitQsParams *params_;
  ZeroedInitQsParams *nextKept_ = nullptr;
};

// After InitQueueScheduler has returned 0, and until Destroy() has returned, the queue
// scheduler's threads may read the start record through their reference. A non-zero start result
// means nothing of the scheduler runs: that path calls no Destroy() and frees the record as usual.
// An exception thrown by InitQueueScheduler (which may have started threads first) or later ends
// main without Destroy(), and those threads may run on until the process exits: the record must
// outlive main. While this guard is in scope, an exception that unwinds past it keeps the owner's
// record until exit; leaving the scope normally changes nothing and the owner releases it.
class KeepStartRecordOnUnwind {
 public:
  explicit KeepStartRecordOnUnwind(std::unique_ptr<ZeroedInitQsParams> &owner);
  ~KeepStartRecordOnUnwind();

  KeepStartRecordOnUnwind(const KeepStartRecordOnUnwind &) = delete;
  KeepStartRecordOnUnwind &operator=(const KeepStartRecordOnUnwind &) = delete;

 private:
  std::unique_ptr<ZeroedInitQsParams> &owner_;
  const int uncaughtAtEntry_;
};

// Fills a freshly zeroed record from the effective device id, the host pid, the vf id, the
// caller's copy of the resource-id list and the launch parameters. Validates nothing.
void FillInitQsParams(bqs::InitQsParams &params, uint32_t deviceId, uint32_t hostPid, uint32_t vfId,
                      std::vector<uint32_t> resIds, const ArgsParser &args);

}  // namespace qs_launcher

#endif  // QS_SRC_MAIN_INIT_QS_PARAMS_H_
