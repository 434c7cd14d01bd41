// What the stream socket does the same way on every system.
#include <chrono>

#include "platform/listener.h"

namespace voxa::platform {

size_t StreamSocket::SendAll(const uint8_t* data, size_t n, uint32_t timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  size_t done = 0;
  while (done < n) {
    long r = Send(data + done, n - done);
    if (r == kClosed) break;
    if (r > 0) {
      done += static_cast<size_t>(r);
      continue;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    WaitItem room;
    room.fd = fd_;
    room.want_write = true;
    if (WaitReady(&room, 1, static_cast<int>(left)) < 0) break;
  }
  return done;
}

}  // namespace voxa::platform
