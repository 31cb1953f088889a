// The sixteen option parse operations, reached the way the parse loop reaches them: one row per
// value, with the fields it leaves, the result and the records.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "doubles/recorder.h"
#include "qs_args_parser/args_parser.h"
#include "unit/args_test_support.h"

namespace {

using args_test::DefaultsWith;
using args_test::Fields;
using args_test::kError;
using args_test::kInfo;
using args_test::kModule;
using args_test::kWarning;
using args_test::Rec;
using args_test::Recs;
using qs_launcher::ArgsParser;

Rec E(const char *function, const std::string &message) {
  return {kModule, kError, function, message};
}
Rec W(const char *function, const std::string &message) {
  return {kModule, kWarning, function, message};
}
Rec I(const char *function, const std::string &message) {
  return {kModule, kInfo, function, message};
}
// The device-id records, errors for the option and warnings inside the id lists.
Rec IdRange(int level, const std::string &value) {
  return {kModule, level, "ParseDeviceId",
          "DeviceId param[" + value + "] invalided, value is not in [0, 64)"};
}
Rec IdConversion(int level, const std::string &value) {
  return {kModule, level, "ParseDeviceId", "Parse deviceId failed, param is " + value};
}
Rec Resched(const std::string &value, const std::string &current) {
  return W("ParseReschedInterval", "resched interval param[" + value +
                                       "] invalided, value is not in [-1, 1000], using default "
                                       "value[" +
                                       current + "] ms");
}
Rec Abnormal(const std::string &value, const std::string &current) {
  return W("ParseAbnormalInterval", "abnormal interval param[" + value +
                                        "] invalided, value is not in [1, 1000], using default "
                                        "value[" +
                                        current + "]");
}

const std::string kMiB(1 << 20, '7');      // a 1 MiB number, far outside every range
const std::string kFormat = "%s%n%x%p%%";  // must reach the records verbatim
const std::string kOdd = "\xff\xfe\xc0\x80";

struct OptionCase {
  std::vector<std::string> args;  // parsed in order; the result is that of the last
  bool result;
  std::string changed;  // fields that differ from the defaults, "name=value;..."
  std::vector<Rec> records;
};

const std::vector<OptionCase> &OptionCases() {
  static const std::vector<OptionCase> cases = {
      // Stopping options: a bad value fails the parse after an error record.
      {{"--deviceId=63"}, true, "deviceId_=63;withDeviceId_=1", {}},
      {{"--deviceId= 7"}, true, "deviceId_=7;withDeviceId_=1", {}},
      {{"--deviceId=\t\n+7x"}, true, "deviceId_=7;withDeviceId_=1", {}},
      {{"--deviceId=0x10"}, true, "withDeviceId_=1", {}},
      {{"--deviceId=1=2"}, true, "deviceId_=1;withDeviceId_=1", {}},
      {{"--deviceId=64"}, false, "", {IdRange(kError, "64")}},
      {{"--deviceId=-2147483648"}, false, "", {IdRange(kError, "-2147483648")}},
      {{"--deviceId=abc"}, false, "", {IdConversion(kError, "abc")}},
      {{"--deviceId= "}, false, "", {IdConversion(kError, " ")}},
      {{"--deviceId=2147483648"}, false, "", {IdConversion(kError, "2147483648")}},
      {{"--deviceId=-2147483649"}, false, "", {IdConversion(kError, "-2147483649")}},
      {{"--deviceId=" + kMiB}, false, "", {IdConversion(kError, kMiB)}},
      {{"--deviceId=" + kFormat}, false, "", {IdConversion(kError, kFormat)}},
      {{"--deviceId=" + kOdd}, false, "", {IdConversion(kError, kOdd)}},
      {{"--deviceId=5", "--deviceId=-1"},
       false,
       "deviceId_=5;withDeviceId_=1",
       {IdRange(kError, "-1")}},
      {{"--pid=2147483647"}, true, "hostPid_=2147483647;withHostPid_=1", {}},
      {{"--pid=0"}, false, "", {E("ParseHostPid", "Pid param[0] value invalided")}},
      {{"--pid=-1"}, false, "", {E("ParseHostPid", "Pid param[-1] value invalided")}},
      {{"--pid="}, false, "", {E("ParseHostPid", "Parse pid failed, param is ")}},
      {{"--pid=" + kFormat},
       false,
       "",
       {E("ParseHostPid", "Parse pid failed, param is " + kFormat)}},
      {{"--vfId=16"}, true, "vfId_=16;withVfId_=1", {}},
      {{"--vfId=17"},
       false,
       "",
       {E("ParseVfId", "VfId param[17] invalided, value is not in [0, 16]")}},
      {{"--vfId=-1"},
       false,
       "",
       {E("ParseVfId", "VfId param[-1] invalided, value is not in [0, 16]")}},
      {{"--vfId=x"}, false, "", {E("ParseVfId", "Parse vfId failed, param is x")}},
      {{"--deployMode=2"}, true, "deployMode_=2", {}},
      {{"--deployMode=3"},
       false,
       "",
       {E("ParseDeployMode", "deploy mode param[3] invalided, value is not in [0, 2]")}},
      {{"--deployMode=-1"},
       false,
       "",
       {E("ParseDeployMode", "deploy mode param[-1] invalided, value is not in [0, 2]")}},
      {{"--deployMode="}, false, "", {E("ParseDeployMode", "Parse deploy mode failed, param is ")}},
      {{"--schedPolicy=255"},
       true,
       "schedPolicy_=255",
       {I("ParseSchedPolicy", "SchedPolicy is [0xff].")}},
      {{"--schedPolicy=0x10"}, true, "", {I("ParseSchedPolicy", "SchedPolicy is [0x0].")}},
      {{"--schedPolicy= -1"},
       true,
       "schedPolicy_=18446744073709551615",
       {I("ParseSchedPolicy", "SchedPolicy is [0xffffffffffffffff].")}},
      {{"--schedPolicy=18446744073709551616"},
       false,
       "",
       {E("ParseSchedPolicy", "Parse SchedPolicy failed, param is 18446744073709551616")}},
      {{"--schedPolicy="},
       false,
       "",
       {E("ParseSchedPolicy", "Parse SchedPolicy failed, param is ")}},
      {{"--schedPolicy=" + kOdd},
       false,
       "",
       {E("ParseSchedPolicy", "Parse SchedPolicy failed, param is " + kOdd)}},

      // Log levels: no records of their own; a bad global level fails the parse.
      {{"--logLevelInPid=0"}, true, "logLevel_=0;eventLevel_=0;withLogLevel_=1", {}},
      {{"--logLevelInPid=3"}, true, "logLevel_=3;eventLevel_=0;withLogLevel_=1", {}},
      {{"--logLevelInPid=103"}, true, "logLevel_=3;eventLevel_=1;withLogLevel_=1", {}},
      {{"--logLevelInPid=999"}, true, "logLevel_=99;eventLevel_=9;withLogLevel_=1", {}},
      {{"--logLevelInPid=2147483647"},
       true,
       "logLevel_=47;eventLevel_=21474836;withLogLevel_=1",
       {}},
      {{"--logLevelInPid=-5"}, false, "", {}},
      {{"--logLevelInPid=-2147483648"}, false, "", {}},
      {{"--logLevelInPid=abc"}, false, "", {}},
      {{"--logLevelInPid=" + kMiB}, false, "", {}},
      {{"--vexorLogLevel=-1"}, true, "vexorLogLevel_=-1;withLogLevel_=1", {}},
      {{"--vexorLogLevel=7"}, true, "vexorLogLevel_=7;withLogLevel_=1", {}},
      {{"--vexorLogLevel=abc"}, true, "", {}},
      {{"--vexorLogLevel="}, true, "", {}},

      // Texts: stored verbatim, flags even when empty.
      {{"--pidSign="}, true, "withPidSign_=1", {}},
      {{"--pidSign=a=b,c " + kFormat + kOdd},
       true,
       "pidSign_=a=b,c " + kFormat + kOdd + ";withPidSign_=1",
       {}},
      {{"--pidSign=" + kMiB}, true, "pidSign_=" + kMiB + ";withPidSign_=1", {}},
      {{"--qsInitGroupName="}, true, "withGroupName_=1", {}},
      {{"--qsInitGroupName=g=1,2"}, true, "groupName_=g=1,2;withGroupName_=1", {}},
      {{"--profCfgData=a=b"}, true, "profCfgData_=a=b", {}},

      // Tolerant options: a bad value keeps the current one, warns and goes on.
      {{"--reschedInterval=-1"}, true, "reschedInterval_=-1", {}},
      {{"--reschedInterval=1000"}, true, "reschedInterval_=1000", {}},
      {{"--reschedInterval=1001"}, true, "", {Resched("1001", "30")}},
      {{"--reschedInterval=5", "--reschedInterval=-2"},
       true,
       "reschedInterval_=5",
       {Resched("-2", "5")}},
      {{"--reschedInterval="},
       true,
       "",
       {W("ParseReschedInterval",
          "Parse resched interval not success, using default value 30 ms")}},
      {{"--abnormalInterval=1"}, true, "abnormalInterval_=1", {}},
      {{"--abnormalInterval=1000"}, true, "abnormalInterval_=1000", {}},
      {{"--abnormalInterval=0"}, true, "", {Abnormal("0", "10")}},
      {{"--abnormalInterval=1001"}, true, "", {Abnormal("1001", "10")}},
      {{"--abnormalInterval=20", "--abnormalInterval=-1"},
       true,
       "abnormalInterval_=20",
       {Abnormal("-1", "20")}},
      {{"--abnormalInterval=" + kMiB},
       true,
       "",
       {I("ParseAbnormalInterval", "Parse abnormal interval not success, using default value 10")}},
      {{"--starter=-1"}, true, "starter_=4294967295;withStarter_=1", {}},
      {{"--starter=4294967295"},
       true,
       "",
       {W("ParseStarter", "Parse starter failed, param is 4294967295")}},
      {{"--starter=" + kFormat},
       true,
       "",
       {W("ParseStarter", "Parse starter failed, param is " + kFormat)}},
      {{"--profFlag=5"}, true, "profFlag_=1", {}},
      {{"--profFlag=5", "--profFlag=0"}, true, "", {}},
      {{"--profFlag=-1", "--profFlag=x"},
       true,
       "profFlag_=1",
       {W("ParseProfFlag", "Parse prof flag failed, param is x")}},

      // Id lists: never fail; list-element records are warnings.
      {{"--resIds=3,5"}, true, "resIds_=3,5", {}},
      {{"--resIds=3,5,7"}, true, "resIds_=3,5", {}},
      {{"--resIds=3"}, true, "", {}},
      {{"--resIds=x,5"}, true, "", {IdConversion(kWarning, "x")}},
      {{"--resIds=3,x"}, true, "resIds_=3", {IdConversion(kWarning, "x")}},
      {{"--resIds=64,1"}, true, "", {IdRange(kWarning, "64")}},
      {{"--resIds=1,5", "--resIds=2,-1"}, true, "resIds_=1,5,2", {IdRange(kWarning, "-1")}},
      {{"--devIds=1,2,3"}, true, "devIds_=1,2,3", {}},
      {{"--devIds=1,,3"}, true, "devIds_=1", {IdConversion(kWarning, "")}},
      {{"--devIds=1,99,3"}, true, "devIds_=1", {IdRange(kWarning, "99")}},
      {{"--devIds="}, true, "", {}},
      {{"--devIds=1,2,"}, true, "devIds_=1,2", {}},
      {{"--devIds= 1,2x,=3"}, true, "devIds_=1,2", {IdConversion(kWarning, "=3")}},
      {{"--devIds=1,2", "--devIds=3"}, true, "devIds_=1,2,3", {}},
      {{"--devIds=" + kFormat + ",1"}, true, "", {IdConversion(kWarning, kFormat)}},
  };
  return cases;
}

TEST(ParseOperationsTest, EachValueGivesItsFieldsResultAndRecords) {
  for (const OptionCase &c : OptionCases()) {
    SCOPED_TRACE(c.args.back().substr(0, 60));
    test_doubles::Reset();
    ArgsParser args;
    bool result = false;
    for (const std::string &arg : c.args) {
      result = args.ParseSinglePara(arg);
    }
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Fields(args), DefaultsWith(c.changed));
    EXPECT_EQ(Recs(), c.records);
  }
}

// A 1 MiB list of ids is read in one pass; a quadratic split would take minutes.
TEST(ParseOperationsTest, MebibyteIdListIsReadInLinearTime) {
  std::string list;
  while (list.size() < (1U << 20)) {
    list += "63,";
  }
  test_doubles::Reset();
  ArgsParser args;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(args.ParseSinglePara("--devIds=" + list));
  EXPECT_TRUE(args.ParseSinglePara("--resIds=1," + list));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(args.devIds_.size(), list.size() / 3);
  EXPECT_EQ(args.resIds_, (std::vector<uint32_t>{1, 63}));
  EXPECT_TRUE(test_doubles::Records().empty());
}

}  // namespace
