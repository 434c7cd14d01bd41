#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace voxa::platform {

// A re-entrant lock that knows its owner, so that a release by a thread that
// does not hold it is refused instead of corrupting the lock.
class OwnedLock {
 public:
  void Enter() {
    if (owner_.load() == std::this_thread::get_id()) {
      ++depth_;
      return;
    }
    m_.lock();
    owner_.store(std::this_thread::get_id());
    depth_ = 1;
  }
  // Returns false when the calling thread does not hold the lock.
  bool Leave() {
    if (owner_.load() != std::this_thread::get_id()) return false;
    if (--depth_ == 0) {
      owner_.store(std::thread::id());
      m_.unlock();
    }
    return true;
  }
  bool HeldByMe() const { return owner_.load() == std::this_thread::get_id(); }

 private:
  std::mutex m_;
  std::atomic<std::thread::id> owner_{};
  int depth_ = 0;  // touched by the owner only
};

}  // namespace voxa::platform
