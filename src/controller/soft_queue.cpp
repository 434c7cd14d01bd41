#include "controller/soft_queue.h"

#include <cstring>
#include <new>

namespace voxa {

int SoftQueue::Allocate(int32_t capacity) {
  if (capacity <= 0) return 0;
  {
    platform::Locked g(ring_lock_);
    if (storage_) return 0;
  }
  // Default-initialised: the allocator maps fresh pages and nothing touches
  // them until frames are stored.
  std::unique_ptr<uint8_t[]> storage(new (std::nothrow) uint8_t[static_cast<size_t>(capacity)]);
  if (!storage) return 0;
  platform::Locked g(ring_lock_);
  if (storage_) return 0;
  storage_ = std::move(storage);
  enabled_ = 1;
  capacity_ = capacity;
  write_ = read_ = used_ = frames_ = 0;
  free_ = capacity;
  return 1;
}

void SoftQueue::Free() {
  platform::Locked g(ring_lock_);
  storage_.reset();
  enabled_ = 0;
  capacity_ = write_ = read_ = used_ = free_ = frames_ = 0;
}

void SoftQueue::CopyIn(const uint8_t* p, int32_t n) {
  int32_t first = capacity_ - write_;
  if (first > n) first = n;
  std::memcpy(storage_.get() + write_, p, static_cast<size_t>(first));
  std::memcpy(storage_.get(), p + first, static_cast<size_t>(n - first));
  write_ = (write_ + n) % capacity_;
  used_ += n;
  free_ -= n;
}

void SoftQueue::CopyOut(uint8_t* p, int32_t n) {
  int32_t first = capacity_ - read_;
  if (first > n) first = n;
  std::memcpy(p, storage_.get() + read_, static_cast<size_t>(first));
  std::memcpy(p + first, storage_.get(), static_cast<size_t>(n - first));
  read_ = (read_ + n) % capacity_;
  used_ -= n;
  free_ += n;
}

int SoftQueue::Push(const uint8_t* stored_frame) {
  const int32_t len = stored_frame[0] & 0x7F;  // L bytes are stored: L, id, payload
  platform::Locked g(ring_lock_);
  if (!enabled_) return -1;
  if (free_ <= len + 256) return 0;
  // The frame goes in whole, so a clear or a pop never finds half of it.
  CopyIn(stored_frame, len);
  ++frames_;
  return 1;
}

int SoftQueue::Pop(uint8_t* out, int out_size, int32_t* failure) {
  if (failure) *failure = -1;
  platform::Locked g(ring_lock_);
  if (!enabled_) return 0;
  if (used_ < 1) {
    frames_ = 0;
    return 0;
  }
  const int32_t len = storage_[read_] & 0x7F;
  if (len < 2 || used_ < len || len > out_size) {
    // A stored frame is always whole; anything else means the ring was
    // corrupted. Drop what is there rather than send garbage.
    if (failure) *failure = errors_;
    ++errors_;
    write_ = read_ = used_ = frames_ = 0;
    free_ = capacity_;
    return 0;
  }
  CopyOut(out, len);
  if (frames_ > 0) --frames_;
  return len;
}

void SoftQueue::Clear() {
  platform::Locked g(ring_lock_);
  write_ = read_ = used_ = frames_ = 0;
  free_ = capacity_;
}

}  // namespace voxa
