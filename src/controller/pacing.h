// Paces the soft queue's drain by what the board confirms. The board answers
// requests in the order they came, so the answer to a poll confirms every
// frame sent before that poll. Frames sent and not yet confirmed are on their
// way; while too many are, the drain holds, so that a board that stops
// reading (or a pulled cable, which only a silence reveals) leaves the rest
// of the queue in the soft queue instead of in a socket that is lost with the
// link. When the link is lost, the frames still unconfirmed are in doubt: they
// may or may not have reached the board, and are never sent twice.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

namespace voxa {

class DrainPacer {
 public:
  // Frames that may be on their way at once: a few ticks' worth at the
  // board's pace between two confirmations.
  static constexpr uint32_t kMaxUnconfirmed = 64;

  // A new link: nothing is on its way, and the board has confirmed nothing.
  void Restart();
  // A poll of register reg goes out after every queued frame counted so far.
  void PollSent(int reg);
  // The board answered a poll of register reg: the oldest outstanding poll of
  // that register (polls before it went unanswered and never will be).
  void PollAnswered(int reg);
  void FrameSent();
  // False while the board confirms frames and too many wait for it to. A board
  // that never answers a poll is not paced this way.
  bool MayDrain() const;
  // The link was lost: the frames sent and not confirmed, which are then
  // forgotten (a new link starts from none).
  uint32_t TakeInDoubt();
  uint32_t Unconfirmed() const;

 private:
  struct Poll {
    int reg;
    uint64_t sent;  // frames sent before it
  };
  static constexpr size_t kMaxPolls = 64;
  mutable std::mutex lock_;
  std::deque<Poll> polls_;     // outstanding, oldest first
  uint64_t sent_ = 0;          // queued frames handed to the link on this link
  uint64_t confirmed_ = 0;     // of them, confirmed by an answer
  bool answering_ = false;     // the board answered a poll on this link
};

}  // namespace voxa
