// Waiting for SIGTERM after a successful start.
#ifndef QS_SRC_MAIN_SHUTDOWN_WAIT_H_
#define QS_SRC_MAIN_SHUTDOWN_WAIT_H_

#include <cstdint>

namespace qs_launcher {

// Installs SigtermHandler, unblocks SIGTERM on the calling thread (other signals keep the mask
// they had) and blocks until SIGTERM has been received. Without a wake-up pipe, or while poll()
// fails, it tests the flag every 50 ms instead of sleeping without a timeout.
void WaitShutdown();

// Sets the shutdown flag and wakes the waiter. Async-signal-safe: it may run on any thread,
// including threads of the closed libraries.
void SigtermHandler(int signalNumber);

// Waits for shutdown the way this deployment asks for: the SIGTERM wait when starter is
// non-zero or on the host side, otherwise the device-side wait. Returns the wait status.
int32_t WaitForShutdownRequest(uint32_t starter, uint32_t deviceId, uint32_t hostPid,
                               uint32_t vfId);

}  // namespace qs_launcher

#endif  // QS_SRC_MAIN_SHUTDOWN_WAIT_H_
