// Launch arguments as the parent passes them: a refused device id, and every option at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/launcher_process.h"

namespace e2e {
namespace {

bool EndsWith(const std::string &line, const std::string &end) {
  return line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
}

TEST(ArgsE2e, BadDeviceIdExits255WithItsRecords) {
  struct Case {
    std::string value;
    std::string message;
  };
  const Case cases[] = {
      {"64", "DeviceId param[64] invalided, value is not in [0, 64)"},
      {"%s%n%x", "Parse deviceId failed, param is %s%n%x"},
      {"99999999999", "Parse deviceId failed, param is 99999999999"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.value);
    LaunchOptions options;
    // The required options after the bad one are never looked at.
    options.args = {"--pid=4242", "--deviceId=" + c.value, "--qsInitGroupName=qs_group"};
    const RunOutcome run = RunToExit(options);
    ASSERT_TRUE(run.exit.exited);
    EXPECT_EQ(run.exit.exitStatus, 255);
    ASSERT_EQ(run.records.size(), 3U);
    EXPECT_NE(run.records[0].find("QueueSchedule begin"), std::string::npos);
    EXPECT_NE(run.records[1].find(" ERROR module=36 [parse_operations.cc:"), std::string::npos)
        << run.records[1];
    EXPECT_NE(run.records[1].find("][ParseDeviceId][tid:"), std::string::npos) << run.records[1];
    EXPECT_TRUE(EndsWith(run.records[1], "] " + c.message)) << run.records[1];
    EXPECT_NE(run.records[2].find(" ERROR module=36 [qs_main.cc:"), std::string::npos);
    EXPECT_NE(run.records[2].find("][main][tid:"), std::string::npos) << run.records[2];
    EXPECT_TRUE(EndsWith(run.records[2], "] Parse args failed")) << run.records[2];
    EXPECT_EQ(run.out + run.err, "");
  }
}

TEST(ArgsE2e, AllSixteenOptionsReachTheWaitAndExitZeroOnSigterm) {
  LaunchOptions options;
  options.args = {"--pidSign=sign,a=b",
                  "--vfId=2",
                  "--deviceId=3",
                  "--pid=4242",
                  "--logLevelInPid=101",
                  "--vexorLogLevel=1",
                  "--deployMode=1",
                  "--reschedInterval=-1",
                  "--qsInitGroupName=qs_group",
                  "--schedPolicy=255",
                  "--starter=1",
                  "--profCfgData=%s%n%x",
                  "--profFlag=1",
                  "--abnormalInterval=1000",
                  "--resIds=5,6",
                  "--devIds=1,2,3"};
  options.libraryPath = SamplePluginDir();
  const RunOutcome run = RunUntilSigterm(options);
  ExpectCleanStop(run);

  const std::vector<std::string> inOrder = {
      "QueueSchedule begin",
      "] SchedPolicy is [0xff].",
      "] Start parameter. deviceId=3, hostPid=4242, pidSign=sign,a=b, vfId=2, logLevel=1, "
      "eventLevel_=1, vexorlogLevel=1, deployMode_=1, reschedInterval_=-1, groupName_=qs_group, "
      "schedPolicy_=255, starter_=1, profCfgData_=%s%n%x, profFlag_=1, abnormalInterval_=1000, "
      "withDeviceId_=1, withHostPid_=1, withPidSign_=1, withVfId_=1, withLogLevel_=1, "
      "withGroupName_=1, withStarter_=1",
      "] resVec size is 2",
      "stand-in: started deviceId=5 hostPid=4242 groupName=qs_group devIds=3",
      "] QueueSchedule start success",
      "] Tsd wait for shut down success",
      "] QueueSchedule exit",
  };
  ExpectInOrder(run.records, inOrder);
  // Written after "--logLevelInPid=": the library holds the attribute record by then.
  const int policy = FindLine(run.records, "] SchedPolicy is [0xff].");
  ASSERT_GE(policy, 0);
  EXPECT_NE(run.records[static_cast<size_t>(policy)].find(
                " INFO module=36 hostPid=4242 device=3 [parse_operations.cc:"),
            std::string::npos);
  // A level option was accepted, so the environment is not read; nothing went wrong.
  EXPECT_EQ(FindLine(run.records, "Set log with env"), -1);
  EXPECT_EQ(FindLine(run.records, "Get env["), -1);
  EXPECT_EQ(FindLine(run.records, " WARNING "), -1);
  EXPECT_EQ(FindLine(run.records, " ERROR "), -1);
}

}  // namespace
}  // namespace e2e
