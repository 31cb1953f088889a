// The plug-in loader, and the driver around it, against real plug-in libraries. Each test runs
// once per variant (see CMakeLists.txt): LD_LIBRARY_PATH is the variant's folder, whose name
// picks its row of expectations.
#include "main/plugin_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bqs_log/bqs_log.h"
#include "doubles/recorder.h"
#include "plugin/variant_probe.h"
#include "unit/driver_runner.h"
#include "unit/sigterm_sender.h"

namespace {

constexpr char kStopRan[] = "plug-in stop";
constexpr char kUnloaded[] = "plug-in unloaded";

std::array<unsigned char, sizeof(SchedulerModuleStopParams)> g_received;

}  // namespace

extern "C" void PluginVariantStopped(const SchedulerModuleStopParams *params) {
  std::memcpy(g_received.data(), params, g_received.size());
  test_doubles::AddCall(kStopRan);
}

extern "C" void PluginVariantUnloaded() { test_doubles::AddCall(kUnloaded); }

namespace {

using qs_launcher::CloseSchedulerSo;
using qs_launcher::RegVexorSchedulerModuleCallBack;
using qs_launcher::SchedulerSoLoaded;
using qs_launcher::StopVexorSubModuleInQs;
using Calls = std::vector<std::string>;

const std::string kOpenWarning = "DlogRecord:cannot open so libvexor_scheduler.so";
const std::string kStopWarning = kOpenWarning + " .";
const Calls kBothRegistered = {"RegisterModuleCallBack:30", "RegisterModuleCallBack:34",
                               "DlogRecord:RegVexorSchedulerModuleCallBack success"};

struct Variant {
  std::string name;
  bool exportsBoth;
  Calls load;  // hooks, records and the unload mark of RegVexorSchedulerModuleCallBack
  bool open;   // the library stays open after the load
  Calls stop;  // the same of StopVexorSubModuleInQs(3, 42, 2) after the load

  bool StopRuns() const { return std::count(stop.begin(), stop.end(), kStopRan) == 1; }
};

// The variants that export a start entry point also prove the lazy open: it calls a function
// defined nowhere, which an immediate-binding open would refuse.
const Variant kVariants[] = {
    {"none", false, {kOpenWarning}, false, {kStopWarning}},
    {"both", true, kBothRegistered, true, {kStopRan, kUnloaded}},
    {"start_only",
     false,
     {"RegisterModuleCallBack:30", "UnregisterModuleCallBack:30",
      "DlogRecord:cannot find StopVexorSchedulerModule", kUnloaded},
     false,
     {kStopWarning}},
    {"stop_only",
     false,
     {"DlogRecord:cannot find StartVexorSchedulerModule", kUnloaded},
     false,
     {kStopWarning}},
    {"stop_fails",
     true,
     kBothRegistered,
     true,
     {kStopRan, "DlogRecord:StopVexorSchedulerModule fail", kUnloaded}},
};

// Every record the loader can write: the message of its format, level, module and function.
struct RecordKind {
  const char *format;
  int level;
  int module;
  const char *function;
};
constexpr char kLoad[] = "RegVexorSchedulerModuleCallBack";
constexpr char kStop[] = "StopVexorSubModuleInQs";
const RecordKind kRecordKinds[] = {
    {"cannot open so %s", 2, 36, kLoad},
    {"cannot find StartVexorSchedulerModule", 3, 36, kLoad},
    {"reg StartVexorSchedulerModule failed", 3, 36, kLoad},
    {"cannot find StopVexorSchedulerModule", 3, 36, kLoad},
    {"reg StopVexorSchedulerModule failed", 3, 36, kLoad},
    {"RegVexorSchedulerModuleCallBack success", 1, 0x1000024, kLoad},
    {"cannot open so %s .", 2, 36, kStop},
    {"StopVexorSchedulerModule fail", 3, 36, kStop},
};

// Each record so far is one of the loader's, filed as the table says.
void ExpectLoaderRecords() {
  for (const test_doubles::LogRecord &record : test_doubles::Records()) {
    SCOPED_TRACE(record.text);
    const auto kind =
        std::find_if(std::begin(kRecordKinds), std::end(kRecordKinds), [&](const RecordKind &k) {
          return record.format == std::string("[%s:%d][%s][tid:%llu] ") + k.format;
        });
    ASSERT_NE(kind, std::end(kRecordKinds)) << "unknown format " << record.format;
    EXPECT_EQ(record.level, kind->level);
    EXPECT_EQ(record.module, kind->module);
    EXPECT_NE(record.text.find(std::string("][") + kind->function + "][tid:"), std::string::npos);
  }
}

Calls CallsSince(size_t mark) {
  const Calls calls = test_doubles::Calls();
  return Calls(calls.begin() + static_cast<std::ptrdiff_t>(std::min(mark, calls.size())),
               calls.end());
}

// The calls from the first one equal to first on.
Calls CallsFrom(const std::string &first) {
  const Calls calls = test_doubles::Calls();
  return Calls(std::find(calls.begin(), calls.end(), first), calls.end());
}

// Asks the system's loader, not the launcher, whether the plug-in is in the process.
bool InProcess() {
  void *handle = dlopen(qs_launcher::kSchedulerSoName, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
  }
  return handle != nullptr;
}

class PluginLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *path = std::getenv("LD_LIBRARY_PATH");
    const char *name = path != nullptr ? std::strrchr(path, '/') : nullptr;
    const auto found =
        std::find_if(std::begin(kVariants), std::end(kVariants),
                     [&](const Variant &v) { return name != nullptr && v.name == name + 1; });
    ASSERT_NE(found, std::end(kVariants))
        << "run through ctest: LD_LIBRARY_PATH is the folder of one variant";
    variant_ = &*found;
    test_doubles::Reset();
    g_received.fill(0xA5);
  }

  void TearDown() override {
    sender_.reset();
    CloseSchedulerSo();
  }

  int RunDriver() {
    return unit::RunDriver({"--deviceId=3", "--pid=42", "--vfId=2", "--qsInitGroupName=g"});
  }

  const Variant *variant_ = nullptr;
  std::unique_ptr<unit::SigtermSender> sender_;
};

// Leaves non-zero bytes on the stack below the caller: an entry built there with undefined
// padding then hands them on, and the registry double names it in its call.
__attribute__((noinline)) void DirtyTheStack() {
  volatile unsigned char junk[4096];
  for (auto &byte : junk) {
    byte = 0xA5;
  }
}

TEST_F(PluginLoaderTest, LoadThenStop) {
  DirtyTheStack();
  RegVexorSchedulerModuleCallBack();
  EXPECT_EQ(test_doubles::Calls(), variant_->load);
  EXPECT_EQ(SchedulerSoLoaded(), variant_->open);
  EXPECT_EQ(InProcess(), variant_->open);
  // Opened without RTLD_GLOBAL: the entry points are not visible to the rest of the process.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "StopVexorSchedulerModule"), nullptr);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "StartVexorSchedulerModule"), nullptr);

  size_t mark = test_doubles::Calls().size();
  StopVexorSubModuleInQs(3, 42, 2);
  EXPECT_EQ(CallsSince(mark), variant_->stop);
  EXPECT_FALSE(SchedulerSoLoaded());
  EXPECT_FALSE(InProcess());

  // Once closed, a further stop only warns and a close does nothing.
  mark = test_doubles::Calls().size();
  StopVexorSubModuleInQs(3, 42, 2);
  CloseSchedulerSo();
  EXPECT_EQ(CallsSince(mark), Calls{kStopWarning});
  ExpectLoaderRecords();
}

// The failed-start path: the library is closed without a call of its stop entry point.
TEST_F(PluginLoaderTest, LoadThenCloseNeverStops) {
  RegVexorSchedulerModuleCallBack();
  const size_t mark = test_doubles::Calls().size();
  CloseSchedulerSo();
  EXPECT_EQ(CallsSince(mark), variant_->open ? Calls{kUnloaded} : Calls{});
  EXPECT_FALSE(SchedulerSoLoaded());
  EXPECT_FALSE(InProcess());
  const Calls calls = test_doubles::Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), kStopRan), 0);
}

// Registration is reached only with both entry points: CMakeLists.txt runs this suite for the
// variants that export both, and only for them.
class PluginRegistrationTest : public PluginLoaderTest {
 protected:
  void SetUp() override {
    PluginLoaderTest::SetUp();
    ASSERT_TRUE(variant_ != nullptr && variant_->exportsBoth)
        << "run for a variant without both entry points: see CMakeLists.txt";
  }
};

TEST_F(PluginRegistrationTest, RefusedRegistrationWithdrawsAndCloses) {
  struct Case {
    const char *name;
    int32_t result30;
    int32_t result34;
    Calls load;
  };
  const Case cases[] = {
      {"start refused",
       1,
       0,
       {"RegisterModuleCallBack:30", "DlogRecord:reg StartVexorSchedulerModule failed", kUnloaded}},
      {"stop refused",
       0,
       -1,
       {"RegisterModuleCallBack:30", "RegisterModuleCallBack:34", "UnregisterModuleCallBack:30",
        "DlogRecord:reg StopVexorSchedulerModule failed", kUnloaded}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    test_doubles::Reset();
    test_doubles::answers().registerResult30 = c.result30;
    test_doubles::answers().registerResult34 = c.result34;
    RegVexorSchedulerModuleCallBack();
    EXPECT_EQ(test_doubles::Calls(), c.load);
    EXPECT_FALSE(SchedulerSoLoaded());
    EXPECT_FALSE(InProcess());
    ExpectLoaderRecords();

    const size_t mark = test_doubles::Calls().size();
    StopVexorSubModuleInQs(3, 42, 2);
    EXPECT_EQ(CallsSince(mark), Calls{kStopWarning});
  }
}

// The stop record byte by byte, as built and as the plug-in receives it.
TEST_F(PluginLoaderTest, StopRecordBytes) {
  struct Case {
    uint32_t deviceId, hostPid, vfId;
    std::array<unsigned char, 17> head;  // bytes 0..16; 17..127 are zero
  };
  const Case cases[] = {
      {3, 42, 2, {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2a, 0, 0, 0, 2}},
      {3, 42, 300, {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2a, 0, 0, 0, 44}},
      {0x04030201,
       0xfdfcfbfa,
       0x1ff,
       {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0xfa, 0xfb, 0xfc, 0xfd, 0xff}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.vfId);
    std::array<unsigned char, sizeof(SchedulerModuleStopParams)> expected{};
    std::copy(c.head.begin(), c.head.end(), expected.begin());

    const SchedulerModuleStopParams made =
        qs_launcher::MakeStopParams(c.deviceId, c.hostPid, c.vfId);
    std::array<unsigned char, sizeof(SchedulerModuleStopParams)> madeBytes;
    std::memcpy(madeBytes.data(), &made, madeBytes.size());
    EXPECT_EQ(madeBytes, expected);

    if (variant_->StopRuns()) {
      g_received.fill(0xA5);
      RegVexorSchedulerModuleCallBack();
      StopVexorSubModuleInQs(c.deviceId, c.hostPid, c.vfId);
      EXPECT_EQ(g_received, expected);
    }
  }
}

TEST_F(PluginLoaderTest, DriverFailedStartReportsThenClosesWithoutStop) {
  test_doubles::answers().initResult = 16;
  EXPECT_EQ(RunDriver(), -1);
  const Calls calls = test_doubles::Calls();
  // The load runs once, right before the queue scheduler's instance is fetched.
  const auto instance = std::find(calls.begin(), calls.end(), "GetInstance");
  ASSERT_GE(instance - calls.begin(), static_cast<std::ptrdiff_t>(variant_->load.size()));
  EXPECT_EQ(Calls(instance - static_cast<std::ptrdiff_t>(variant_->load.size()), instance),
            variant_->load);

  Calls expected = {"DlogRecord:QueueSchedule start failed, ret=16 .",
                    "DlogRecord:ReportErrorMsg errcode is 16.",
                    "DlogRecord:ReportErrorMsg msg is EM9001.", "SendErrorCode:EM9001"};
  if (variant_->open) {
    expected.push_back(kUnloaded);
  }
  EXPECT_EQ(CallsFrom(expected.front()), expected);
  EXPECT_FALSE(SchedulerSoLoaded());
  EXPECT_FALSE(InProcess());
}

// Runs once per process: the shutdown flag, once set, stays set.
TEST_F(PluginLoaderTest, DriverStopsPluginBeforeTheQueueScheduler) {
  test_doubles::answers().onInit = [this] { sender_ = std::make_unique<unit::SigtermSender>(); };
  EXPECT_EQ(RunDriver(), 0);
  Calls expected = {"DlogRecord:Tsd wait for shut down success"};
  expected.insert(expected.end(), variant_->stop.begin(), variant_->stop.end());
  expected.insert(expected.end(), {"WaitForStop", "Destroy", "DlogRecord:QueueSchedule exit"});
  EXPECT_EQ(CallsFrom(expected.front()), expected);
  if (variant_->StopRuns()) {
    const SchedulerModuleStopParams made = qs_launcher::MakeStopParams(3, 42, 2);
    EXPECT_EQ(std::memcmp(g_received.data(), &made, sizeof(made)), 0);
  }
  EXPECT_FALSE(InProcess());
}

}  // namespace
