// Whether a thread sleeps in the shutdown wait's poll(): one descriptor, no time-out, as /proc
// shows it. A test that signals to wake a waiter first observes that the waiter sleeps: a lost
// wake-up then hangs every time, not now and then. The wait's fallback, poll(nullptr, 0, 50),
// and a select() sleep in the same kernel function and must not count.
#ifndef QS_TESTS_ASLEEP_IN_POLL_H_
#define QS_TESTS_ASLEEP_IN_POLL_H_

#include <sys/syscall.h>
#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace test_support {

// A system call in which a thread sleeps: its number and its first three arguments.
struct SleepingCall {
  long number = -1;
  unsigned long long args[3] = {};
};

// Numbers of poll and ppoll; -1 where the processor has no poll (arm64, whose C library's poll()
// is ppoll).
struct PollNumbers {
  long poll;
  long ppoll;
};

#ifdef SYS_poll
constexpr PollNumbers kPollNumbers = {SYS_poll, SYS_ppoll};
#else
constexpr PollNumbers kPollNumbers = {-1, SYS_ppoll};
#endif

#if QS_FOREIGN_PROCESSOR
// The host's own numbers, which the emulator's system calls carry.
#if defined(QS_HOST_PROCESSOR_x86_64)
constexpr PollNumbers kHostPollNumbers = {7, 271};
#elif defined(QS_HOST_PROCESSOR_aarch64)
constexpr PollNumbers kHostPollNumbers = {-1, 73};
#else
#error "poll and ppoll numbers of this host processor unknown"
#endif
#endif

// /proc/PID/task/TID/syscall: "number arg1 ... arg6 sp pc", the arguments in hexadecimal, while
// the thread is in a system call; "running" or "-1 sp pc" otherwise.
inline bool ReadSleepingCall(const std::string &task, SleepingCall *call) {
  std::ifstream line(task + "/syscall");
  if (!(line >> call->number) || call->number < 0) {
    return false;
  }
  for (unsigned long long &arg : call->args) {
    if (!(line >> std::hex >> arg)) {
      return false;
    }
  }
  return true;
}

// poll(fds, 1, -1) or ppoll(fds, 1, NULL, ...). poll's time-out is an int: its 32 bits show
// (0xffffffff), sign-extended or not.
inline bool WaitsForOneDescriptorForever(const SleepingCall &call, const PollNumbers &numbers) {
  if (call.args[1] != 1) {
    return false;
  }
  if (call.number == numbers.poll) {
    return static_cast<uint32_t>(call.args[2]) == UINT32_MAX;
  }
  return call.number == numbers.ppoll && call.args[2] == 0;
}

// Natively the thread's own system call tells. Under the user-mode emulator of another processor
// /proc shows the emulator's system call, which is the host's: the emulator turns the program's
// ppoll into a host ppoll with the same count and time-out (a copy of the descriptors, so their
// address says nothing). Its wait channel alone, poll_schedule_timeout, is where poll, ppoll,
// select and pselect all sleep, with or without a time-out.
inline bool AsleepInPoll(pid_t pid, pid_t tid) {
  const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid);
  SleepingCall call;
  if (!ReadSleepingCall(task, &call)) {
    return false;
  }
#if QS_FOREIGN_PROCESSOR
  std::ifstream wchan(task + "/wchan");
  std::string where;
  return wchan >> where && where.rfind("poll_schedule_timeout", 0) == 0 &&
         WaitsForOneDescriptorForever(call, kHostPollNumbers);
#else
  return WaitsForOneDescriptorForever(call, kPollNumbers);
#endif
}

}  // namespace test_support

#endif  // QS_TESTS_ASLEEP_IN_POLL_H_
