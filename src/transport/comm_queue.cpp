#include <cstdlib>
#include <cstring>

#include "transport/comm.h"

namespace voxa {

CCommQueue::~CCommQueue() { Release(); }

int CCommQueue::Create(uint32_t requested_size) {
  if (created_) return 0;
  uint32_t size = requested_size;
  if (size > 65536) size = 65536;
  if (size < 4096) size = 4096;
  // Not touched until bytes arrive, so an idle ring costs no resident memory.
  auto* storage = static_cast<uint8_t*>(std::malloc(size));
  if (storage == nullptr) return 0;
  storage_ = storage;
  size_ = size;
  write_ = read_ = 0;
  count_ = 0;
  created_ = 1;
  return 1;
}

void CCommQueue::Release() {
  std::free(storage_);
  storage_ = nullptr;
  write_ = read_ = 0;
  count_ = 0;
  created_ = 0;
}

void CCommQueue::Clear() {
  write_ = read_ = 0;
  count_ = 0;
}

int CCommQueue::Push(uint8_t b) {
  if (storage_ == nullptr) return 0;
  uint32_t next = write_ + 1 == size_ ? 0 : write_ + 1;
  if (next == read_) return 0;
  storage_[write_] = b;
  write_ = next;
  ++count_;
  return 1;
}

int CCommQueue::Pop(uint8_t* b) {
  if (storage_ == nullptr || write_ == read_) return 0;
  *b = storage_[read_];
  read_ = read_ + 1 == size_ ? 0 : read_ + 1;
  --count_;
  return 1;
}

uint32_t CCommQueue::PushSome(const uint8_t* p, uint32_t n) {
  if (storage_ == nullptr || n == 0) return 0;
  // Room: one slot always stays empty so that full and empty differ.
  uint32_t used = write_ >= read_ ? write_ - read_ : size_ - read_ + write_;
  uint32_t room = size_ - 1 - used;
  if (n > room) n = room;
  if (n == 0) return 0;
  uint32_t first = size_ - write_;
  if (first > n) first = n;
  std::memcpy(storage_ + write_, p, first);
  std::memcpy(storage_, p + first, n - first);
  write_ += n;
  if (write_ >= size_) write_ -= size_;
  count_ += static_cast<int32_t>(n);
  return n;
}

int CCommQueue::PushBlock(const uint8_t* p, uint32_t n) {
  if (storage_ == nullptr) return 0;
  uint32_t used = write_ >= read_ ? write_ - read_ : size_ - read_ + write_;
  if (n > size_ - 1 - used) return 0;
  return PushSome(p, n) == n || n == 0 ? 1 : 0;
}

uint32_t CCommQueue::Peek(uint8_t* p, uint32_t max) const {
  if (storage_ == nullptr || max == 0) return 0;
  uint32_t used = write_ >= read_ ? write_ - read_ : size_ - read_ + write_;
  uint32_t n = used < max ? used : max;
  if (n == 0) return 0;
  uint32_t first = size_ - read_;
  if (first > n) first = n;
  std::memcpy(p, storage_ + read_, first);
  std::memcpy(p + first, storage_, n - first);
  return n;
}

void CCommQueue::Discard(uint32_t n) {
  if (n > static_cast<uint32_t>(count_)) n = static_cast<uint32_t>(count_);
  read_ += n;
  if (read_ >= size_) read_ -= size_;
  count_ -= static_cast<int32_t>(n);
}

uint32_t CCommQueue::PopBlock(uint8_t* p, uint32_t max) {
  const uint32_t n = Peek(p, max);
  Discard(n);
  return n;
}

}  // namespace voxa
