// The parse loop: splitting at the first "=", the exact key lookup, the early stop and the
// required-option check.
#include "qs_args_parser/args_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "doubles/recorder.h"
#include "unit/args_test_support.h"
#include "unit/driver_runner.h"

namespace {

using args_test::DefaultsWith;
using args_test::Fields;
using args_test::kError;
using args_test::kModule;
using args_test::kWarning;
using args_test::Rec;
using args_test::Recs;
using qs_launcher::ArgsParser;

const char kProgram[] = "/usr/bin/qs_launcher";
const char kRequiredFields[] =
    "deviceId_=3;withDeviceId_=1;hostPid_=4242;withHostPid_=1;groupName_=g;withGroupName_=1";

Rec Unknown(const std::string &key) {
  return {kModule, kWarning, "ParseSinglePara",
          "unknown input parameter [" + key + "] of function ParseArgs, ignore"};
}
Rec MustSpecify(const std::string &prefix) {
  return {kModule, kError, "CheckRequiredParas",
          "Param error. Must specify param with [" + prefix + "]."};
}
// The two optional-option warnings come in no fixed order.
std::vector<Rec> OptionalMissing() {
  return {
      {kModule, kWarning, "CheckRequiredParas", "param error. Param --pidSign= does not exist."},
      {kModule, kWarning, "CheckRequiredParas", "param error. Param --vfId= does not exist."}};
}

bool ParseCommandLine(ArgsParser &args, std::vector<std::string> strings) {
  return unit::CallWithArgv(std::move(strings),
                            [&args](int argc, char **argv) { return args.ParseArgs(argc, argv); });
}

std::vector<std::string> WithRequired(std::vector<std::string> argv) {
  for (const char *arg : {"--deviceId=3", "--pid=4242", "--qsInitGroupName=g"}) {
    argv.push_back(arg);
  }
  return argv;
}

struct LoopCase {
  const char *name;
  std::vector<std::string> argv;  // program path included
  bool result;
  std::string changed;
  std::vector<Rec> records;  // the optional-option warnings, if any, compared as a set at the end
  bool optionalMissing;
  bool requiredChecked;
};

TEST(ArgsParserTest, ParseLoopCases) {
  const LoopCase cases[] = {
      {"program path only", {kProgram}, false, "", {}, false, false},
      {"required only", WithRequired({kProgram}), true, kRequiredFields, {}, true, true},
      {"required and optional",
       WithRequired({kProgram, "--vfId=2", "--pidSign="}),
       true,
       std::string(kRequiredFields) + ";vfId_=2;withVfId_=1;withPidSign_=1",
       {},
       false,
       true},
      {"group name missing",
       {kProgram, "--deviceId=3", "--pid=4242", "--vfId=1", "--pidSign="},
       false,
       "deviceId_=3;withDeviceId_=1;hostPid_=4242;withHostPid_=1;vfId_=1;withVfId_=1;"
       "withPidSign_=1",
       {MustSpecify("--qsInitGroupName=")},
       false,
       true},
      {"a key in other letter case is unknown, so the device id is missing",
       {kProgram, "--DeviceId=3", "--pid=4242", "--qsInitGroupName=g"},
       false,
       "hostPid_=4242;withHostPid_=1;groupName_=g;withGroupName_=1",
       {Unknown("--DeviceId="), MustSpecify("--deviceId=")},
       false,
       true},
      {"a bare word and an option without = are skipped silently",
       {kProgram, "word", "", "--deviceId", "--pid=4242", "--qsInitGroupName=g"},
       false,
       "hostPid_=4242;withHostPid_=1;groupName_=g;withGroupName_=1",
       {MustSpecify("--deviceId=")},
       false,
       true},
      {"keys match whole; unknown ones are named up to their first =, verbatim",
       WithRequired({"/opt/a=b/qs", "--deviceIdx=9", " --deviceId=9", "--device=9", "==x",
                     "--%s%n%x=%s", "--\xff=1"}),
       true,
       kRequiredFields,
       {Unknown("/opt/a="), Unknown("--deviceIdx="), Unknown(" --deviceId="), Unknown("--device="),
        Unknown("="), Unknown("--%s%n%x="), Unknown("--\xff=")},
       true,
       true},
      {"the program path is parsed like any argument",
       {"--pidSign=p", "--deviceId=3", "--pid=4242", "--qsInitGroupName=g", "--vfId=0"},
       true,
       std::string(kRequiredFields) + ";pidSign_=p;withPidSign_=1;withVfId_=1",
       {},
       false,
       true},
      {"values split at the first = only",
       WithRequired({kProgram, "--profCfgData=a=b", "--pidSign==", "--vfId=1=2"}),
       true,
       std::string(kRequiredFields) +
           ";profCfgData_=a=b;pidSign_==;withPidSign_=1;vfId_=1;withVfId_=1",
       {},
       false,
       true},
      {"an early failure stops the loop and nothing is checked",
       {kProgram, "--pid=0", "--deviceId=3", "--unknown=1", "--qsInitGroupName=g"},
       false,
       "",
       {{kModule, kError, "ParseHostPid", "Pid param[0] value invalided"}},
       false,
       false},
      {"a bad log level stops the loop without a record",
       WithRequired({kProgram, "--logLevelInPid=-5"}),
       false,
       "",
       {},
       false,
       false},
      {"tolerated bad values never fail the parse",
       WithRequired({kProgram, "--starter=x", "--vexorLogLevel=x", "--devIds=,", "--resIds=1"}),
       true,
       kRequiredFields,
       {{kModule, kWarning, "ParseStarter", "Parse starter failed, param is x"},
        {kModule, kWarning, "ParseDeviceId", "Parse deviceId failed, param is "}},
       true,
       true},
      {"a repeated option is parsed again and the last valid value wins",
       WithRequired({kProgram, "--deviceId=1", "--devIds=1,2", "--devIds=3"}),
       true,
       std::string(kRequiredFields) + ";devIds_=1,2,3",
       {},
       true,
       true},
      {"a repeated stopping option with a bad second value still fails",
       WithRequired({kProgram, "--deviceId=64"}),
       false,
       "",
       {{kModule, kError, "ParseDeviceId",
         "DeviceId param[64] invalided, value is not in [0, 64)"}},
       false,
       false},
  };
  for (const LoopCase &c : cases) {
    SCOPED_TRACE(c.name);
    test_doubles::Reset();
    ArgsParser args;
    EXPECT_EQ(ParseCommandLine(args, c.argv), c.result);
    EXPECT_EQ(Fields(args), DefaultsWith(c.changed));
    const auto calls = test_doubles::Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "IsHostSide"), c.requiredChecked ? 1 : 0);

    std::vector<Rec> records = Recs();
    std::vector<Rec> expected = c.records;
    if (c.optionalMissing) {
      ASSERT_GE(records.size(), 2U);
      std::sort(records.end() - 2, records.end(),
                [](const Rec &a, const Rec &b) { return a.message < b.message; });
      for (const Rec &rec : OptionalMissing()) {
        expected.push_back(rec);
      }
    }
    EXPECT_EQ(records, expected);
  }
}

TEST(ArgsParserTest, NoArgumentVectorOrCountIsRefusedWithoutRecord) {
  test_doubles::Reset();
  char program[] = "qs_launcher";
  char deviceId[] = "--deviceId=3";
  char *argv[] = {program, deviceId, nullptr};
  for (const int argc : {1, 0, -1}) {
    ArgsParser args;
    EXPECT_FALSE(args.ParseArgs(argc, argv)) << argc;
    EXPECT_FALSE(args.withDeviceId_);
  }
  ArgsParser args;
  EXPECT_FALSE(args.ParseArgs(3, nullptr));
  EXPECT_TRUE(test_doubles::Calls().empty());
}

// However many required options are missing, one error record names one of them.
TEST(ArgsParserTest, OneErrorRecordHoweverManyRequiredAreMissing) {
  struct Case {
    std::vector<std::string> argv;
    std::vector<std::string> missing;
  };
  const Case cases[] = {
      {{kProgram, "word"}, {"--deviceId=", "--pid=", "--qsInitGroupName="}},
      {{kProgram, "--deviceId=1"}, {"--pid=", "--qsInitGroupName="}},
      {{kProgram, "--pid=1"}, {"--deviceId=", "--qsInitGroupName="}},
      {{kProgram, "--qsInitGroupName="}, {"--deviceId=", "--pid="}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.argv.back());
    test_doubles::Reset();
    ArgsParser args;
    EXPECT_FALSE(ParseCommandLine(args, c.argv));
    const std::vector<Rec> records = Recs();
    ASSERT_EQ(records.size(), 1U);
    EXPECT_TRUE(std::any_of(c.missing.begin(), c.missing.end(), [&](const std::string &prefix) {
      return records[0] == MustSpecify(prefix);
    })) << records[0].message;
  }
}

// The group name is required only when the hook answers exactly 1, asked on every check.
TEST(ArgsParserTest, GroupNameRequiredOnlyOnHostSide) {
  test_doubles::Reset();
  ArgsParser args;
  for (const char *arg : {"--deviceId=1", "--pid=1", "--vfId=1", "--pidSign=x"}) {
    ASSERT_TRUE(args.ParseSinglePara(arg));
  }
  for (const int answer : {0, 2, 1}) {
    test_doubles::answers().isHostSide = answer;
    EXPECT_EQ(args.CheckRequiredParas(), answer != 1) << answer;
  }
  EXPECT_EQ(test_doubles::Calls(),
            (std::vector<std::string>{"IsHostSide", "IsHostSide", "IsHostSide",
                                      "DlogRecord:" + MustSpecify("--qsInitGroupName=").message}));
}

}  // namespace
