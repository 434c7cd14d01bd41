// The soft queue: a large host-side ring of frames waiting for the board.
// A stored frame is L, the controller id and the L-2 payload bytes (no start
// byte, no checksum). The caller holds the queue transfer lock around a
// whole push or pop; the ring lock guards the indices and counters.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace voxa {

class SoftQueue {
 public:
  static constexpr int32_t kDefaultCapacity = 0xA00000;

  // Reserves the storage; its pages are not touched until frames pass.
  // Returns 0 when storage is already held or cannot be had.
  int Allocate(int32_t capacity);
  void Free();
  // Stores one frame (bytes = L, id, payload); 0 when it does not fit, -1
  // when the queue holds no storage.
  int Push(const uint8_t* stored_frame);
  // Takes one frame into out (L, id, payload); returns its size or 0. A
  // corrupted ring is emptied; *failure then holds the error counter's value
  // before the failure (else -1), for the caller to report once no lock is
  // held.
  int Pop(uint8_t* out, int out_size, int32_t* failure = nullptr);
  void Clear();

  int enabled() { platform::Locked g(ring_lock_); return enabled_; }
  int32_t capacity() { platform::Locked g(ring_lock_); return capacity_; }
  int32_t frames() { platform::Locked g(ring_lock_); return frames_; }
  int32_t used() { platform::Locked g(ring_lock_); return used_; }
  int32_t error_count() { platform::Locked g(ring_lock_); return errors_; }
  platform::CriticalSection& ring_lock() { return ring_lock_; }

 private:
  void CopyIn(const uint8_t* p, int32_t n);
  void CopyOut(uint8_t* p, int32_t n);

  platform::CriticalSection ring_lock_;
  std::unique_ptr<uint8_t[]> storage_;
  int enabled_ = 0;
  int32_t capacity_ = 0;
  int32_t write_ = 0;
  int32_t read_ = 0;
  int32_t used_ = 0;
  int32_t free_ = 0;
  int32_t frames_ = 0;
  int32_t errors_ = 0;
};

}  // namespace voxa
