// Whether a thread sleeps in poll(), as /proc shows it. A test that signals to wake a waiter
// first observes that the waiter sleeps: a lost wake-up then hangs every time, not now and then.
#ifndef QS_TESTS_ASLEEP_IN_POLL_H_
#define QS_TESTS_ASLEEP_IN_POLL_H_

#include <sys/syscall.h>
#include <sys/types.h>

#include <fstream>
#include <string>

namespace test_support {

// glibc's poll() is the poll system call where the architecture has one, else ppoll (arm64).
#ifdef SYS_poll
constexpr long kPollSyscallNumber = SYS_poll;
#else
constexpr long kPollSyscallNumber = SYS_ppoll;
#endif

// Natively the thread's system call tells. Under the user-mode emulator of another processor
// /proc shows the emulator's own system call, numbered as on the host: there the kernel's wait
// channel tells (poll_schedule_timeout).
inline bool AsleepInPoll(pid_t pid, pid_t tid) {
  const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid);
  if (QS_FOREIGN_PROCESSOR) {
    std::ifstream wchan(task + "/wchan");
    std::string where;
    return wchan >> where && where.find("poll") != std::string::npos;
  }
  std::ifstream syscall(task + "/syscall");
  long number = -1;
  return syscall >> number && number == kPollSyscallNumber;
}

}  // namespace test_support

#endif  // QS_TESTS_ASLEEP_IN_POLL_H_
