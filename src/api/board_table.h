// The board table, the current board and the process-wide error state, and
// the guard every board export passes through.
#pragma once

#include <atomic>
#include <cstdint>

#include "controller/controller.h"
#include "controller/errors.h"

namespace voxa::api {

constexpr int kBoards = 8;

Controller& BoardAt(int id);  // id 0..7

// Error state: flag, last code, beep switch.
struct ErrorState {
  std::atomic<int32_t> flag{0};
  std::atomic<int32_t> last{0};
  std::atomic<int32_t> beep{0};
};
ErrorState& Errors();
std::atomic<int32_t>& CurrentBoard();

// Opens and closes of the board table. ReserveFreeSlot marks the first
// slot that is neither open nor busy as being opened and returns it (-1:
// none); EndOpen clears the mark and, when the open succeeded, selects the
// slot. CloseBoard closes a board (waiting for another thread's open or
// close of it to end first).
int ReserveFreeSlot();
void EndOpen(int id, bool opened);
void CloseBoard(int id);
// The board the calling thread selected for itself, or -1 when it follows
// the process-wide current board.
int32_t& ThreadBoard();
// The board the calling thread's exports act on: its own, else the current.
int32_t SelectedBoard();
// The error state the calling thread's exports report to: a thread that
// selected a board of its own keeps its own flag and last code, so that its
// results are not mixed with other threads'; every other thread shares the
// process-wide one. The beep switch is always process-wide.
ErrorState& CallerErrors();

// Runs an application's handler on the calling thread within an export (the
// beep handler, the log handler): the handler sees the call's error state
// and may call exports itself, and the call's error state is put back after
// it, so that the application reads the call's own result.
template <class Handler>
void KeepingErrorState(Handler&& handler) {
  ErrorState& e = CallerErrors();
  const int32_t flag = e.flag.load();
  const int32_t last = e.last.load();
  handler();
  e.last.store(last);
  e.flag.store(flag);
}

// Records a failure: last code, flag, and the beep when it is switched on.
void Fail(int code);
// Beeps 0 for a success that beeps (opens, a live link query, config files).
void SuccessBeep();

// Clears the error flag and checks the current board; the controller, or
// nullptr after recording -10 or -21.
Controller* Begin();

// The guard: runs op on the current board's controller and returns its
// result, or records the failure and returns `failure`. An ArgumentError
// raised by op records -50.
// An export's call on a board: marks the calling thread as in a call, so
// that an immediate frame the link cannot take waits for room and is noted
// when refused; Refused() then tells the guard to fail the call.
class InCall {
 public:
  InCall() : sends_(ThisCallSends()), outer_(sends_) { sends_ = CallSends{true, false}; }
  // A call made within another (a handler's export inside a wait, say) hands
  // its refusal on to the outer one.
  ~InCall() {
    const bool refused = sends_.refused;
    sends_ = outer_;
    if (outer_.in_call) sends_.refused = sends_.refused || refused;
  }
  InCall(const InCall&) = delete;
  InCall& operator=(const InCall&) = delete;
  bool Refused() const { return sends_.refused; }

 private:
  CallSends& sends_;
  const CallSends outer_;
};

template <class R, class Op>
R Guard(R failure, Op&& op) noexcept {
  Controller* c = Begin();
  if (c == nullptr) return failure;
  InCall call;
  try {
    R r = static_cast<R>(op(*c));
    if (!call.Refused()) return r;
    Fail(VOXA_ERR_SEND);
  } catch (const ArgumentError&) {
    Fail(VOXA_ERR_ARGUMENT);
  } catch (...) {
  }
  return failure;
}

// The guard for exports that return no value.
template <class Op>
void GuardVoid(Op&& op) noexcept {
  Controller* c = Begin();
  if (c == nullptr) return;
  InCall call;
  try {
    op(*c);
    if (call.Refused()) Fail(VOXA_ERR_SEND);
  } catch (const ArgumentError&) {
    Fail(VOXA_ERR_ARGUMENT);
  } catch (...) {
  }
}

// Copies text into a caller's buffer: whole when it fits with its
// terminator, else the first len-1 characters. Nothing for a null buffer or
// a length below 1.
template <class Ch>
void CopyText(Ch* buf, int len, const Ch* text) {
  if (buf == nullptr || len < 1 || text == nullptr) return;
  int n = 0;
  while (text[n] != 0) ++n;
  if (n >= len) n = len - 1;
  for (int k = 0; k < n; ++k) buf[k] = text[k];
  buf[n] = 0;
}

}  // namespace voxa::api
