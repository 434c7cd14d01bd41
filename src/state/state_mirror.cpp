#include "state/state_mirror.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace voxa {

StateMirror::StateMirror()
    : capture_(static_cast<uint32_t*>(std::calloc(static_cast<size_t>(kCaptureEntries) * kWords, sizeof(uint32_t))),
               &std::free) {
  if (!capture_) throw std::bad_alloc();
}

uint32_t StateMirror::GetRegWord(int r, int i) {
  platform::Locked g(lock_);
  return image_[At(r, i)];
}

void StateMirror::SetRegWord(int r, int i, uint32_t value) {
  platform::Locked g(lock_);
  image_[At(r, i)] = value;
}

void StateMirror::OrRegBits(int r, int i, uint32_t bits) {
  platform::Locked g(lock_);
  image_[At(r, i)] |= bits;
}

void StateMirror::ClrRegBits(int r, int i, uint32_t bits) {
  platform::Locked g(lock_);
  image_[At(r, i)] &= ~bits;
}

void StateMirror::SetRegField(int r, int i, uint32_t mask, uint32_t value) {
  platform::Locked g(lock_);
  uint32_t& w = image_[At(r, i)];
  w = (w & ~mask) | (value & mask);
}

uint32_t StateMirror::TestRegBits(int r, int i, uint32_t mask) {
  platform::Locked g(lock_);
  return image_[At(r, i)] & mask;
}

void StateMirror::ClearCapture() {
  platform::Locked g(lock_);
  std::memset(capture_.get(), 0, static_cast<size_t>(kCaptureEntries) * kWords * sizeof(uint32_t));
  capture_index = 0;
  capture_count = 0;
}

}  // namespace voxa
