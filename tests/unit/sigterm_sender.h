// Sends SIGTERM from another thread once the launcher's handler is installed (the readiness
// handshake: the handler shows in sigaction), never after a guessed sleep.
#ifndef QS_TESTS_UNIT_SIGTERM_SENDER_H_
#define QS_TESTS_UNIT_SIGTERM_SENDER_H_

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "main/shutdown_wait.h"

namespace unit {

inline bool SigtermHandlerInstalled() {
  struct sigaction current {};
  sigaction(SIGTERM, nullptr, &current);
  return current.sa_handler == qs_launcher::SigtermHandler;
}

// ThreadSanitizer loses a signal that arrives while its sigaction interceptor is still running,
// right after the handler shows as installed; under it the sender first lets the waiter get past
// that. (Reading the waiter's state from /proc is no way: one test leaves no descriptor free.)
#if defined(__SANITIZE_THREAD__)
#define QS_UNIT_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QS_UNIT_THREAD_SANITIZER 1
#endif
#endif

inline void LetWaiterPastSigaction() {
#ifdef QS_UNIT_THREAD_SANITIZER
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
#endif
}

class SigtermSender {
 public:
  SigtermSender()
      : thread_([] {
          while (!SigtermHandlerInstalled()) {
            std::this_thread::yield();
          }
          LetWaiterPastSigaction();
          kill(getpid(), SIGTERM);
        }) {}
  ~SigtermSender() { thread_.join(); }

  SigtermSender(const SigtermSender &) = delete;
  SigtermSender &operator=(const SigtermSender &) = delete;

 private:
  std::thread thread_;
};

}  // namespace unit

#endif  // QS_TESTS_UNIT_SIGTERM_SENDER_H_
