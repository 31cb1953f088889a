// Sends SIGTERM from another thread once the launcher's handler is installed (the readiness
// handshake: the handler shows in sigaction), never after a guessed sleep.
#ifndef QS_TESTS_UNIT_SIGTERM_SENDER_H_
#define QS_TESTS_UNIT_SIGTERM_SENDER_H_

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "main/shutdown_wait.h"

namespace unit {

inline bool SigtermHandlerInstalled() {
  struct sigaction current {};
  sigaction(SIGTERM, nullptr, &current);
  return current.sa_handler == qs_launcher::SigtermHandler;
}

class SigtermSender {
 public:
  SigtermSender()
      : thread_([] {
          while (!SigtermHandlerInstalled()) {
            std::this_thread::yield();
          }
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
