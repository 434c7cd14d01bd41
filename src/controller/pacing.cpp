#include "controller/pacing.h"

namespace voxa {

void DrainPacer::Restart() {
  std::lock_guard<std::mutex> g(lock_);
  polls_.clear();
  confirmed_ = sent_;
  answering_ = false;
}

void DrainPacer::PollSent(int reg) {
  std::lock_guard<std::mutex> g(lock_);
  if (polls_.size() == kMaxPolls) polls_.pop_front();
  polls_.push_back(Poll{reg, sent_});
}

void DrainPacer::PollAnswered(int reg) {
  std::lock_guard<std::mutex> g(lock_);
  while (!polls_.empty()) {
    const Poll p = polls_.front();
    polls_.pop_front();
    if (p.reg != reg) continue;  // asked before, never answered
    if (p.sent > confirmed_) confirmed_ = p.sent;
    answering_ = true;
    return;
  }
}

void DrainPacer::FrameSent() {
  std::lock_guard<std::mutex> g(lock_);
  ++sent_;
}

bool DrainPacer::MayDrain() const {
  std::lock_guard<std::mutex> g(lock_);
  return !answering_ || sent_ - confirmed_ < kMaxUnconfirmed;
}

uint32_t DrainPacer::TakeInDoubt() {
  std::lock_guard<std::mutex> g(lock_);
  const uint64_t n = sent_ - confirmed_;
  polls_.clear();
  confirmed_ = sent_;
  answering_ = false;
  return static_cast<uint32_t>(n);
}

uint32_t DrainPacer::Unconfirmed() const {
  std::lock_guard<std::mutex> g(lock_);
  return static_cast<uint32_t>(sent_ - confirmed_);
}

}  // namespace voxa
