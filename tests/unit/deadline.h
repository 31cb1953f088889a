// A test that waits for something that never happens would otherwise block until ctest's own
// timeout; a Deadline ends the process early instead, naming what it waited for.
#ifndef QS_TESTS_UNIT_DEADLINE_H_
#define QS_TESTS_UNIT_DEADLINE_H_

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace unit {

constexpr std::chrono::seconds kDeadline(10);

// Unless destroyed within 10 s, writes "<what> did not happen within 10 s" to stderr and ends
// the process with status 1: the waiting thread may be stuck where no assertion can reach it.
class Deadline {
 public:
  explicit Deadline(std::string what)
      : watcher_([this, what = std::move(what)] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!wake_.wait_for(lock, kDeadline, [this] { return met_; })) {
            const std::string message =
                what + " did not happen within " + std::to_string(kDeadline.count()) + " s\n";
            const ssize_t written = write(STDERR_FILENO, message.data(), message.size());
            (void)written;
            std::_Exit(1);
          }
        }) {}

  ~Deadline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      met_ = true;
    }
    wake_.notify_one();
    watcher_.join();
  }

  Deadline(const Deadline &) = delete;
  Deadline &operator=(const Deadline &) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool met_ = false;
  std::thread watcher_;  // last: starts once the members above exist
};

}  // namespace unit

#endif  // QS_TESTS_UNIT_DEADLINE_H_
