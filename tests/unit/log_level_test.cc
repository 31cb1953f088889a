// Log levels of the device log library: from the level options at the moment they are parsed,
// or from the environment when none was accepted; the attribute record; every failure warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
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
using args_test::Rec;
using args_test::Recs;
using args_test::RunDriverUntilStart;
using args_test::ScopedEnv;
using qs_launcher::ArgsParser;
using qs_launcher::kEnvEventEnable;
using qs_launcher::kEnvLogLevel;

// "module,level,event" per dlog_setlevel call.
std::vector<std::string> Levels() {
  std::vector<std::string> levels;
  for (const auto &call : test_doubles::SetLevelCalls()) {
    levels.push_back(std::to_string(call.module) + "," + std::to_string(call.level) + "," +
                     std::to_string(call.enableEvent));
  }
  return levels;
}

// The 64 bytes as the library received them: 0 / host pid / device id / 52 zero bytes.
void ExpectAttrBytes(const LogAttr &attr, uint32_t hostPid, uint32_t deviceId) {
  unsigned char bytes[64];
  static_assert(sizeof(attr) == sizeof(bytes));
  std::memcpy(bytes, &attr, sizeof(bytes));
  unsigned char expected[64] = {};
  std::memcpy(expected + 4, &hostPid, 4);
  std::memcpy(expected + 8, &deviceId, 4);
  EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 64),
            std::vector<unsigned char>(expected, expected + 64));
}

// Calls other than the gate questions, with records shown by their message.
std::vector<std::string> LevelCallsAndRecords() {
  std::vector<std::string> calls;
  for (const std::string &call : test_doubles::Calls()) {
    if (call.rfind("dlog_setlevel", 0) == 0 || call.rfind("DlogSetAttr", 0) == 0 ||
        call.rfind("DlogRecord:", 0) == 0) {
      calls.push_back(call);
    }
  }
  return calls;
}

TEST(SetLogLevelTest, GlobalLevelThenAttributeRecordWhateverEitherAnswers) {
  struct Case {
    int setLevelResult;
    int setAttrResult;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {0, 0, {"dlog_setlevel", "DlogSetAttr"}},
      {-1, 0, {"dlog_setlevel", "DlogRecord:Set log level failed", "DlogSetAttr"}},
      {0, 7, {"dlog_setlevel", "DlogSetAttr", "DlogRecord:Set log attr failed"}},
      {1,
       1,
       {"dlog_setlevel", "DlogRecord:Set log level failed", "DlogSetAttr",
        "DlogRecord:Set log attr failed"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.setLevelResult) + "/" + std::to_string(c.setAttrResult));
    test_doubles::Reset();
    test_doubles::answers().setLevelResult = c.setLevelResult;
    test_doubles::answers().setAttrResult = c.setAttrResult;
    ArgsParser args;
    args.deviceId_ = 63;
    args.hostPid_ = 0xFFFFFFFFU;
    args.SetLogLevel(-5, 42);
    EXPECT_EQ(LevelCallsAndRecords(), c.calls);
    EXPECT_EQ(Levels(), (std::vector<std::string>{"-1,-5,42"}));
    const auto attrs = test_doubles::AttrCalls();
    ASSERT_EQ(attrs.size(), 1U);
    ExpectAttrBytes(attrs[0], 0xFFFFFFFFU, 63);
    for (const Rec &rec : Recs()) {
      EXPECT_EQ(rec.module, kModule);
      EXPECT_EQ(rec.level, kWarning);
      EXPECT_EQ(rec.function, "SetLogLevel");
    }
  }
}

TEST(SetLogLevelTest, VexorLevelOnlyFromZeroToThree) {
  struct Case {
    const char *value;
    bool applied;
  };
  const Case cases[] = {{"0", true},  {"1", true},   {"3", true},           {"4", false},
                        {"7", false}, {"-1", false}, {"2147483647", false}, {"-2147483648", false}};
  for (const int answer : {0, 5}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.value) + " answer " + std::to_string(answer));
      test_doubles::Reset();
      test_doubles::answers().setLevelResult = answer;
      ArgsParser args;
      ASSERT_TRUE(args.ParseSinglePara("--logLevelInPid=203"));
      test_doubles::Reset();
      test_doubles::answers().setLevelResult = answer;
      EXPECT_TRUE(args.ParseSinglePara(std::string("--vexorLogLevel=") + c.value));
      EXPECT_TRUE(args.withLogLevel_);
      std::vector<std::string> expected;
      std::vector<Rec> records;
      if (c.applied) {
        expected.push_back("36," + std::string(c.value) + ",2");
        if (answer != 0) {
          records.push_back({kModule, kWarning, "SetVexorLogLevel", "Set vexor log level failed"});
        }
      }
      EXPECT_EQ(Levels(), expected);
      EXPECT_TRUE(test_doubles::AttrCalls().empty());
      EXPECT_EQ(Recs(), records);
    }
  }
}

// Levels are applied while parsing goes on: each call sees the ids and event level parsed
// before it.
TEST(SetLogLevelTest, OptionsApplyLevelsInCommandLineOrder) {
  test_doubles::Reset();
  ArgsParser args;
  for (const char *arg : {"--logLevelInPid=203", "--vexorLogLevel=1", "--deviceId=3", "--pid=4242",
                          "--logLevelInPid=1", "--vexorLogLevel=0", "--logLevelInPid=abc"}) {
    args.ParseSinglePara(arg);
  }
  EXPECT_EQ(LevelCallsAndRecords(),
            (std::vector<std::string>{"dlog_setlevel", "DlogSetAttr", "dlog_setlevel",
                                      "dlog_setlevel", "DlogSetAttr", "dlog_setlevel"}));
  EXPECT_EQ(Levels(), (std::vector<std::string>{"-1,3,2", "36,1,2", "-1,1,0", "36,0,0"}));
  const auto attrs = test_doubles::AttrCalls();
  ASSERT_EQ(attrs.size(), 2U);
  ExpectAttrBytes(attrs[0], 0, 0);
  ExpectAttrBytes(attrs[1], 4242, 3);
}

const std::string kLongestAccepted = std::string(0xFFFFE, ' ') + "4";  // 1,048,575 characters
const std::string kTooLong = std::string(0xFFFFF, ' ') + "4";          // 1,048,576 characters

struct EnvCase {
  const char *name;
  std::optional<std::string> levelText;
  std::optional<std::string> eventText;
  const char *applied;  // "level,event" handed to dlog_setlevel
};

const std::vector<EnvCase> &EnvCases() {
  static const std::vector<EnvCase> cases = {
      {"neither set", std::nullopt, std::nullopt, "3,1"},
      {"leading blank and trailing letters", " 2xyz", "0", "2,0"},
      {"trailing blank", "2 ", "1abc", "2,1"},
      {"no range check", "-5", "42", "-5,42"},
      {"int limits", "2147483647", "-2147483648", "2147483647,-2147483648"},
      {"beyond int", "9999999999", "-2147483649", "3,1"},
      {"beyond long", "99999999999999999999", "-99999999999999999999", "3,1"},
      {"empty", "", "", "3,1"},
      {"lone blank and letters", " ", "abc", "3,1"},
      {"directives", "%s%n%x", "%d%%", "3,1"},
      {"odd bytes", "\xff\xfe", "1\xff", "3,1"},
      {"holding = and ,", "1=2", ",3", "1,1"},
      {"longest accepted", kLongestAccepted, "0", "4,0"},
      {"too long", kTooLong, kTooLong, "3,1"},
  };
  return cases;
}

bool Refused(const std::optional<std::string> &text) {
  return !text || text->size() >= qs_launcher::kEnvValueLengthLimit;
}

std::vector<Rec> ExpectedEnvRecords(const EnvCase &c) {
  std::vector<Rec> records;
  if (Refused(c.levelText)) {
    records.push_back({kModule, kWarning, "GetEnv", "Get env[KORVEL_GLOBAL_LOG_LEVEL] failed."});
  }
  if (Refused(c.eventText)) {
    records.push_back({kModule, kWarning, "GetEnv", "Get env[KORVEL_GLOBAL_EVENT_ENABLE] failed."});
  }
  const std::string levelShown = Refused(c.levelText) ? "" : *c.levelText;
  const std::string eventShown = Refused(c.eventText) ? "" : *c.eventText;
  records.push_back(
      {kRunModule, kInfo, "SetLogLevelWithEnv",
       "Set log with env, envLogLevel[" + levelShown + "], envEventLevel[" + eventShown + "]"});
  return records;
}

TEST(SetLogLevelWithEnvTest, EnvironmentCases) {
  for (const EnvCase &c : EnvCases()) {
    SCOPED_TRACE(c.name);
    ScopedEnv level(kEnvLogLevel, c.levelText);
    ScopedEnv event(kEnvEventEnable, c.eventText);
    test_doubles::Reset();
    ArgsParser args;
    args.deviceId_ = 5;
    args.hostPid_ = 77;
    args.SetLogLevelWithEnv();
    EXPECT_EQ(Recs(), ExpectedEnvRecords(c));
    EXPECT_EQ(Levels(), (std::vector<std::string>{std::string("-1,") + c.applied}));
    const auto attrs = test_doubles::AttrCalls();
    ASSERT_EQ(attrs.size(), 1U);
    ExpectAttrBytes(attrs[0], 77, 5);
    // The levels taken from the environment are not stored.
    EXPECT_EQ(args.logLevel_, 3);
    EXPECT_EQ(args.eventLevel_, 1);
    EXPECT_FALSE(args.withLogLevel_);
  }
}

TEST(SetLogLevelWithEnvTest, ErrnoSurvivesConversionsThatDoNotSetIt) {
  struct Case {
    const char *text;
    int errnoAfter;
  };
  // Only a number beyond what the conversion reads at all sets ERANGE itself.
  const Case cases[] = {{"2", EDOM},
                        {"abc", EDOM},
                        {"", EDOM},
                        {"9999999999", EDOM},
                        {"99999999999999999999", ERANGE}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ScopedEnv level(kEnvLogLevel, std::string(c.text));
    ScopedEnv event(kEnvEventEnable, std::string("1"));
    test_doubles::Reset();
    ArgsParser args;
    errno = EDOM;
    args.SetLogLevelWithEnv();
    EXPECT_EQ(errno, c.errnoAfter);
  }
}

// The driver takes levels from the environment exactly when no level option was accepted, right
// after the summary record and before anything else.
class DriverLevelTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }

  ScopedEnv level_{kEnvLogLevel, std::string(" 2xyz")};
  ScopedEnv event_{kEnvEventEnable, std::string("0")};
};

bool HasMessageStartingWith(const std::string &start) {
  const auto messages = test_doubles::Messages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string &message) { return message.rfind(start, 0) == 0; });
}

TEST_F(DriverLevelTest, LevelsPerCommandLine) {
  struct Case {
    const char *name;
    std::vector<std::string> args;  // the required options follow
    bool envRead;
    std::vector<std::string> levels;
    int attrs;
  };
  const Case cases[] = {
      {"no level option", {}, true, {"-1,2,0"}, 1},
      {"both options",
       {"--logLevelInPid=203", "--vexorLogLevel=1"},
       false,
       {"-1,3,2", "36,1,2"},
       1},
      {"global level 0 is a level like any other", {"--logLevelInPid=0"}, false, {"-1,0,0"}, 1},
      {"vexor level 7 alone sets nothing at all", {"--vexorLogLevel=7"}, false, {}, 0},
      {"vexor level -1 alone sets nothing at all", {"--vexorLogLevel=-1"}, false, {}, 0},
      {"an unconverted vexor level is not accepted", {"--vexorLogLevel=abc"}, true, {"-1,2,0"}, 1},
      {"a bad global level ends the run first", {"--logLevelInPid=abc"}, false, {}, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    test_doubles::Reset();
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--deviceId=3", "--pid=4242", "--qsInitGroupName=g"});
    EXPECT_EQ(RunDriverUntilStart(args), -1);
    EXPECT_EQ(HasMessageStartingWith("Set log with env"), c.envRead);
    EXPECT_EQ(HasMessageStartingWith("Get env"), false);
    EXPECT_EQ(Levels(), c.levels);
    const auto attrs = test_doubles::AttrCalls();
    ASSERT_EQ(static_cast<int>(attrs.size()), c.attrs);
    for (const LogAttr &attr : attrs) {
      // Options before the ids see none of them; the environment sees both.
      ExpectAttrBytes(attr, c.envRead ? 4242 : 0, c.envRead ? 3 : 0);
    }
  }
}

TEST_F(DriverLevelTest, EnvironmentLevelsComeRightAfterTheSummary) {
  EXPECT_EQ(RunDriverUntilStart({"--resIds=5,6", "--deviceId=3", "--pid=4242", "--vfId=1",
                                 "--pidSign=s", "--qsInitGroupName=g"}),
            -1);
  std::vector<std::string> calls = LevelCallsAndRecords();
  const auto summary = std::find_if(calls.begin(), calls.end(), [](const std::string &call) {
    return call.rfind("DlogRecord:Start parameter. ", 0) == 0;
  });
  ASSERT_NE(summary, calls.end());
  EXPECT_EQ(
      std::vector<std::string>(summary + 1, std::min(summary + 5, calls.end())),
      (std::vector<std::string>{"DlogRecord:Set log with env, envLogLevel[ 2xyz], envEventLevel[0]",
                                "dlog_setlevel", "DlogSetAttr", "DlogRecord:resVec size is 2"}));
  EXPECT_EQ(Levels(), (std::vector<std::string>{"-1,2,0"}));
  // The attribute record carries the parsed device id, not the first resource id.
  const auto attrs = test_doubles::AttrCalls();
  ASSERT_EQ(attrs.size(), 1U);
  ExpectAttrBytes(attrs[0], 4242, 3);
}

}  // namespace
