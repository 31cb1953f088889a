// The driver's order of calls against recording doubles of the closed libraries and hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "doubles/recorder.h"
#include "queue_schedule_interface.h"
#include "unit/driver_runner.h"
#include "unit/sigterm_sender.h"

namespace {

using test_doubles::Calls;

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }

  int Run(std::vector<std::string> args) { return unit::RunDriver(std::move(args)); }

  // A successful start waits for SIGTERM; this delivers it once the handler is in place.
  void SendSigtermOnStart() {
    test_doubles::answers().onInit = [this] { sender_ = std::make_unique<unit::SigtermSender>(); };
  }

  void TearDown() override { sender_.reset(); }

  std::unique_ptr<unit::SigtermSender> sender_;
};

const std::vector<std::string> kRequired = {"--deviceId=3", "--pid=42", "--qsInitGroupName=g"};

// The calls of interest, in order, with the records' messages.
std::vector<std::string> Filtered(const std::vector<std::string> &calls) {
  std::vector<std::string> kept;
  for (const std::string &call : calls) {
    if (call.rfind("DlogRecord:param error", 0) != 0 && call != "dlog_setlevel" &&
        call != "DlogSetAttr" && call.rfind("DlogRecord:Get env", 0) != 0 &&
        call.rfind("DlogRecord:Set log with env", 0) != 0 &&
        call.rfind("DlogRecord:Start parameter", 0) != 0) {
      kept.push_back(call);
    }
  }
  return kept;
}

size_t Count(const std::vector<std::string> &calls, const std::string &call) {
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), call));
}

TEST_F(DriverTest, SuccessfulRunStopsInFixedOrder) {
  SendSigtermOnStart();
  EXPECT_EQ(Run(kRequired), 0);
  const std::vector<std::string> expected = {
      "DlogRecord:QueueSchedule begin",
      "IsHostSide",
      "DlogRecord:resVec size is 0",
      "IsHostSide",
      "DlogRecord:cannot open so libvexor_scheduler.so",
      "GetInstance",
      "InitQueueScheduler",
      "DlogRecord:QueueSchedule start success",
      "IsHostSide",
      "DlogRecord:Exit WaitShutdown",
      "DlogRecord:Tsd wait for shut down success",
      "DlogRecord:cannot open so libvexor_scheduler.so .",
      "WaitForStop",
      "Destroy",
      "DlogRecord:QueueSchedule exit",
  };
  EXPECT_EQ(Filtered(Calls()), expected);
}

TEST_F(DriverTest, FailedStartReportsAndNeverStops) {
  for (const auto &[code, message] :
       std::vector<std::pair<int, std::string>>{{16, "EM9001"}, {1, "EM9002"}}) {
    SCOPED_TRACE(code);
    test_doubles::Reset();
    test_doubles::answers().initResult = code;
    EXPECT_EQ(Run(kRequired), -1);
    const std::vector<std::string> calls = Filtered(Calls());
    const std::vector<std::string> tail(std::find(calls.begin(), calls.end(), "InitQueueScheduler"),
                                        calls.end());
    const std::vector<std::string> expected = {
        "InitQueueScheduler",
        "DlogRecord:QueueSchedule start failed, ret=" + std::to_string(code) + " .",
        "DlogRecord:ReportErrorMsg errcode is " + std::to_string(code) + ".",
        "DlogRecord:ReportErrorMsg msg is " + message + ".",
        "SendErrorCode:" + message,
    };
    EXPECT_EQ(tail, expected);
  }
}

// Once the queue scheduler holds the start record, an exception ends the run without Destroy():
// its threads may go on reading the record, so the record must outlive main.
TEST_F(DriverTest, ExceptionEndsWithItsRecordNoStopAndTheStartRecordKept) {
  for (const bool throwFromWaitForStop : {false, true}) {
    SCOPED_TRACE(throwFromWaitForStop ? "WaitForStop throws" : "InitQueueScheduler throws");
    test_doubles::Reset();
    test_doubles::answers().isHostSide = 0;  // device-side wait: no signal needed
    test_doubles::answers().initThrows = !throwFromWaitForStop;
    test_doubles::answers().waitForStopThrows = throwFromWaitForStop;
    EXPECT_EQ(Run({"--deviceId=3", "--pid=42", "--qsInitGroupName=kept"}), -1);
    const std::vector<std::string> calls = Filtered(Calls());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "DlogRecord:QueueSchedule run exception.");
    EXPECT_EQ(Count(calls, "WaitForStop"), throwFromWaitForStop ? 1U : 0U);
    EXPECT_EQ(Count(calls, "Destroy"), 0U);
    EXPECT_TRUE(test_doubles::SendErrorCodeCalls().empty());
    const auto *record = static_cast<const bqs::InitQsParams *>(test_doubles::InitParamsAddress());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->deviceId_, 3U);
    EXPECT_EQ(record->groupName_, "kept");
  }
}

TEST_F(DriverTest, BadCommandLineStartsNothing) {
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{}, std::vector<std::string>{"--deviceId=64", "--pid=1"}}) {
    test_doubles::Reset();
    EXPECT_EQ(Run(args), -1);
    const std::vector<std::string> calls = Filtered(Calls());
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "DlogRecord:Parse args failed");
    EXPECT_EQ(Count(calls, "GetInstance"), 0U);
  }
}

// The first resource id replaces the device id for every step after parsing.
TEST_F(DriverTest, EffectiveDeviceIdReachesStartRecordAndReport) {
  test_doubles::answers().initResult = 5;
  std::vector<std::string> args = kRequired;
  args.push_back("--resIds=7,9");
  EXPECT_EQ(Run(args), -1);
  const std::vector<unsigned char> bytes = test_doubles::InitParamBytes();
  ASSERT_EQ(bytes.size(), 128U);
  EXPECT_EQ(bytes[0], 7);   // deviceId_
  EXPECT_EQ(bytes[88], 9);  // otherDeviceId_
  EXPECT_EQ(bytes[92], 1);  // withOtherDevice_
  const auto reports = test_doubles::SendErrorCodeCalls();
  ASSERT_EQ(reports.size(), 1U);
  EXPECT_EQ(reports[0].deviceId, 7U);
  EXPECT_EQ(reports[0].tsdType, 3U);
  EXPECT_EQ(reports[0].hostPid, 42U);
  EXPECT_EQ(reports[0].length, 6U);
  const auto messages = test_doubles::Messages();
  EXPECT_NE(std::find(messages.begin(), messages.end(), "resVec size is 2"), messages.end());
}

// Device side: the cgroup step runs, the group name is optional, and the device-side wait's
// error still runs the whole stop sequence.
TEST_F(DriverTest, DeviceSideWaitErrorStillStops) {
  test_doubles::answers().isHostSide = 0;
  test_doubles::answers().waitDeviceShutdownResult = 7;
  EXPECT_EQ(Run({"--deviceId=3", "--pid=42"}), -1);
  const std::vector<std::string> calls = Filtered(Calls());
  const std::vector<std::string> expected = {
      "DlogRecord:QueueSchedule begin",
      "IsHostSide",
      "DlogRecord:resVec size is 0",
      "IsHostSide",
      "AddToCgroup",
      "DlogRecord:cannot open so libvexor_scheduler.so",
      "GetInstance",
      "InitQueueScheduler",
      "DlogRecord:QueueSchedule start success",
      "IsHostSide",
      "WaitDeviceShutdown",
      "DlogRecord:Tsd wait for shut down return not ok, error code[7].",
      "DlogRecord:cannot open so libvexor_scheduler.so .",
      "WaitForStop",
      "Destroy",
      "DlogRecord:QueueSchedule exit",
  };
  EXPECT_EQ(calls, expected);
}

TEST_F(DriverTest, RefusedCgroupEndsWithoutRecordOfItsOwn) {
  test_doubles::answers().isHostSide = 0;
  test_doubles::answers().addToCgroupResult = false;
  EXPECT_EQ(Run({"--deviceId=3", "--pid=42"}), -1);
  const std::vector<std::string> calls = Filtered(Calls());
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "AddToCgroup");
}

// A non-zero starter chooses the SIGTERM wait without asking the deployment hook.
TEST_F(DriverTest, StarterSkipsTheWaitHook) {
  test_doubles::answers().isHostSide = 0;
  SendSigtermOnStart();
  EXPECT_EQ(Run({"--deviceId=3", "--pid=42", "--starter=1"}), 0);
  const std::vector<std::string> calls = Filtered(Calls());
  EXPECT_EQ(Count(calls, "IsHostSide"), 2U);
  EXPECT_EQ(Count(calls, "WaitDeviceShutdown"), 0U);
  EXPECT_EQ(Count(calls, "DlogRecord:Exit WaitShutdown"), 1U);
}

}  // namespace
