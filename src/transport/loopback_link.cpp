#include "transport/loopback_link.h"

namespace voxa {

bool LoopbackLink::Open() {
  rx_.Restart();
  tx_.Clear();
  SetOpenFailure(OpenFailureKind::kNone, 0);
  open_.store(1);
  return true;
}

void LoopbackLink::Close() {
  open_.store(0);
  tx_.WakeWaiters();
}

uint32_t LoopbackLink::Deliver(const uint8_t* p, uint32_t n) {
  if (!open_.load() || p == nullptr) return 0;
  const uint32_t room = rx_.Room();
  if (n > room) n = room;
  KeepReceived(p, n);
  if (n > 0) events_.OnReceived();
  return n;
}

void LoopbackLink::Transmit() {
  std::lock_guard<std::mutex> g(peer_lock_);
  uint8_t buf[1024];
  while (const uint32_t n = tx_.PopBlock(buf, sizeof buf))
    if (open_.load() && peer_) peer_(buf, n);
}

}  // namespace voxa
