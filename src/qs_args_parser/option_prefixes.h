// The launch options. Each prefix includes its "=": the option table is keyed by it and the
// required-option check names it, so each is spelled here only.
#ifndef QS_SRC_QS_ARGS_PARSER_OPTION_PREFIXES_H_
#define QS_SRC_QS_ARGS_PARSER_OPTION_PREFIXES_H_

namespace qs_launcher {

inline constexpr char kDeviceIdPrefix[] = "--deviceId=";
inline constexpr char kHostPidPrefix[] = "--pid=";
inline constexpr char kPidSignPrefix[] = "--pidSign=";
inline constexpr char kVfIdPrefix[] = "--vfId=";
inline constexpr char kLogLevelPrefix[] = "--logLevelInPid=";
inline constexpr char kVexorLogLevelPrefix[] = "--vexorLogLevel=";
inline constexpr char kDeployModePrefix[] = "--deployMode=";
inline constexpr char kReschedIntervalPrefix[] = "--reschedInterval=";
inline constexpr char kGroupNamePrefix[] = "--qsInitGroupName=";
inline constexpr char kSchedPolicyPrefix[] = "--schedPolicy=";
inline constexpr char kStarterPrefix[] = "--starter=";
inline constexpr char kProfCfgDataPrefix[] = "--profCfgData=";
inline constexpr char kProfFlagPrefix[] = "--profFlag=";
inline constexpr char kAbnormalIntervalPrefix[] = "--abnormalInterval=";
inline constexpr char kResIdsPrefix[] = "--resIds=";
inline constexpr char kDevIdsPrefix[] = "--devIds=";

}  // namespace qs_launcher

#endif  // QS_SRC_QS_ARGS_PARSER_OPTION_PREFIXES_H_
