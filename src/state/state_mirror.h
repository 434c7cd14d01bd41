// The host-side mirror of a board: the register image the exports read and
// write, the received image the receive path fills, and the capture ring.
// Every access holds the state lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "state/registers.h"

namespace voxa {

class StateMirror {
 public:
  static constexpr int kCaptureEntries = 10000;

  StateMirror();
  StateMirror(const StateMirror&) = delete;
  StateMirror& operator=(const StateMirror&) = delete;

  platform::CriticalSection& Lock() { return lock_; }

  // The six operations on the register image.
  uint32_t GetRegWord(int r, int i);
  void SetRegWord(int r, int i, uint32_t value);
  void OrRegBits(int r, int i, uint32_t bits);
  void ClrRegBits(int r, int i, uint32_t bits);
  void SetRegField(int r, int i, uint32_t mask, uint32_t value);
  uint32_t TestRegBits(int r, int i, uint32_t mask);

  // Raw access for code that already holds the state lock.
  uint32_t* Image() { return image_; }
  uint32_t* Received() { return received_; }

  // Capture ring (entries of eight words); access under the state lock.
  uint32_t* CaptureEntry(int index) { return capture_.get() + static_cast<size_t>(index) * kWords; }
  int32_t capture_index = 0;
  int32_t capture_count = 0;
  void ClearCapture();

 private:
  static int At(int r, int i) { return (r & 31) * kWords + (i & 7); }
  platform::CriticalSection lock_;
  uint32_t image_[kImageWords] = {};
  uint32_t received_[kImageWords] = {};
  // 320 KB per board: zeroed pages from the allocator, not touched until used.
  std::unique_ptr<uint32_t[], void (*)(void*)> capture_;
};

}  // namespace voxa
