// A byte ring of a fixed size that carries its own lock. Every link has two:
// the bytes received from the board, and the bytes waiting to go to it.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/platform.h"

namespace voxa {

class ByteRing {
 public:
  // The size is clamped to 4096..65536; the ring holds at most size-1
  // bytes. Storage is allocated but not touched until bytes arrive, so an
  // idle ring costs no resident memory. Without storage (allocation failed)
  // every push and pop does nothing.
  explicit ByteRing(uint32_t requested_size);
  ~ByteRing();
  ByteRing(const ByteRing&) = delete;
  ByteRing& operator=(const ByteRing&) = delete;

  bool HasStorage() const { return storage_ != nullptr; }
  uint32_t Size() const { return size_; }
  uint32_t Count();
  // Bytes a push can still store.
  uint32_t Room();
  bool Empty() { return Count() == 0; }
  void Clear();

  bool Push(uint8_t b);
  bool Pop(uint8_t* b);
  // Stores all n bytes or none.
  bool PushBlock(const uint8_t* p, uint32_t n);
  // Stores as many of the n bytes as fit and returns how many.
  uint32_t PushSome(const uint8_t* p, uint32_t n);
  // Takes up to max bytes and returns how many; *stream (when given) is the
  // number of the stream they belong to.
  uint32_t PopBlock(uint8_t* p, uint32_t max, uint32_t* stream = nullptr);
  // Copies up to max bytes from the front without taking them; Discard then
  // takes n of them.
  uint32_t Peek(uint8_t* p, uint32_t max);
  void Discard(uint32_t n);

  // Starts a new stream: what the ring holds is dropped and the stream
  // number advances, so that a reader starts afresh on the new bytes.
  void Restart();

  // Waits for bytes to leave the ring. Arm comes before the look at the
  // room, so that bytes leaving in between still end the wait; WakeWaiters
  // ends every such wait at once (a close).
  void ArmRoomWait() { room_.Reset(); }
  void WaitRoom(uint32_t ms) { room_.Wait(ms); }
  void WakeWaiters() { room_.Set(); }

 private:
  uint32_t UsedLocked() const { return write_ >= read_ ? write_ - read_ : size_ - read_ + write_; }
  uint32_t PushLocked(const uint8_t* p, uint32_t n);
  uint32_t PeekLocked(uint8_t* p, uint32_t max) const;
  void DiscardLocked(uint32_t n);

  // Guards the indices, the stream number and the bytes between them;
  // innermost: nothing is called while it is held.
  std::mutex lock_;
  uint8_t* storage_ = nullptr;
  uint32_t size_ = 0;
  uint32_t write_ = 0;   // lock
  uint32_t read_ = 0;    // lock
  uint32_t stream_ = 0;  // lock
  platform::Event room_{true};  // set whenever bytes leave the ring
};

}  // namespace voxa
