// The one-line summary of the launch parameters, and the driver's gated record of it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doubles/recorder.h"
#include "main/env_log_level.h"
#include "qs_args_parser/args_parser.h"
#include "unit/args_test_support.h"

namespace {

using args_test::kInfo;
using args_test::kModule;
using args_test::kRunModule;
using args_test::kWarning;
using args_test::RunDriverUntilStart;
using args_test::ScopedEnv;
using qs_launcher::ArgsParser;

const char kDefaults[] =
    "deviceId=0, hostPid=0, pidSign=, vfId=0, logLevel=3, eventLevel_=1, vexorlogLevel=-1, "
    "deployMode_=0, reschedInterval_=30, groupName_=, schedPolicy_=0, starter_=0, "
    "profCfgData_=, profFlag_=0, abnormalInterval_=10, withDeviceId_=0, withHostPid_=0, "
    "withPidSign_=0, withVfId_=0, withLogLevel_=0, withGroupName_=0, withStarter_=0";

TEST(SummaryTest, SummaryOfParsedValues) {
  struct Case {
    std::vector<std::string> args;
    std::string summary;
  };
  const Case cases[] = {
      {{}, kDefaults},
      {{"--deviceId=63", "--pid=2147483647", "--pidSign=a,b=c", "--vfId=16", "--logLevelInPid=103",
        "--vexorLogLevel=-7", "--deployMode=2", "--reschedInterval=-1", "--qsInitGroupName=g=1, x",
        "--schedPolicy=255", "--starter=-1", "--profCfgData=%s%n\xff", "--profFlag=7",
        "--abnormalInterval=1000", "--resIds=1,2", "--devIds=3"},
       "deviceId=63, hostPid=2147483647, pidSign=a,b=c, vfId=16, logLevel=3, eventLevel_=1, "
       "vexorlogLevel=-7, deployMode_=2, reschedInterval_=-1, groupName_=g=1, x, "
       "schedPolicy_=255, starter_=4294967295, profCfgData_=%s%n\xff, profFlag_=1, "
       "abnormalInterval_=1000, withDeviceId_=1, withHostPid_=1, withPidSign_=1, withVfId_=1, "
       "withLogLevel_=1, withGroupName_=1, withStarter_=1"},
      {{"--logLevelInPid=2147483647", "--vexorLogLevel=-2147483648", "--schedPolicy=-1",
        "--starter=-2147483648", "--pidSign=", "--qsInitGroupName="},
       "deviceId=0, hostPid=0, pidSign=, vfId=0, logLevel=47, eventLevel_=21474836, "
       "vexorlogLevel=-2147483648, deployMode_=0, reschedInterval_=30, groupName_=, "
       "schedPolicy_=18446744073709551615, starter_=2147483648, profCfgData_=, profFlag_=0, "
       "abnormalInterval_=10, withDeviceId_=0, withHostPid_=0, withPidSign_=1, withVfId_=0, "
       "withLogLevel_=1, withGroupName_=1, withStarter_=1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.summary);
    test_doubles::Reset();
    ArgsParser args;
    for (const std::string &arg : c.args) {
      ASSERT_TRUE(args.ParseSinglePara(arg)) << arg;
    }
    test_doubles::Reset();
    EXPECT_EQ(args.GetParasSummary(), c.summary);
    EXPECT_TRUE(test_doubles::Calls().empty()) << "the summary neither logs nor sets levels";
  }
}

class DriverSummaryTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }

  ScopedEnv level_{qs_launcher::kEnvLogLevel, std::nullopt};
  ScopedEnv event_{qs_launcher::kEnvEventEnable, std::nullopt};
};

const std::vector<std::string> kRequired = {"--deviceId=3", "--pid=4242", "--qsInitGroupName=g"};

TEST_F(DriverSummaryTest, OpenGateWritesTheSummaryWithTheRunLogFlag) {
  EXPECT_EQ(RunDriverUntilStart(kRequired), -1);
  int found = 0;
  for (const args_test::Rec &rec : args_test::Recs()) {
    if (rec.message.rfind("Start parameter. ", 0) == 0) {
      ++found;
      EXPECT_EQ(rec.module, kRunModule);
      EXPECT_EQ(rec.level, kInfo);
      EXPECT_EQ(rec.function, "QsLauncherMain");  // main, renamed for this binary
      EXPECT_EQ(rec.message,
                "Start parameter. deviceId=3, hostPid=4242, pidSign=, vfId=0, logLevel=3, "
                "eventLevel_=1, vexorlogLevel=-1, deployMode_=0, reschedInterval_=30, "
                "groupName_=g, schedPolicy_=0, starter_=0, profCfgData_=, profFlag_=0, "
                "abnormalInterval_=10, withDeviceId_=1, withHostPid_=1, withPidSign_=0, "
                "withVfId_=0, withLogLevel_=0, withGroupName_=1, withStarter_=0");
    }
  }
  EXPECT_EQ(found, 1);
}

// With info records closed the summary's gate is asked, in its place, and refuses: no summary
// record, and the gate questions are exactly those of a run with the gate open.
TEST_F(DriverSummaryTest, ClosedInfoGateWritesNoSummary) {
  test_doubles::answers().logThreshold = kWarning;
  EXPECT_EQ(RunDriverUntilStart(kRequired), -1);
  for (const std::string &message : test_doubles::Messages()) {
    EXPECT_EQ(message.find("Start parameter"), std::string::npos);
  }
  const auto closed = test_doubles::CheckCalls();
  // Begin record, the two optional-option warnings, the summary's gate, then the environment.
  const std::vector<std::pair<int, int>> expectedStart = {
      {kRunModule, kInfo}, {kModule, kWarning}, {kModule, kWarning}, {kRunModule, kInfo},
      {kModule, kWarning}, {kModule, kWarning}, {kRunModule, kInfo}};
  ASSERT_GE(closed.size(), expectedStart.size());
  for (size_t i = 0; i < expectedStart.size(); ++i) {
    EXPECT_EQ(closed[i].module, expectedStart[i].first) << i;
    EXPECT_EQ(closed[i].level, expectedStart[i].second) << i;
  }

  test_doubles::Reset();
  EXPECT_EQ(RunDriverUntilStart(kRequired), -1);
  const auto open = test_doubles::CheckCalls();
  ASSERT_EQ(open.size(), closed.size());
  for (size_t i = 0; i < open.size(); ++i) {
    EXPECT_EQ(open[i].module, closed[i].module) << i;
    EXPECT_EQ(open[i].level, closed[i].level) << i;
  }
}

}  // namespace
