#include "bqs_log/bqs_log.h"

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "doubles/recorder.h"

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

TEST_F(BqsLogTest, ThreadIdIsCachedPerThread) {
  const unsigned long long mainId = qs_launcher::CachedThreadId();
  EXPECT_EQ(mainId, static_cast<unsigned long long>(syscall(SYS_gettid)));
  EXPECT_EQ(qs_launcher::CachedThreadId(), mainId);
  unsigned long long otherId = 0;
  unsigned long long otherKernelId = 0;
  std::thread other([&] {
    otherId = qs_launcher::CachedThreadId();
    otherKernelId = static_cast<unsigned long long>(syscall(SYS_gettid));
  });
  other.join();
  EXPECT_EQ(otherId, otherKernelId);
  EXPECT_NE(otherId, mainId);
}

}  // namespace
