// The timer thread (register polls, keep-alive, link watchdog on a 100 ms
// grid) and the 10 ms periodic callback (soft-queue draining, the soft-limit
// stop for old engines).
#include "controller/controller.h"

namespace voxa {

void Controller::TimerCallback(void* self) { static_cast<Controller*>(self)->TimerTick(); }

void Controller::TimerThreadMain() {
  platform::SetThreadName("voxa-timer");
  const int timer_id = platform::TimerStart(10, &Controller::TimerCallback, this);
  uint32_t last = platform::TickCount();
  uint32_t cycle = 1;
  uint32_t heartbeats_seen = counters_.heartbeat.load();
  SetLinkFlag(0, VOXA_LINK_REASON_NONE);

  // The thread wakes where something is due: 90 ms into each cycle (the
  // first pass past 87 ms, which polls) and at 100 ms (which polls again and
  // closes the cycle). The close sets the wake event to end it at once.
  while (open_flag_.load()) {
    const uint32_t now0 = platform::TickCount();
    const uint32_t into = now0 - last;  // unsigned: wraps correctly
    uint32_t wait_ms = into < 90 ? 90 - into : (into < 100 ? 100 - into : 0);
    const bool woken = wait_ms > 0 && timer_wake_.Wait(wait_ms);
    if (!open_flag_.load()) break;

    const uint32_t now = platform::TickCount();
    const uint32_t elapsed = now - last;
    if (elapsed >= 87) {
      // Its answer will confirm the queued frames sent before it.
      pacer_.PollSent(poll_table_[poll_index_]);
      SendReadRequest(1, poll_table_[poll_index_], 0xFF, kWidth4, kTagPoll);
      poll_index_ = poll_index_ >= 29 ? 0 : poll_index_ + 1;
    }
    if (elapsed >= 100) {
      // Stay on the 100 ms grid; a long stall restarts the grid.
      last = elapsed - 100 < 100 ? now - (elapsed - 100) : now;
      ++cycle;
      if ((cycle & 1) == 0) SendCommand(0x89, 0, kTagPoll);
      if (loopback_link_.load()) {
        SetLinkFlag(1, VOXA_LINK_REASON_NONE);
      } else if (cycle % 31 == 30) {
        const uint32_t hb = counters_.heartbeat.load();
        // A serial device that hung up stays down whatever came before.
        SetLinkFlag(hb != heartbeats_seen && !link().IsHungUp() ? 1 : 0, VOXA_LINK_REASON_HEARTBEAT);
        heartbeats_seen = hb;
      }
    }
    if (restore_pending_.exchange(0)) RestoreSettings();
    if (woken) timer_wake_.Reset();
  }
  platform::TimerKill(timer_id);
}

void Controller::TimerTick() {
  if (open_flag_.load() && !(GetRegWord(CHIPSTATUS, 0) & 1)) {
    const int waiting = static_cast<int>((GetRegWord(CHIPSTATUS, 1) >> 8) & 0xFF);
    int n = 100 - waiting;
    if (n < 0) n = 0;
    if (n > 24) n = 24;
    for (int k = 0; k < n; ++k) {
      if (soft_queue().frames() == 0 || (GetRegWord(CHIPSTATUS, 0) & 1)) break;
      // Frames wait here while too many are on their way unconfirmed.
      if (!pacer_.MayDrain()) break;
      PopAndSendFrame();
    }
  }

  // Engines up to 205 do not stop at the soft limits of axes 4..7 by
  // themselves; the host stops them, at most every 50 ms.
  const int v = EngineVersionNumber();
  if (limit_hold_off_ > 5) limit_hold_off_ = 5;
  if (limit_hold_off_ > 0) --limit_hold_off_;
  // Nothing is stopped on the strength of what an earlier board reported:
  // the image keeps its values across a close and reopen.
  if (v > 205 || limit_hold_off_ != 0 || !board_reported_.load()) return;
  bool stop = false;
  {
    platform::Locked g(mirror_.Lock());
    for (int i = 4; i < 8 && !stop; ++i) {
      const uint32_t st = mirror_.Image()[AXISSTATUS * kWords + i];
      if ((st & 0x80) && (st & 0x30)) stop = true;
    }
    if (mirror_.Image()[CHIPSTATUS * kWords] & 0x10) stop = false;
  }
  if (stop) {
    SendCommand(0xD0, 0, kTagSystem);
    limit_hold_off_ = 5;
  }
}

}  // namespace voxa
