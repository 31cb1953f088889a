// A record below the log library's level costs one CheckLogLevel call and nothing else: its
// arguments are not built and no heap memory is taken.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "bqs_log/bqs_log.h"
#include "doubles/recorder.h"
#include "sanitizer_build.h"

#ifdef QS_SANITIZER_ALLOCATOR
#include <sanitizer/allocator_interface.h>
#endif

namespace {

// This file is linked into the whole unit-test binary: allocations are counted only on the
// thread that asked for it, and only while it asks.
thread_local bool tls_countAllocations = false;
thread_local long tls_allocations = 0;

void CountAllocation() {
  if (tls_countAllocations) {
    ++tls_allocations;
  }
}

#ifdef QS_SANITIZER_ALLOCATOR
// The sanitizer runtime owns operator new (clang links it statically, so a replacement would be a
// second definition); its malloc hook sees every allocation, operator new's included.
void OnMalloc(const volatile void * /*memory*/, std::size_t /*size*/) { CountAllocation(); }
void OnFree(const volatile void * /*memory*/) {}
void StartCounting() {
  static const bool kInstalled = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
  ASSERT_TRUE(kInstalled);
}
#else
void StartCounting() {}
#endif

class AllocationCounter {
 public:
  AllocationCounter() {
    StartCounting();
    tls_allocations = 0;
    tls_countAllocations = true;
  }
  ~AllocationCounter() { tls_countAllocations = false; }
  AllocationCounter(const AllocationCounter &) = delete;
  AllocationCounter &operator=(const AllocationCounter &) = delete;

  long count() const { return tls_allocations; }
};

}  // namespace

#ifndef QS_SANITIZER_ALLOCATOR
// The array and nothrow forms end up here too.
void *operator new(std::size_t size) {
  CountAllocation();
  if (void *memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}

void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
#endif

namespace {

class LogCostTest : public ::testing::Test {
 protected:
  void SetUp() override { test_doubles::Reset(); }
};

std::string ExpensiveArgument(int &built) {
  ++built;
  return std::string(256, 'x');
}

TEST_F(LogCostTest, CounterSeesAllocations) {
  AllocationCounter counter;
  const std::string text(256, 'x');
  EXPECT_EQ(counter.count(), 1);
}

TEST_F(LogCostTest, RecordBelowLevelCostsOneGateQueryAndNoAllocation) {
  struct Case {
    const char *name;
    std::function<void(int &)> write;
  };
  const Case cases[] = {
      {"info", [](int &built) { BQS_LOG_INFO("v %s", ExpensiveArgument(built).c_str()); }},
      {"warning", [](int &built) { BQS_LOG_WARN("v %s", ExpensiveArgument(built).c_str()); }},
      {"run info", [](int &built) { BQS_RUN_LOG_INFO("v %s", ExpensiveArgument(built).c_str()); }},
      {"run warning",
       [](int &built) { BQS_RUN_LOG_WARN("v %s", ExpensiveArgument(built).c_str()); }},
  };
  // 0: below the level; 2: any answer but 1 counts as "not wanted".
  for (const int answer : {0, 2}) {
    for (const Case &c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", answer " + std::to_string(answer));
      test_doubles::Reset();
      test_doubles::answers().checkAnswer = answer;
      int built = 0;
      long allocations = -1;
      {
        AllocationCounter counter;
        c.write(built);
        allocations = counter.count();
      }
      EXPECT_EQ(allocations, 0);
      EXPECT_EQ(built, 0);
      EXPECT_EQ(test_doubles::CheckCalls().size(), 1U);
      EXPECT_TRUE(test_doubles::Records().empty());
    }
  }
}

}  // namespace
