// Preloaded into a launcher under test (LD_PRELOAD): once a handler for SIGTERM is in place, it
// writes one byte into the FIFO named by QS_READY_FIFO. That byte is the tests' readiness event:
// a SIGTERM sent after it reaches the launcher's handler. It is needed where /proc cannot tell,
// as under the user-mode emulator, which catches nearly every signal itself from its first
// milliseconds, and it costs the launcher's own code no hook.
//
// Both entry points are covered: a program's signal() and sigaction(), and a sanitizer runtime's
// interceptor, which installs the handler through the next sigaction() or signal() it finds.
//
// Once loaded it takes its two variables out of the environment, so that a process the launcher
// or a library starts neither loads the probe nor announces a handler of its own.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kFifoVariable[] = "QS_READY_FIFO";
constexpr char kPreloadVariable[] = "LD_PRELOAD";

// The FIFO's path, kept when the variable leaves the environment; a plain array, which needs no
// guard (see Next).
char g_fifo[4096];

// Looked up at each call, which comes a few times per process: a function-local static would
// need a guard that a sanitizer runtime intercepts, and the first call comes from that runtime's
// own start-up, before it can serve it.
template <typename Function>
Function Next(const char *name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool IsHandler(sighandler_t handler) { return handler != SIG_DFL && handler != SIG_IGN; }

// The reader holds the FIFO open, so a non-blocking open for writing succeeds; without a reader
// (the test gave up) it fails at once and nothing blocks.
void AnnounceSigtermHandler(int signalNumber, bool installsHandler) {
  if (signalNumber != SIGTERM || !installsHandler) {
    return;
  }
  const int savedErrno = errno;
  // Before the constructor (a sanitizer runtime's start-up) the variable is still there.
  // NOLINTNEXTLINE(concurrency-mt-unsafe): only the constructor writes the environment.
  const char *fifo = g_fifo[0] != '\0' ? g_fifo : std::getenv(kFifoVariable);
  const int fd = fifo != nullptr ? open(fifo, O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
  if (fd >= 0) {
    const char byte = 1;
    const ssize_t written = write(fd, &byte, 1);  // a lost byte shows as a readiness time-out
    (void)written;
    close(fd);
  }
  errno = savedErrno;
}

// Runs while the process is still single-threaded, before main.
__attribute__((constructor)) void LeaveTheEnvironment() {
  // NOLINTBEGIN(concurrency-mt-unsafe): no other thread exists yet.
  const char *fifo = std::getenv(kFifoVariable);
  const size_t length = fifo != nullptr ? std::strlen(fifo) : 0;
  if (length < sizeof(g_fifo)) {
    std::memcpy(g_fifo, fifo, length);  // the rest stays zero
  }
  unsetenv(kFifoVariable);
  unsetenv(kPreloadVariable);
  // NOLINTEND(concurrency-mt-unsafe)
}

}  // namespace

extern "C" {

sighandler_t signal(int signalNumber, sighandler_t handler) {
  using SignalFunction = sighandler_t (*)(int, sighandler_t);
  const sighandler_t previous = Next<SignalFunction>("signal")(signalNumber, handler);
  AnnounceSigtermHandler(signalNumber, previous != SIG_ERR && IsHandler(handler));
  return previous;
}

int sigaction(int signalNumber, const struct sigaction *action, struct sigaction *previous) {
  using SigactionFunction = int (*)(int, const struct sigaction *, struct sigaction *);
  const int result = Next<SigactionFunction>("sigaction")(signalNumber, action, previous);
  AnnounceSigtermHandler(
      signalNumber, result == 0 && action != nullptr &&
                        ((action->sa_flags & SA_SIGINFO) != 0 || IsHandler(action->sa_handler)));
  return result;
}

}  // extern "C"
