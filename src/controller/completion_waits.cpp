#include "controller/completion_waits.h"

#include <chrono>
#include <cstring>

#include "controller/command_sender.h"
#include "controller/frame.h"
#include "voxa/voxa.h"

namespace voxa {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(platform::Clock::now().time_since_epoch()).count();
}

}  // namespace

CompletionWaits::CompletionWaits(BoardParts& parts, CommandSender& sender) : parts_(parts), sender_(sender) {}

uint8_t CompletionWaits::AwaitedId() {
  platform::Locked g(parts_.StateLock());
  return awaited_id_;
}

uint8_t CompletionWaits::CompletedId() {
  platform::Locked g(parts_.StateLock());
  return completed_id_;
}

void CompletionWaits::NoteIdSent(uint8_t id) {
  platform::Locked g(parts_.StateLock());
  reported_[id] = 0;
  sent_[id] = 1;
  stops_at_send_[id] = host_stops_;
  complete_reason_[id] = VOXA_COMPLETE_NONE;
}

void CompletionWaits::NoteHostStop() {
  platform::Locked g(parts_.StateLock());
  ++host_stops_;
}

uint8_t CompletionWaits::ReasonOf(uint8_t id) const {
  // An ID the host did not send on this link (a marker of another program,
  // a command of an earlier link) is taken as reported.
  return sent_[id] && stops_at_send_[id] != host_stops_ ? VOXA_COMPLETE_HOST_STOP : VOXA_COMPLETE_ENDED;
}

int CompletionWaits::WaitReason() {
  platform::Locked g(parts_.StateLock());
  return wait_reason_;
}

int CompletionWaits::CompleteReason(uint8_t id) {
  platform::Locked g(parts_.StateLock());
  return complete_reason_[id];
}

bool CompletionWaits::ReportedSinceSent(uint8_t id) {
  platform::Locked g(parts_.StateLock());
  return reported_[id] != 0;
}

void CompletionWaits::ForgetCompletions() {
  platform::Locked g(parts_.StateLock());
  std::memset(reported_, 0, sizeof reported_);
  std::memset(sent_, 0, sizeof sent_);
  std::memset(complete_reason_, 0, sizeof complete_reason_);
}

int CompletionWaits::WaitMotion(uint8_t id, uint32_t timeout_ms) {
  const auto deadline = platform::Clock::now() + std::chrono::milliseconds(timeout_ms);
  const uint32_t epoch = wait_epoch_.load();
  if (!parts_.IsOpen()) return 0;
  // The event is cleared before the awaited ID is published, so a match
  // that lands in between is not wiped out.
  completion_.Reset();
  {
    platform::Locked g(parts_.StateLock());
    awaited_id_ = id;
    // The board may have reported the ID before this wait began (a fast link
    // answers between the command and the wait). That report ends this one
    // wait; the next waits for a new one.
    if (id != 0xFF && id != kNoTag && reported_[id]) {
      reported_[id] = 0;
      awaited_id_ = kNoTag;
      wait_reason_ = complete_reason_[id];
      return 1;
    }
    wait_reason_ = VOXA_COMPLETE_NONE;
    ++waiters_;
  }
  // A board on a fast link answers within tens of microseconds: a short
  // spin first spares the wake-up of a sleeping thread. Then the caller,
  // which may be an application's window thread, sleeps with its messages
  // dispatched.
  const bool signalled = timeout_ms == 0 ? completion_.Test()
                                         : completion_.Spin(kWaitSpinUs) || completion_.WaitUntilDispatching(deadline);
  platform::Locked g(parts_.StateLock());
  --waiters_;
  // A close ends the wait without a completion. A match that came between
  // the timeout and this point was meant for this wait: it is taken, not lost.
  const bool matched_late = !signalled && id != kNoTag && awaited_id_ == kNoTag;
  const bool taken = (signalled || matched_late) && wait_epoch_.load() == epoch;
  wait_reason_ = taken ? matched_reason_ : VOXA_COMPLETE_NONE;
  return taken ? 1 : 0;
}

void CompletionWaits::TakeCompletion(uint8_t c) {
  platform::Locked g(parts_.StateLock());
  completed_id_ = c;
  complete_reason_[c] = ReasonOf(c);
  if (awaited_id_ == c || awaited_id_ == 0xFF) {
    matched_reason_ = complete_reason_[c];
    completion_.Set();
    awaited_id_ = kNoTag;
    // Taken by the wait in progress; with none in progress (it timed out)
    // the report is remembered for the next wait.
    if (waiters_ == 0 && sent_[c]) reported_[c] = 1;
  } else if (sent_[c]) {
    // Only a report of an ID this host sent on this link is kept for a later
    // wait: a report of any other ID (another program's marker, a command of
    // an earlier link) ends no wait that starts after it.
    reported_[c] = 1;
  }
}

int CompletionWaits::Refresh(uint32_t registers, uint32_t timeout_ms) {
  const auto deadline = platform::Clock::now() + std::chrono::milliseconds(timeout_ms);
  uint32_t ticket[kRegisters] = {};
  uint32_t epoch;
  {
    std::lock_guard<std::mutex> g(refresh_lock_);
    epoch = refresh_link_epoch_;
    for (int r = 0; r < kRegisters; ++r)
      if (registers & (1u << r)) ticket[r] = ++refresh_sent_[r];
  }
  bool sent = true;
  for (int r = 0; r < kRegisters; ++r)
    if (registers & (1u << r)) {
      parts_.pacer_.PollSent(r);  // its answer confirms the queued frames sent before it, too
      if (!sender_.SendReadRequest(1, r, 0xFF, kWidth4, kTagRefresh)) sent = false;
    }

  std::unique_lock<std::mutex> g(refresh_lock_);
  auto answered = [&] {
    for (int r = 0; r < kRegisters; ++r)
      if ((registers & (1u << r)) && static_cast<int32_t>(refresh_answered_[r] - ticket[r]) < 0) return false;
    return true;
  };
  const bool ok = sent && refresh_answered_cv_.wait_until(g, deadline, [&] {
    return refresh_link_epoch_ != epoch || answered();
  }) && refresh_link_epoch_ == epoch;
  if (ok) return 1;
  // A request given up on is not waited for again, but its answer may still
  // come: it is owed, and skipped when it comes, so that it never answers a
  // later refresh (the board answers in order). A request the board lost
  // is never answered: what is owed lapses after three times the wait.
  const int64_t until = NowMs() + 3 * static_cast<int64_t>(timeout_ms < 50 ? 50 : timeout_ms);
  for (int r = 0; r < kRegisters; ++r)
    if ((registers & (1u << r)) && static_cast<int32_t>(refresh_answered_[r] - ticket[r]) < 0) {
      refresh_owed_[r] += ticket[r] - refresh_answered_[r];
      refresh_answered_[r] = ticket[r];
      if (until > refresh_owed_until_[r]) refresh_owed_until_[r] = until;
    }
  return 0;
}

void CompletionWaits::RefreshAnswered(int r) {
  if (r < 0 || r >= kRegisters) return;
  {
    std::lock_guard<std::mutex> g(refresh_lock_);
    if (refresh_owed_[r] > 0 && NowMs() >= refresh_owed_until_[r]) refresh_owed_[r] = 0;
    if (refresh_owed_[r] > 0) {
      --refresh_owed_[r];  // the late answer to a request given up on
      return;
    }
    if (refresh_answered_[r] == refresh_sent_[r]) return;  // asked by nobody here
    ++refresh_answered_[r];
  }
  refresh_answered_cv_.notify_all();
}

void CompletionWaits::EndWaits() {
  {
    std::lock_guard<std::mutex> g(refresh_lock_);
    ++refresh_link_epoch_;
    for (int r = 0; r < kRegisters; ++r) {
      refresh_answered_[r] = refresh_sent_[r];
      refresh_owed_[r] = 0;  // a closed link answers nothing more
    }
  }
  refresh_answered_cv_.notify_all();
  // A wait for a completion on this link ends now.
  wait_epoch_.fetch_add(1);
  completion_.Set();
}

}  // namespace voxa
