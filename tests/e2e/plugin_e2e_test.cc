// The scheduler plug-in and the start-failure report as the launcher's parent sees them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/launcher_process.h"

namespace e2e {
namespace {

constexpr char kPluginStopped[] = "plug-in: stopped";

// The first line holding text also holds each of the others (level, module, site), and ends in
// the message.
void ExpectRecord(const std::vector<std::string> &lines, const std::string &message,
                  const std::vector<std::string> &others) {
  const int at = FindLine(lines, "] " + message);
  ASSERT_GE(at, 0) << "missing: " << message;
  const std::string &line = lines[static_cast<size_t>(at)];
  for (const std::string &other : others) {
    EXPECT_NE(line.find(other), std::string::npos) << line << "\n lacks: " << other;
  }
  EXPECT_EQ(line.substr(line.size() - std::min(line.size(), message.size())), message) << line;
}

// A failed start is reported and closes the plug-in without stopping it.
TEST(PluginE2e, FailedStartReportsAndNeverStopsThePlugin) {
  struct Case {
    const char *code;
    const char *message;
  };
  for (const Case &c : {Case{"16", "EM9001"}, Case{"17", "EM9002"}}) {
    SCOPED_TRACE(c.code);
    LaunchOptions options;
    options.args = RequiredArgs();
    options.env = {{"QS_STANDIN_INIT_RESULT", c.code}};
    options.libraryPath = SamplePluginDir();
    const RunOutcome run = RunToExit(options);
    ASSERT_TRUE(run.exit.exited);
    EXPECT_EQ(run.exit.exitStatus, 255);
    const std::string failed = std::string("QueueSchedule start failed, ret=") + c.code + " .";
    const std::string errcode = std::string("ReportErrorMsg errcode is ") + c.code + ".";
    const std::string message = std::string("ReportErrorMsg msg is ") + c.message + ".";
    ExpectInOrder(run.records,
                  {"RegVexorSchedulerModuleCallBack success", failed, errcode, message});
    ExpectRecord(run.records, failed, {" ERROR module=36 ", "[qs_main.cc:", "][main]["});
    ExpectRecord(run.records, errcode,
                 {" WARNING RUN module=36 ", "[error_report.cc:", "][ReportErrorMsg]["});
    ExpectRecord(run.records, message,
                 {" INFO RUN module=36 ", "[error_report.cc:", "][ReportErrorMsg]["});
    EXPECT_EQ(FindLine(run.records, kPluginStopped), -1);
    EXPECT_EQ(FindLine(run.records, "queue scheduler stand-in: stopped"), -1);
    EXPECT_EQ(FindLine(run.records, "QueueSchedule exit"), -1);
    EXPECT_EQ(run.out + run.err, "");
  }
}

TEST(PluginE2e, SamplePluginStopsAtSigterm) {
  LaunchOptions options;
  options.args = RequiredArgs();
  options.args.push_back("--vfId=16");
  options.libraryPath = SamplePluginDir();
  const RunOutcome run = RunUntilSigterm(options);
  ExpectCleanStop(run);
  ExpectInOrder(run.records, {"RegVexorSchedulerModuleCallBack success",
                              "QueueSchedule start success", "Tsd wait for shut down success",
                              "plug-in: stopped deviceId=3 hostPid=4242 vfId=16",
                              "queue scheduler stand-in: stopped", "QueueSchedule exit"});
  EXPECT_EQ(FindLine(run.records, "cannot "), -1);
  EXPECT_EQ(FindLine(run.records, "ERROR"), -1);
}

// One warning at start and one, ending in " .", at stop; nothing else from the loader.
TEST(PluginE2e, NoPluginOnThePathOnlyWarns) {
  LaunchOptions options;
  options.args = RequiredArgs();
  const RunOutcome run = RunUntilSigterm(options);
  ExpectCleanStop(run);
  const std::string atStart = "cannot open so libvexor_scheduler.so";
  const std::string atStop = atStart + " .";
  ExpectInOrder(run.records,
                {atStart, "QueueSchedule start success", "Tsd wait for shut down success", atStop,
                 "queue scheduler stand-in: stopped", "QueueSchedule exit"});
  ExpectRecord(
      run.records, atStart,
      {" WARNING module=36 ", "[plugin_loader.cc:", "][RegVexorSchedulerModuleCallBack]["});
  ExpectRecord(run.records, atStop,
               {" WARNING module=36 ", "[plugin_loader.cc:", "][StopVexorSubModuleInQs]["});
  int loaderLines = 0;
  for (int at = FindLine(run.records, "[plugin_loader.cc:"); at >= 0;
       at = FindLine(run.records, "[plugin_loader.cc:", at + 1)) {
    ++loaderLines;
  }
  EXPECT_EQ(loaderLines, 2);
  EXPECT_EQ(FindLine(run.records, "ERROR"), -1);
}

}  // namespace
}  // namespace e2e
