// Baseline of the benchmarks: loaded with the launcher's libraries and flags, it catches SIGTERM,
// sleeps until it arrives and exits 0, and does nothing else. With --worker it also runs one idle
// thread that it wakes and joins before exiting, as the stand-in queue scheduler does, which
// tells the launcher's own share of the stop time from the queue scheduler's.
#include <signal.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

volatile sig_atomic_t g_stopRequested = 0;

void OnSigterm(int /*signalNumber*/) { g_stopRequested = 1; }

class IdleWorker {
 public:
  IdleWorker()
      : thread_([this] {
          std::unique_lock<std::mutex> lock(mutex_);
          wake_.wait(lock, [this] { return stopping_; });
        }) {}
  ~IdleWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

void SleepUntilSigterm() {
  // SIGTERM stays blocked outside sigsuspend, so it cannot land between the test and the sleep.
  sigset_t sigterm;
  sigset_t unblocked;
  sigemptyset(&sigterm);
  sigaddset(&sigterm, SIGTERM);
  sigprocmask(SIG_BLOCK, &sigterm, &unblocked);
  struct sigaction action {};
  action.sa_handler = OnSigterm;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  while (g_stopRequested == 0) {
    sigsuspend(&unblocked);
  }
}

}  // namespace

int main(int argc, char *argv[]) {
  if (argc > 1 && std::strcmp(argv[1], "--worker") == 0) {
    IdleWorker worker;
    SleepUntilSigterm();
  } else {
    SleepUntilSigterm();
  }
  return 0;
}
