#include "transport/byte_ring.h"

#include <cstdlib>
#include <cstring>

namespace voxa {

ByteRing::ByteRing(uint32_t requested_size) {
  uint32_t size = requested_size;
  if (size > 65536) size = 65536;
  if (size < 4096) size = 4096;
  storage_ = static_cast<uint8_t*>(std::malloc(size));
  size_ = storage_ != nullptr ? size : 0;
}

ByteRing::~ByteRing() { std::free(storage_); }

uint32_t ByteRing::Count() {
  std::lock_guard<std::mutex> g(lock_);
  return storage_ != nullptr ? UsedLocked() : 0;
}

uint32_t ByteRing::Room() {
  std::lock_guard<std::mutex> g(lock_);
  return storage_ != nullptr ? size_ - 1 - UsedLocked() : 0;
}

void ByteRing::Clear() {
  {
    std::lock_guard<std::mutex> g(lock_);
    write_ = read_ = 0;
  }
  room_.Set();
}

void ByteRing::Restart() {
  {
    std::lock_guard<std::mutex> g(lock_);
    write_ = read_ = 0;
    ++stream_;
  }
  room_.Set();
}

uint32_t ByteRing::PushLocked(const uint8_t* p, uint32_t n) {
  // One slot always stays empty so that full and empty differ.
  const uint32_t room = size_ - 1 - UsedLocked();
  if (n > room) n = room;
  if (n == 0) return 0;
  uint32_t first = size_ - write_;
  if (first > n) first = n;
  std::memcpy(storage_ + write_, p, first);
  std::memcpy(storage_, p + first, n - first);
  write_ += n;
  if (write_ >= size_) write_ -= size_;
  return n;
}

uint32_t ByteRing::PeekLocked(uint8_t* p, uint32_t max) const {
  const uint32_t used = UsedLocked();
  const uint32_t n = used < max ? used : max;
  if (n == 0) return 0;
  uint32_t first = size_ - read_;
  if (first > n) first = n;
  std::memcpy(p, storage_ + read_, first);
  std::memcpy(p + first, storage_, n - first);
  return n;
}

void ByteRing::DiscardLocked(uint32_t n) {
  const uint32_t used = UsedLocked();
  if (n > used) n = used;
  read_ += n;
  if (read_ >= size_) read_ -= size_;
}

bool ByteRing::Push(uint8_t b) { return PushSome(&b, 1) == 1; }

bool ByteRing::Pop(uint8_t* b) { return PopBlock(b, 1) == 1; }

bool ByteRing::PushBlock(const uint8_t* p, uint32_t n) {
  if (storage_ == nullptr || p == nullptr) return false;
  std::lock_guard<std::mutex> g(lock_);
  if (n > size_ - 1 - UsedLocked()) return false;
  PushLocked(p, n);
  return true;
}

uint32_t ByteRing::PushSome(const uint8_t* p, uint32_t n) {
  if (storage_ == nullptr || p == nullptr) return 0;
  std::lock_guard<std::mutex> g(lock_);
  return PushLocked(p, n);
}

uint32_t ByteRing::PopBlock(uint8_t* p, uint32_t max, uint32_t* stream) {
  if (storage_ == nullptr || p == nullptr) return 0;
  uint32_t n;
  {
    std::lock_guard<std::mutex> g(lock_);
    n = PeekLocked(p, max);
    DiscardLocked(n);
    if (stream != nullptr) *stream = stream_;
  }
  if (n > 0) room_.Set();
  return n;
}

uint32_t ByteRing::Peek(uint8_t* p, uint32_t max) {
  if (storage_ == nullptr || p == nullptr) return 0;
  std::lock_guard<std::mutex> g(lock_);
  return PeekLocked(p, max);
}

void ByteRing::Discard(uint32_t n) {
  if (storage_ == nullptr || n == 0) return;
  {
    std::lock_guard<std::mutex> g(lock_);
    DiscardLocked(n);
  }
  room_.Set();
}

}  // namespace voxa
