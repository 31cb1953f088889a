// Sends SIGTERM from another thread once the launcher's handler is installed (the readiness
// handshake: the handler shows in sigaction), never after a guessed sleep.
#ifndef QS_TESTS_UNIT_SIGTERM_SENDER_H_
#define QS_TESTS_UNIT_SIGTERM_SENDER_H_

#include <signal.h>
#include <unistd.h>

#include <optional>
#include <thread>

#include "main/shutdown_wait.h"
#include "unit/deadline.h"

namespace unit {

inline bool SigtermHandlerInstalled() {
  struct sigaction current {};
  sigaction(SIGTERM, nullptr, &current);
  return current.sa_handler == qs_launcher::SigtermHandler;
}

// Spins until the handler shows, for up to 10 s.
inline void AwaitSigtermHandler() {
  const Deadline deadline("the SIGTERM handler installed");
  while (!SigtermHandlerInstalled()) {
    std::this_thread::yield();
  }
}

// The sender is to be destroyed once the wait has ended, within 10 s of the signal.
class SigtermSender {
 public:
  SigtermSender()
      : thread_([this] {
          AwaitSigtermHandler();
          stopped_.emplace("WaitShutdown returned after SIGTERM");
          kill(getpid(), SIGTERM);
        }) {}
  // The thread ends right after the signal, so the join is quick; the deadline goes after it.
  ~SigtermSender() { thread_.join(); }

  SigtermSender(const SigtermSender &) = delete;
  SigtermSender &operator=(const SigtermSender &) = delete;

 private:
  std::optional<Deadline> stopped_;  // set by the thread only, before the destructor reads it
  std::thread thread_;
};

}  // namespace unit

#endif  // QS_TESTS_UNIT_SIGTERM_SENDER_H_
