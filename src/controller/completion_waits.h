// Waits of a board: for a command ID's completion (and how it ended), and
// for fresh register values on request.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "controller/board_parts.h"

namespace voxa {

class CommandSender;

class CompletionWaits {
 public:
  // How long a completion wait spins before it sleeps.
  static constexpr uint32_t kWaitSpinUs = 50;

  CompletionWaits(BoardParts& parts, CommandSender& sender);
  CompletionWaits(const CompletionWaits&) = delete;
  CompletionWaits& operator=(const CompletionWaits&) = delete;

  // Blocks until the board reports the ID complete (0xFF: any ID); 1 when
  // it did, 0 on timeout or when the link closes meanwhile.
  int WaitMotion(uint8_t id, uint32_t timeout_ms);
  uint8_t AwaitedId();
  uint8_t CompletedId();
  // Marks that a command carrying this ID went to the board: a completion
  // reported for it from now on is remembered until a wait takes it.
  void NoteIdSent(uint8_t id);
  // True when the board reported this ID complete since it was last sent.
  bool ReportedSinceSent(uint8_t id);
  // A host stop (a stop, cancel, reset or queue clear) goes to the board: a
  // command with an ID sent before it and reported complete after it was
  // ended by the host, not run to its end.
  void NoteHostStop();
  // How the completion the last wait took ended its command, and how the
  // last report of an ID since it was last sent did (VOXA_COMPLETE_...).
  int WaitReason();
  int CompleteReason(uint8_t id);

  // Sends an immediate read request (tag kTagRefresh) for every register
  // whose bit is set and blocks until the board has answered each one: 1
  // then, 0 at the timeout or when the link closes meanwhile.
  int Refresh(uint32_t registers, uint32_t timeout_ms);

 protected:
  // The receive path: the board reported an ID complete.
  void TakeCompletion(uint8_t id);
  // The receive path: a refresh request of register r was answered.
  void RefreshAnswered(int r);
  // A new link: completions reported on an earlier one end no wait.
  void ForgetCompletions();
  // The link closes: every wait in progress ends without a completion, and
  // the refresh requests still unanswered are forgotten.
  void EndWaits();

 private:
  uint8_t ReasonOf(uint8_t id) const;  // state lock

  BoardParts& parts_;
  CommandSender& sender_;

  // Manual-reset, so that a close wakes every waiter at once; a wait
  // resets it before it publishes the ID it waits for.
  platform::Event completion_{true};
  std::atomic<uint32_t> wait_epoch_{0};  // advanced by every close
  // Under the state lock:
  int waiters_ = 0;            // waits in progress
  uint8_t awaited_id_ = 0;
  uint8_t completed_id_ = 0;
  uint8_t reported_[256] = {};  // completion seen since the ID was last sent
  // How each ID's completions end: the host stops counted when the ID was
  // last sent, and how its last report since then ended (VOXA_COMPLETE_...).
  uint32_t host_stops_ = 0;
  uint32_t stops_at_send_[256] = {};
  uint8_t sent_[256] = {};  // sent on this link
  uint8_t complete_reason_[256] = {};
  uint8_t matched_reason_ = 0;  // of the completion a wait in progress took
  uint8_t wait_reason_ = 0;     // of the completion the last wait took

  // Refresh requests per register: how many were sent and how many the
  // board answered. The board answers in order, so the n-th reply answers
  // a request sent no earlier than the n-th request was counted.
  // The refresh lock guards them; it is taken alone.
  std::mutex refresh_lock_;
  std::condition_variable refresh_answered_cv_;
  uint32_t refresh_sent_[kRegisters] = {};
  uint32_t refresh_answered_[kRegisters] = {};
  uint32_t refresh_owed_[kRegisters] = {};       // late answers still to come
  int64_t refresh_owed_until_[kRegisters] = {};  // when they count as lost (ms)
  uint32_t refresh_link_epoch_ = 0;              // counts closes
};

}  // namespace voxa
