// The link to a board, as the controller sees it: open and close, a write
// that never blocks and the room it has, and two callbacks, one for received
// bytes and one for the link's state. Serial, TCP and an in-process loopback
// each implement it; none of them knows the controller.
#pragma once

#include <atomic>
#include <cstdint>

#include "transport/byte_ring.h"

namespace voxa {

// Why the last open of a link failed (the application reads it as
// VOXA_OPEN_..., the same numbers).
enum class OpenFailureKind : int { kNone = 0, kSystem = 1, kNoAnswer = 2, kHeld = 3 };
struct OpenFailure {
  OpenFailureKind kind = OpenFailureKind::kNone;
  int os_error = 0;  // the system's error number, with kSystem
};

// A state a link reports that the application's link handler does not get:
// a system error the link met, for the application's error report (reason:
// the error number). Every other state and reason is VOXA_LINK_... and
// VOXA_LINK_REASON_..., as the link handler gets them.
constexpr int kLinkFault = -1;

// What a link tells its owner, from the link's own thread (or from the
// thread that writes, for a loopback). The owner is set before the open and
// outlives the link's thread.
class LinkEvents {
 public:
  // Bytes wait in the receive ring.
  virtual void OnReceived() = 0;
  // The link went down, is being re-established, is back, or met a fault.
  virtual void OnLinkState(int state, int reason, int os_error) = 0;

 protected:
  ~LinkEvents() = default;
};

class Link {
 public:
  static constexpr uint32_t kRingSize = 0x8000;

  explicit Link(LinkEvents& events) : events_(events) {}
  virtual ~Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Opens the link to the target it was given: true, or false with
  // LastOpenFailure saying why. A new open starts a new stream.
  virtual bool Open() = 0;
  // Returns once the link's own thread has ended; what waits to be sent
  // goes out first where the link can say so. Closing twice does nothing.
  virtual void Close() = 0;
  // Open, even while it re-establishes itself.
  virtual bool IsOpen() const = 0;
  // Bytes can go out now (open, connected, not hung up).
  virtual bool IsUp() const = 0;
  // Hands all n bytes to the link, or none when the transmit ring lacks the
  // room. Never blocks: what the line cannot take now the link's thread
  // sends later; while the link is down the bytes are dropped.
  bool Write(const uint8_t* p, uint32_t n);
  // Bytes Write can take now, and bytes written that wait to go out.
  uint32_t Room() { return tx_.Room(); }
  uint32_t Waiting() { return tx_.Count(); }
  // A wait (at most ms) for room in the transmit ring; Arm before the look
  // at Room, WakeWriters (a close) ends every wait at once.
  void ArmRoomWait() { tx_.ArmRoomWait(); }
  void WaitRoom(uint32_t ms) { tx_.WaitRoom(ms); }
  void WakeWriters() { tx_.WakeWaiters(); }

  // The bytes received: OnReceived follows their arrival. PopBlock tells
  // the stream: a new connection or a new open starts a new one.
  ByteRing& Received() { return rx_; }
  uint32_t ReceivedBytes() const { return rx_bytes_.load(std::memory_order_relaxed); }

  // Serial only: a new bit rate; 0 where it cannot be set.
  virtual int SetRate(uint32_t /*baud*/) { return 0; }
  virtual bool IsTcp() const { return false; }
  // Times the link was lost and re-established itself.
  virtual uint32_t LinkErrorCount() const { return 0; }
  // The device hung up (serial): the link stays down until it is closed.
  virtual bool IsHungUp() const { return false; }

  OpenFailure LastOpenFailure() const;

 protected:
  // Hands what the line takes of the transmit ring to it now, never
  // blocking, or drops it when the link is down.
  virtual void Transmit() = 0;
  void SetOpenFailure(OpenFailureKind kind, int os_error);
  // Received bytes: kept (as many as fit) and counted.
  void KeepReceived(const uint8_t* p, uint32_t n) {
    rx_.PushSome(p, n);
    rx_bytes_.fetch_add(n, std::memory_order_relaxed);
  }

  LinkEvents& events_;
  ByteRing rx_{kRingSize};
  ByteRing tx_{kRingSize};

 private:
  std::atomic<uint32_t> rx_bytes_{0};
  // The kind in the high half, the error number in the low.
  std::atomic<uint64_t> open_failure_{0};
};

}  // namespace voxa
