// What the roles of one board's controller share: the board slot, the open
// flag, the current link, the register image and the counters of what the
// board reported.
#pragma once

#include <atomic>
#include <cstdint>

#include "controller/pacing.h"
#include "families/io/io_state.h"
#include "families/motion/motion_state.h"
#include "platform/platform.h"
#include "state/receive.h"
#include "state/state_mirror.h"
#include "transport/link.h"

namespace voxa {

class BoardParts {
 public:
  int BoardIndex() const { return board_index_; }
  int IsOpen() const { return open_flag_.load(); }

  // The register image. Its lock is the state lock: it is re-entrant,
  // because the families hold it across several image reads that each take
  // it, and it is taken alone or last.
  StateMirror& mirror() { return mirror_; }
  platform::CriticalSection& StateLock() { return mirror_.Lock(); }
  uint32_t GetRegWord(int r, int i) { return mirror_.GetRegWord(r, i); }
  void SetRegWord(int r, int i, uint32_t v) { mirror_.SetRegWord(r, i, v); }
  void OrRegBits(int r, int i, uint32_t bits) { mirror_.OrRegBits(r, i, bits); }
  void ClrRegBits(int r, int i, uint32_t bits) { mirror_.ClrRegBits(r, i, bits); }
  void SetRegField(int r, int i, uint32_t mask, uint32_t v) { mirror_.SetRegField(r, i, mask, v); }
  uint32_t TestRegBits(int r, int i, uint32_t mask) { return mirror_.TestRegBits(r, i, mask); }
  int EngineVersionNumber() { return EngineVersion(GetRegWord(CHIPSTATUS, 7)); }

  PacketCounters& counters() { return counters_; }
  MotionState& motion_state() { return motion_state_; }
  IoState& io_state() { return io_state_; }

 protected:
  friend class CommandSender;
  friend class CompletionWaits;

  BoardParts() = default;
  ~BoardParts() = default;
  Link& link() { return *link_.load(); }

  int board_index_ = 0;
  // Set while the board is open: nothing is built or sent without it, and
  // the timer thread runs only while it is set.
  std::atomic<int> open_flag_{0};
  // The link of the current (or last) open; set before any use, never null
  // after.
  std::atomic<Link*> link_{nullptr};
  StateMirror mirror_;
  // Paces the soft queue's drain by what the board confirmed; its own lock,
  // innermost.
  DrainPacer pacer_;
  PacketCounters counters_;
  MotionState motion_state_;
  IoState io_state_;
};

}  // namespace voxa
