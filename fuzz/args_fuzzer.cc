// Arbitrary command lines for ArgsParser::ParseArgs. The input, split at NUL and newline bytes,
// is the list of arguments after the program path. Besides the sanitizers' findings, a record
// format that is not the one literal with the prefix, or a parsed field outside the range its
// option accepts, stops the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bqs_log/bqs_log.h"
#include "doubles/recorder.h"
#include "qs_args_parser/args_parser.h"

namespace {

std::vector<std::string> SplitArguments(const uint8_t *data, size_t size) {
  std::vector<std::string> args;
  if (size == 0) {
    return args;
  }
  args.emplace_back();
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0' || data[i] == '\n') {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  return args;
}

void Require(bool holds, const char *what) {
  if (!holds) {
    std::fprintf(stderr, "args fuzzer: %s\n", what);
    std::abort();
  }
}

bool AllBelow(const std::vector<uint32_t> &ids, uint32_t end) {
  for (const uint32_t id : ids) {
    if (id >= end) {
      return false;
    }
  }
  return true;
}

void CheckParsedFields(const qs_launcher::ArgsParser &parser, bool accepted) {
  if (accepted) {
    Require(parser.withDeviceId_ && parser.withHostPid_ && parser.withGroupName_,
            "accepted without a required option");
  }
  Require(parser.deviceId_ < 64 && AllBelow(parser.resIds_, 64) && AllBelow(parser.devIds_, 64),
          "device id out of 0..63");
  Require(parser.vfId_ <= 16, "vfId out of 0..16");
  Require(parser.deployMode_ <= 2, "deployMode out of 0..2");
  Require(parser.reschedInterval_ >= -1 && parser.reschedInterval_ <= 1000,
          "reschedInterval out of -1..1000");
  Require(parser.abnormalInterval_ >= 0 && parser.abnormalInterval_ <= 1000,
          "abnormalInterval out of 0..1000");
  Require(parser.logLevel_ >= 0 && parser.logLevel_ < 100 && parser.eventLevel_ >= 0,
          "log level not value % 100 and event level not value / 100");
  Require(!parser.withHostPid_ || parser.hostPid_ > 0, "pid 0 accepted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  test_doubles::Reset();  // every answer 1: each record is formatted
  std::vector<std::string> args = SplitArguments(data, size);
  static char programPath[] = "qs_launcher";
  std::vector<char *> argv = {programPath};
  for (std::string &arg : args) {
    argv.push_back(&arg[0]);
  }
  argv.push_back(nullptr);

  qs_launcher::ArgsParser parser;
  const bool accepted = parser.ParseArgs(static_cast<int>(argv.size() - 1), argv.data());
  CheckParsedFields(parser, accepted);
  Require(parser.GetParasSummary().rfind("deviceId=", 0) == 0, "summary does not start right");
  for (const test_doubles::LogRecord &record : test_doubles::Records()) {
    Require(record.format.rfind(BQS_LOG_PREFIX, 0) == 0, "record format is not a literal");
  }
  return 0;
}
