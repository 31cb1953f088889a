// The report of a failed start: two run-log records and one call of the error-code hook.
#include "main/error_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bqs_log/bqs_log.h"
#include "doubles/recorder.h"

namespace {

using qs_launcher::kLogLevelInfo;
using qs_launcher::kLogLevelWarning;
using qs_launcher::kRunLogModule;

class ErrorReportTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }
};

// Every failure code but 16 shares the second message code, negatives included.
TEST_F(ErrorReportTest, RecordsAndHookPerFailureCode) {
  struct Case {
    int32_t code;
    const char *message;
  };
  const Case cases[] = {{16, "EM9001"}, {1, "EM9002"}, {-1, "EM9002"}, {17, "EM9002"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    test_doubles::Reset();
    qs_launcher::ReportErrorMsg(c.code, 5, 4242, 7);

    const auto records = test_doubles::Records();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].module, kRunLogModule);
    EXPECT_EQ(records[0].level, kLogLevelWarning);
    EXPECT_EQ(records[0].message, "ReportErrorMsg errcode is " + std::to_string(c.code) + ".");
    EXPECT_EQ(records[1].module, kRunLogModule);
    EXPECT_EQ(records[1].level, kLogLevelInfo);
    EXPECT_EQ(records[1].message, std::string("ReportErrorMsg msg is ") + c.message + ".");
    for (const auto &record : records) {
      EXPECT_NE(record.text.find("][ReportErrorMsg][tid:"), std::string::npos) << record.text;
    }

    const auto sent = test_doubles::SendErrorCodeCalls();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0].deviceId, 5U);
    EXPECT_EQ(sent[0].tsdType, 3U);
    EXPECT_EQ(sent[0].hostPid, 4242U);
    EXPECT_EQ(sent[0].vfId, 7U);
    EXPECT_EQ(sent[0].code, c.message);
    EXPECT_EQ(sent[0].length, 6U);
    // The hook comes after both records.
    EXPECT_EQ(test_doubles::Calls().back(), std::string("SendErrorCode:") + c.message);
  }
}

// Each record has its own gate on the run-log module; the hook is called whatever they answer.
TEST_F(ErrorReportTest, GatesPerLevelAndHookAlwaysCalled) {
  struct Case {
    const char *name;
    int warningAnswer;
    int infoAnswer;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"warning off, info on", 0, 1, {"ReportErrorMsg msg is EM9001."}},
      {"warning on, info off", 1, 0, {"ReportErrorMsg errcode is 16."}},
      {"both off", 0, 0, {}},
      {"answer 2 is not on", 2, 2, {}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    test_doubles::Reset();
    test_doubles::answers().checkLogLevel = [&c](int module, int level) {
      if (module != kRunLogModule) {
        return 1;  // a record on the plain module would show up as a fault
      }
      return level == kLogLevelWarning ? c.warningAnswer : c.infoAnswer;
    };
    qs_launcher::ReportErrorMsg(16, 1, 2, 3);
    EXPECT_EQ(test_doubles::Messages(), c.messages);
    EXPECT_EQ(test_doubles::CheckCalls().size(), 2U);
    ASSERT_EQ(test_doubles::SendErrorCodeCalls().size(), 1U);
    EXPECT_EQ(test_doubles::SendErrorCodeCalls()[0].code, "EM9001");
  }
}

}  // namespace
