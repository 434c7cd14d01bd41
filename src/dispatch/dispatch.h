// The dispatch layer: it keeps every handler the application may set and
// makes every call of one. Messages, frame traces, error reports, state and
// link notifications (and diagnostic lines said on a thread a close joins)
// are queued here and handed over from one process-wide dispatch thread, in
// the order they were posted. No library lock is held while a handler runs
// and no close ever waits for this thread, so a handler may call any
// export, VOXA_Close included, and may wait for a thread that is itself
// closing a board. The thread ends after half a second with nothing to do, or
// at the first empty queue once it has served half a second, and
// starts again with the next post, so an idle library keeps no thread of
// its own alive. Where the application set no handler, the system's own
// service stands in (platform.h): window messages, error boxes, the beep,
// standard output.
#pragma once

#include <cstdint>

#include "voxa/voxa.h"

namespace voxa::dispatch {

// Each handler has a slot of its own.
enum class Kind : uint8_t { kMessage, kTrace, kErrorReport, kState, kLink, kLog, kCount };

// Posting. Each is cheap when no handler of its kind is set (one relaxed
// load) and never blocks on a handler.
void Message(int board, VOXA_HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam);
bool TraceOn();
void Trace(int board, int direction, const uint8_t* frame, int length);
void ErrorReport(const char* caption, const char* text);
bool StateOn();
// What one state packet or read reply updated, and when its last byte came.
struct StateNote {
  uint32_t registers;
  uint64_t time_us;
};
// Posts a board's state notes; with wake, the dispatch thread is woken for
// them now, else at the next wake (or once many wait).
void States(int board, const StateNote* notes, int count, bool wake);

// A receive path's state notifications, posted together: one post per
// batch and one wake of the dispatch thread per burst of received bytes,
// rather than one of each per packet. Used by one thread at a time (the
// holder of the board's parse lock); flush it before posting anything else
// the same bytes caused, so the handlers see the board's order, and with
// wake at the end of the burst.
class StateBatch {
 public:
  void Add(int board, uint32_t registers, uint64_t time_us) {
    if (count_ == kCapacity) Flush(board, false);
    notes_[count_++] = StateNote{registers, time_us};
  }
  void Flush(int board, bool wake) {
    if (count_ != 0 || (wake && unwoken_)) States(board, notes_, count_, wake);
    unwoken_ = (count_ != 0 || unwoken_) && !wake;
    count_ = 0;
  }

 private:
  static constexpr int kCapacity = 512;
  int count_ = 0;
  bool unwoken_ = false;  // posted since the last wake
  StateNote notes_[kCapacity];
};
void Link(int board, int state, int reason, int os_error);
// A diagnostic line said on a thread that a close joins (the tick): the log
// handler gets it from the dispatch thread.
void Log(int board, const char* text);

// A diagnostic line, said on the calling thread (never with a library lock
// held).
void LogNow(int board, const char* text);
// A beep, on the calling thread: the export that failed, or the open, link
// query or configuration-file export that succeeded.
void Beep(unsigned type);

// Handlers. Setting one returns once no call of the handler it replaces is
// running, unless it is set from within a handler (on the dispatch thread).
void SetMessageHandler(VOXA_MessageHandler h);
void SetBoardMessageHandler(VOXA_BoardMessageHandler h);
void SetTraceHandler(VOXA_TraceHandler h);
void SetErrorReportHandler(VOXA_ErrorReportHandler h);
void SetStateHandler(VOXA_StateHandler h);
void SetLinkHandler(VOXA_LinkHandler h);
// The beep and log handlers run on the calling thread; setting them does
// not wait.
void SetBeepHandler(VOXA_BeepHandler h);
void SetLogHandler(VOXA_LogHandler h);

// State notifications of a board that were merged into a later one because
// the handler fell behind.
uint32_t StateDrops(int board);
// Traces and messages left out because the queue was full.
uint64_t Dropped();

// Waits until everything posted before the call has been handled (not from
// a handler). For tests and for an orderly unload.
void Drain();
// Waits at most ms milliseconds until no dispatch thread runs (it ends
// once idle); true when none does. For tests.
bool AwaitThreadEnd(uint32_t ms);
// Ends the dispatch thread (at library unload); later posts are dropped. A
// handler that does not return holds it up for a bounded time only.
void Shutdown();

}  // namespace voxa::dispatch
