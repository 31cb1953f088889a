#include "bqs_log/bqs_log.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <string>
#include <thread>

#include "doubles/recorder.h"

namespace {

// The calling thread's syscall(SYS_gettid) calls so far.
thread_local int tls_gettid_calls = 0;

using SyscallFunction = long (*)(long, ...);
// libc's syscall(), looked up on first use. Constant-initialised: a guarded static could itself
// end up in syscall() (libstdc++ waits on a contended guard with a futex).
std::atomic<SyscallFunction> g_libc_syscall{nullptr};

}  // namespace

// Counts the thread-id lookups. bqs_log is linked statically, and a function the executable
// defines preempts libc's, so bqs_log's syscall() calls land here; libc's own is next in line
// (RTLD_NEXT). No sanitizer runtime intercepts syscall(), so none stands in between. gettid takes
// no argument and is answered directly; any other call (libstdc++'s futex waits, say) is forwarded
// with six register-wide arguments, as many as libc's syscall() reads whatever its caller passed.
extern "C" long syscall(long number, ...) noexcept {
  if (number == SYS_gettid) {
    ++tls_gettid_calls;
    return gettid();
  }
  SyscallFunction next = g_libc_syscall.load(std::memory_order_relaxed);
  if (next == nullptr) {
    next = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    g_libc_syscall.store(next, std::memory_order_relaxed);
  }
  va_list args;
  va_start(args, number);
  long a[6];
  for (long &arg : a) {
    arg = va_arg(args, long);
  }
  va_end(args);
  return next(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

namespace {

class BqsLogTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }
};

TEST_F(BqsLogTest, GateAndModulePerRecordKind) {
  struct Case {
    const char *name;
    std::function<void()> write;
    int module;
    int level;
    bool asksGate;
  };
  const Case cases[] = {
      {"error", [] { BQS_LOG_ERROR("m"); }, 36, 3, false},
      {"warning", [] { BQS_LOG_WARN("m"); }, 36, 2, true},
      {"info", [] { BQS_LOG_INFO("m"); }, 36, 1, true},
      {"run warning", [] { BQS_RUN_LOG_WARN("m"); }, 0x1000024, 2, true},
      {"run info", [] { BQS_RUN_LOG_INFO("m"); }, 0x1000024, 1, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    for (const int answer : {1, 0, 2, -1}) {
      test_doubles::Reset();
      test_doubles::answers().checkAnswer = answer;
      c.write();
      const auto checks = test_doubles::CheckCalls();
      const auto records = test_doubles::Records();
      if (c.asksGate) {
        ASSERT_EQ(checks.size(), 1U);
        EXPECT_EQ(checks[0].module, c.module);
        EXPECT_EQ(checks[0].level, c.level);
      } else {
        EXPECT_TRUE(checks.empty());
      }
      const bool written = !c.asksGate || answer == 1;
      ASSERT_EQ(records.size(), written ? 1U : 0U) << "answer " << answer;
      if (written) {
        EXPECT_EQ(records[0].module, c.module);
        EXPECT_EQ(records[0].level, c.level);
      }
    }
  }
}

TEST_F(BqsLogTest, SuppressedRecordDoesNotEvaluateItsArguments) {
  test_doubles::answers().checkAnswer = 0;
  int evaluated = 0;
  BQS_LOG_INFO("value %d", ++evaluated);
  BQS_RUN_LOG_WARN("value %d", ++evaluated);
  EXPECT_EQ(evaluated, 0);
  EXPECT_EQ(test_doubles::CheckCalls().size(), 2U);
  EXPECT_TRUE(test_doubles::Records().empty());
}

TEST_F(BqsLogTest, PrefixIsOneLiteralWithSiteAndThreadId) {
  const int line = __LINE__ + 1;
  BQS_LOG_ERROR("QueueSchedule start failed, ret=%d .", 16);
  const auto records = test_doubles::Records();
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].format, "[%s:%d][%s][tid:%llu] QueueSchedule start failed, ret=%d .");
  const std::string expected = "[bqs_log_test.cc:" + std::to_string(line) +
                               "][TestBody][tid:" + std::to_string(syscall(SYS_gettid)) +
                               "] QueueSchedule start failed, ret=16 .";
  EXPECT_EQ(records[0].text, expected);
}

TEST_F(BqsLogTest, UserTextIsNeverAFormat) {
  const std::string value = "%s%n%x%%";
  BQS_LOG_ERROR("Parse deviceId failed, param is %s", value.c_str());
  ASSERT_EQ(test_doubles::Records().size(), 1U);
  EXPECT_EQ(test_doubles::Records()[0].message, "Parse deviceId failed, param is %s%n%x%%");
}

// The kernel is asked once per thread: two records on a fresh thread cost one gettid, and each
// carries that thread's id, not the id cached by the thread that wrote first.
TEST_F(BqsLogTest, ThreadIdIsCachedPerThread) {
  BQS_LOG_ERROR("main");
  int calls = -1;
  pid_t otherId = 0;
  std::thread other([&] {
    const int before = tls_gettid_calls;
    BQS_LOG_ERROR("other");
    BQS_LOG_ERROR("other");
    calls = tls_gettid_calls - before;
    otherId = gettid();
  });
  other.join();
  EXPECT_EQ(calls, 1);
  const auto records = test_doubles::Records();
  ASSERT_EQ(records.size(), 3U);
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    const pid_t id = i == 0 ? gettid() : otherId;
    EXPECT_THAT(records[i].text, ::testing::HasSubstr("[tid:" + std::to_string(id) + "]"));
  }
}

}  // namespace
