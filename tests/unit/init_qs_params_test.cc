#include "main/init_qs_params.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace {

using qs_launcher::ArgsParser;
using qs_launcher::FillInitQsParams;
using qs_launcher::ZeroedInitQsParams;

TEST(FillInitQsParams, OtherDeviceFromResourceIds) {
  struct Case {
    uint32_t deviceId;
    std::vector<uint32_t> resIds;
    uint32_t otherDeviceId;
    bool withOtherDevice;
  };
  const Case cases[] = {
      {3, {}, 0, false},          {4, {4}, 0, false},   {4, {4, 9}, 9, true},
      {7, {4, 9}, 4, true},       {4, {4, 4}, 4, true}, {4, {4, 9, 5, 6}, 9, true},
      {5, {4, 9, 5, 6}, 4, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.resIds) + " device " + std::to_string(c.deviceId));
    ArgsParser args;
    ZeroedInitQsParams params;
    FillInitQsParams(params.Get(), c.deviceId, 1, 0, c.resIds, args);
    EXPECT_EQ(params.Get().deviceId_, c.deviceId);
    EXPECT_EQ(params.Get().otherDeviceId_, c.otherDeviceId);
    EXPECT_EQ(params.Get().withOtherDevice_, c.withOtherDevice);
  }
}

TEST(FillInitQsParams, DefaultsAndFixedValues) {
  ArgsParser args;
  ZeroedInitQsParams params;
  FillInitQsParams(params.Get(), 3, 42, 0, {}, args);
  const bqs::InitQsParams &p = params.Get();
  EXPECT_EQ(p.hostPid_, 42U);
  EXPECT_EQ(p.fixedParam1_, 5);
  EXPECT_EQ(p.fixedParam2_, 6);
  EXPECT_EQ(p.fixedParam3_, 8);
  EXPECT_EQ(p.fixedParam4_, 9);
  EXPECT_TRUE(p.fixedFlag_);
  EXPECT_EQ(p.reschedInterval_, 30);
  EXPECT_EQ(p.abnormalInterval_, 10);
  EXPECT_EQ(p.deployMode_, 0U);
  EXPECT_EQ(p.schedPolicy_, 0U);
  EXPECT_EQ(p.starter_, 0U);
  EXPECT_FALSE(p.profFlag_);
  EXPECT_TRUE(p.pidSign_.empty());
  EXPECT_TRUE(p.groupName_.empty());
  EXPECT_TRUE(p.profCfgData_.empty());
  EXPECT_TRUE(p.devIds_.empty());
}

// Copies, not references: later changes to the launch parameters do not reach the record.
TEST(FillInitQsParams, CopiesLaunchParameters) {
  ArgsParser args;
  args.pidSign_ = "sign";
  args.groupName_ = "group";
  args.profCfgData_ = "a=b,c";
  args.devIds_ = {1, 2, 3};
  args.reschedInterval_ = -1;
  args.deployMode_ = 2;
  args.schedPolicy_ = ~0ULL;
  args.starter_ = 0xFFFFFFFFU;
  args.abnormalInterval_ = 1000;
  args.profFlag_ = true;
  ZeroedInitQsParams params;
  FillInitQsParams(params.Get(), 3, 42, 300, {}, args);
  args.groupName_ = "changed";
  args.devIds_.push_back(4);
  const bqs::InitQsParams &p = params.Get();
  EXPECT_EQ(p.vfId_, 300U);  // all 32 bits
  EXPECT_EQ(p.pidSign_, "sign");
  EXPECT_EQ(p.groupName_, "group");
  EXPECT_EQ(p.profCfgData_, "a=b,c");
  EXPECT_EQ(p.devIds_, (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(p.reschedInterval_, -1);
  EXPECT_EQ(p.deployMode_, 2U);
  EXPECT_EQ(p.schedPolicy_, ~0ULL);
  EXPECT_EQ(p.starter_, 0xFFFFFFFFU);
  EXPECT_EQ(p.abnormalInterval_, 1000);
  EXPECT_TRUE(p.profFlag_);
}

// The record crosses into the queue-scheduler library byte for byte: its padding must be zero
// even when the memory it is built in held something else.
TEST(FillInitQsParams, PaddingStaysZeroAndFixedBytesAreLittleEndian) {
  alignas(ZeroedInitQsParams) unsigned char arena[sizeof(ZeroedInitQsParams)];
  std::memset(arena, 0xAA, sizeof(arena));
  auto *holder = new (arena) ZeroedInitQsParams();
  ArgsParser args;
  args.devIds_ = {1};
  FillInitQsParams(holder->Get(), 3, 42, 2, {3, 8}, args);
  unsigned char bytes[128];
  std::memcpy(bytes, static_cast<const void *>(&holder->Get()), sizeof(bytes));
  holder->~ZeroedInitQsParams();

  const unsigned char fixed12[] = {5, 0, 0, 0, 6, 0, 0, 0};
  const unsigned char fixed34[] = {8, 0, 0, 0, 9, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes + 4, fixed12, 8), 0);
  EXPECT_EQ(std::memcmp(bytes + 80, fixed34, 8), 0);
  EXPECT_EQ(bytes[120], 1);
  for (const auto &[begin, end] :
       {std::pair<int, int>{28, 32}, {60, 64}, {77, 80}, {93, 96}, {121, 128}}) {
    for (int i = begin; i < end; ++i) {
      EXPECT_EQ(bytes[i], 0) << "padding byte " << i;
    }
  }
}

}  // namespace
