// An in-process link: what the host writes is handed to a peer function on
// the writer's thread, and the peer's bytes are delivered as if the board
// had sent them. No thread, no system call: for tests, and for a board
// simulated inside the same process.
#pragma once

#include <functional>
#include <mutex>

#include "transport/link.h"

namespace voxa {

class LoopbackLink final : public Link {
 public:
  using Peer = std::function<void(const uint8_t* p, uint32_t n)>;

  LoopbackLink(LinkEvents& events, Peer peer) : Link(events), peer_(std::move(peer)) {}
  ~LoopbackLink() override { Close(); }

  bool Open() override;
  void Close() override;
  bool IsOpen() const override { return open_.load() != 0; }
  bool IsUp() const override { return open_.load() != 0; }

  // The board's bytes: kept and announced on the calling thread, as many as
  // the receive ring has room for (returned).
  uint32_t Deliver(const uint8_t* p, uint32_t n);
  // A state as a real link reports it (VOXA_LINK_...).
  void Report(int state, int reason, int os_error) { events_.OnLinkState(state, reason, os_error); }

 protected:
  void Transmit() override;

 private:
  std::atomic<int> open_{0};
  // Held while bytes go to the peer, so that they reach it in order.
  std::mutex peer_lock_;
  Peer peer_;
};

}  // namespace voxa
