// Linked with only one of CheckLogLevel / DlogRecord: the other is a null weak reference.
#include <gtest/gtest.h>

#include "bqs_log/bqs_log.h"
#include "doubles/recorder.h"

namespace {

TEST(MissingLogFunction, SilencesEveryRecordWithoutAskingOrEvaluating) {
  ASSERT_TRUE(CheckLogLevel == nullptr || DlogRecord == nullptr);
  test_doubles::Reset();
  int evaluated = 0;
  const auto argument = [&evaluated] { return ++evaluated; };
  BQS_LOG_ERROR("error %d", argument());
  BQS_LOG_WARN("warning %d", argument());
  BQS_LOG_INFO("info %d", argument());
  BQS_RUN_LOG_WARN("run warning %d", argument());
  BQS_RUN_LOG_INFO("run info %d", argument());
  EXPECT_EQ(evaluated, 0);
  EXPECT_TRUE(test_doubles::CheckCalls().empty());
  EXPECT_TRUE(test_doubles::Records().empty());
}

}  // namespace
