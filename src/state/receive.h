// The receive path: the frame state machine (pure, byte by byte), the
// packet dispatcher and the decoders of state packets and read replies.
#pragma once

#include <atomic>
#include <cstdint>

#include "state/state_mirror.h"

namespace voxa {

// One received frame as the state machine leaves it.
struct RxFrame {
  uint8_t bytes[130] = {};  // start byte .. checksum (at index n + 1)
  int n = 0;          // length byte AND 0x7F: bytes after the length byte, checksum included
  uint8_t checksum = 0;
  int body_count = 0;  // n - 2: type, payload and tag bytes
  uint8_t tag = 0;     // the last body byte (byte n)

  int type() const { return n >= 3 ? (bytes[3] & 0x7F) : -1; }
  // Bytes 4..7 little-endian; bytes past the body count as zero.
  uint32_t payload_word() const {
    uint32_t w = 0;
    for (int k = 0; k < 4; ++k)
      if (4 + k <= n) w |= static_cast<uint32_t>(bytes[4 + k]) << (8 * k);
    return w;
  }
};

// Reassembles frames from a byte stream and resynchronises on 0xFE. After a
// frame fails its checksum, the bytes after its start byte are searched
// again: a start byte among them (the length, body or checksum of the failed
// frame may be the start of the next frame, when junk began the failed one)
// is taken up as if it had just arrived, so junk costs no intact frame.
class FrameParser {
 public:
  // Feeds a block of bytes, calling on_frame(frame) for every complete
  // frame with a good checksum before the bytes after it are taken (the
  // frame is valid only during the call). Body bytes are copied in runs.
  template <class OnFrame>
  void FeedBlock(const uint8_t* p, size_t n, OnFrame&& on_frame) {
    size_t k = 0;
    while (k < n) {
      if (state_ == 3) {
        const int remaining = f_.n - 1 - i_;  // body bytes before the checksum
        if (remaining > 0) {
          size_t m = static_cast<size_t>(remaining);
          if (m > n - k) m = n - k;
          uint8_t* dst = f_.bytes + 3 + j_;
          unsigned sum = sum_;
          for (size_t q = 0; q < m; ++q) {
            dst[q] = p[k + q];
            sum += p[k + q];
          }
          sum_ = static_cast<uint8_t>(sum);
          i_ += static_cast<int>(m);
          j_ += static_cast<int>(m);
          k += m;
          continue;
        }
      }
      const Step r = Take(p[k++]);
      if (r == Step::kFrame)
        on_frame(f_);
      else if (r == Step::kFailed)
        Rescan(on_frame);
    }
  }
  template <class OnFrame>
  void Feed(uint8_t b, OnFrame&& on_frame) {
    FeedBlock(&b, 1, on_frame);
  }
  const RxFrame& frame() const { return f_; }
  void Reset() {
    state_ = 0;
    replay_at_ = replay_end_ = 0;
  }
  int state() const { return state_; }

 private:
  enum class Step { kNone, kFrame, kFailed };
  // One step of the state machine; kFailed for a frame whose checksum
  // failed and whose bytes after the length and id hold a start byte.
  Step Take(uint8_t b);
  // Queues the failed frame's bytes from the first start byte after its own
  // ahead of what is still queued.
  void Requeue();
  // Takes up the failed frame's bytes again, and the bytes of any frame
  // that fails among them, before the caller's next byte.
  template <class OnFrame>
  [[gnu::cold, gnu::noinline]] void Rescan(OnFrame& on_frame) {
    Requeue();
    while (replay_at_ < replay_end_) {
      const Step r = Take(replay_[replay_at_++]);
      if (r == Step::kFrame)
        on_frame(f_);
      else if (r == Step::kFailed)
        Requeue();
    }
  }

  RxFrame f_;
  int state_ = 0;
  uint8_t sum_ = 0;
  int i_ = 0;
  int j_ = 0;
  // Bytes to take again. A failed frame spans at most 128 bytes from its
  // start byte, and every frame that fails while they are taken again
  // starts after that byte, so what is queued never reaches past them.
  uint8_t replay_[128];
  int replay_at_ = 0;
  int replay_end_ = 0;
};

// Counters of the board's own packets, incremented by the receive thread.
struct PacketCounters {
  std::atomic<uint32_t> heartbeat{0};
  std::atomic<uint32_t> busy{0};
  std::atomic<uint32_t> complete{0};
  std::atomic<uint32_t> interrupt{0};
  std::atomic<uint32_t> event{0};
};

// What the dispatcher tells the rest of the controller.
class ReceiveEvents {
 public:
  virtual ~ReceiveEvents() = default;
  // A complete state packet (after the count was incremented).
  virtual void OnComplete(uint32_t payload_word) = 0;
  // An event state packet (after the count was incremented).
  virtual void OnEventPacket(uint32_t payload_word) = 0;
  // Every frame that passed the checksum, for tracing.
  virtual void OnFrame(const uint8_t* /*frame*/, int /*size*/) {}
  // A read reply of register r was applied; tag is the tag byte that
  // followed its values, or -1 when none did.
  virtual void OnReadReply(int /*r*/, int /*tag*/) {}
};

// Decoders; both return 1 when applied, 0 when rejected, and add the
// registers they changed to *updated when it is given (bit r: register r).
int DecodeStatePacket(StateMirror& m, const RxFrame& f, uint32_t* updated = nullptr);
// A read reply's tag byte (after the values), or -1, goes to *tag.
int DecodeReadReply(StateMirror& m, const RxFrame& f, int type, uint32_t* updated = nullptr, int* tag = nullptr);
// Host-side limit handling for engines up to version 205.
void OldEngineLimitCheck(StateMirror& m);
// Major*100 + minor of the engine version in CHIPSTATUS word 7.
int EngineVersion(uint32_t chipstatus7);

// Runs the handler of the frame's packet type; 1 accepted, 0 not. With
// updated given, the registers the board reported in the frame (a state
// packet's units or a read reply) are added to it.
int DispatchFrame(StateMirror& m, PacketCounters& c, ReceiveEvents* ev, const RxFrame& f,
                  uint32_t* updated = nullptr);

}  // namespace voxa
