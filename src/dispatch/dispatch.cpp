#include "dispatch/dispatch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace voxa::dispatch {
namespace {

constexpr int kBoards = 8;
// A board's state notifications queue up to this many; past it, the newest
// is merged into the last one queued (masks OR-ed, the newer time kept).
// A whole received block of state packets fits, so only a handler that
// fell behind sees merged notes.
constexpr int kStateBacklog = 2048;
// Traces and messages queue up to this many; past it they are counted and
// left out, so a handler that stopped returning cannot eat the memory.
constexpr size_t kQueueLimit = 1u << 18;
// The dispatch thread ends after this long with nothing queued.
constexpr auto kIdleEnd = std::chrono::milliseconds(500);
// The longest a dispatch thread serves before it hands over to a fresh one.
constexpr auto kMaxServe = std::chrono::milliseconds(500);
// At unload, a handler call still running is waited for this long; past
// it the thread is left to finish on its own.
constexpr auto kUnloadWait = std::chrono::seconds(2);

thread_local bool t_dispatching = false;  // on a dispatch thread

void VOXA_CALL SystemBeep(unsigned type) { platform::SystemBeep(type); }
void VOXA_CALL SystemErrorReport(const char* caption, const char* text) { platform::SystemErrorReport(caption, text); }
void VOXA_CALL SystemLog(int, const char* text) { platform::SystemLog(text); }

struct Note {
  Kind kind = Kind::kMessage;
  int board = 0;
  // Message
  VOXA_HWND window = nullptr;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  // State: how many of the board's waiting notes come next (and, as
  // delivered, where in its ring they start)
  int count = 0;
  int first = 0;
  // Link
  int state = 0;
  int reason = 0;
  int os_error = 0;
  // Trace
  int direction = 0;
  int length = 0;
  uint8_t frame[132] = {};
  // Error report
  std::string caption;
  std::string text;
};

class Dispatcher {
 public:
  std::atomic<VOXA_MessageHandler> message{nullptr};  // null: the system's window messages
  std::atomic<VOXA_ErrorReportHandler> error_report{&SystemErrorReport};
  std::atomic<VOXA_BeepHandler> beep{&SystemBeep};
  std::atomic<VOXA_LogHandler> log{&SystemLog};
  std::atomic<VOXA_BoardMessageHandler> board_message{nullptr};
  std::atomic<VOXA_TraceHandler> trace{nullptr};
  std::atomic<VOXA_StateHandler> state{nullptr};
  std::atomic<VOXA_LinkHandler> link{nullptr};

  void Post(Note&& n) {
    std::unique_lock<std::mutex> g(m_);
    if (shut_) return;
    if (n.kind != Kind::kLink && n.kind != Kind::kErrorReport && n.kind != Kind::kLog && q_.size() >= kQueueLimit) {
      ++dropped_;
      return;
    }
    Enqueue(std::move(n));
    WakeAfter(g);
  }

  // A board's state notes wait in its ring; the queue holds a note saying
  // how many of them come next, so they keep their place among the rest.
  // The dispatch thread is woken at the end of a burst (wake) or once the
  // ring is half full, not for every block: a wake costs more than a block.
  void PostStates(int b, const StateNote* s, int count, bool wake) {
    std::unique_lock<std::mutex> g(m_);
    if (shut_) return;
    Ring& r = rings_[b];
    int added = 0;
    for (int i = 0; i < count; ++i) {
      if (r.count == kStateBacklog) {
        // The handler fell behind: merge into the newest waiting note (never
        // one being delivered: at most half the ring is).
        StateNote& last = r.notes[(r.head + r.count - 1) % kStateBacklog];
        last.registers |= s[i].registers;
        last.time_us = s[i].time_us;
        ++state_drops_[b];
        continue;
      }
      r.notes[(r.head + r.count) % kStateBacklog] = s[i];
      ++r.count;
      ++added;
    }
    if (added > 0) {
      if (!q_.empty() && q_.back().kind == Kind::kState && q_.back().board == b) {
        q_.back().count += added;
      } else {
        Note n;
        n.kind = Kind::kState;
        n.board = b;
        n.count = added;
        Enqueue(std::move(n));
      }
    }
    if (wake || r.count >= kStateBacklog / 2) WakeAfter(g);
  }

  void AwaitCallsOf(Kind k) {
    if (t_dispatching) return;
    std::unique_lock<std::mutex> g(m_);
    if (!in_call_ || calling_ != k) return;
    const uint64_t call = delivered_;
    done_cv_.wait(g, [&] { return !in_call_ || delivered_ != call; });
  }

  void Drain() {
    if (t_dispatching) return;
    std::unique_lock<std::mutex> g(m_);
    const uint64_t target = posted_;
    if (!running_ && !q_.empty()) Start();
    if (idle_ && !q_.empty()) cv_.notify_one();
    done_cv_.wait(g, [&] { return shut_ || finished_ >= target; });
  }

  bool AwaitThreadEnd(uint32_t ms) {
    std::unique_lock<std::mutex> g(m_);
    return done_cv_.wait_for(g, std::chrono::milliseconds(ms), [&] { return !running_; });
  }

  // At exit: from now on a dispatch thread ends as soon as it is idle;
  // the one running is waited for (bounded) and joined, so that none is
  // left unjoined. Later posts (boards closing at unload) still go out.
  void EndAtExit() {
    std::unique_lock<std::mutex> g(m_);
    end_when_idle_ = true;
    cv_.notify_all();
    JoinThread(g);
  }

  void Shutdown() {
    std::unique_lock<std::mutex> g(m_);
    shut_ = true;
    q_.clear();
    for (Ring& r : rings_) r.count = r.in_flight = 0;
    cv_.notify_all();
    done_cv_.notify_all();
    JoinThread(g);
  }

  uint32_t StateDrops(int b) {
    std::lock_guard<std::mutex> g(m_);
    return b >= 0 && b < kBoards ? state_drops_[b] : 0;
  }
  uint64_t Dropped() {
    std::lock_guard<std::mutex> g(m_);
    return dropped_;
  }

 private:
  // A dispatch thread: serves the queue until it has been idle for
  // kIdleEnd (or the library unloads), then ends. It waits without a
  // timer tick meanwhile: one timed wait, then the end.
  void Run() {
    std::unique_lock<std::mutex> g(m_);
    const auto born = std::chrono::steady_clock::now();
    for (;;) {
      // A thread that has served a while ends at the first empty queue and
      // the next post starts a fresh one: a runtime that waits at its exit
      // for every thread that ran its code (mono does) is not held up by
      // a board whose packets never let the thread go idle.
      if (q_.empty() && !shut_ && std::chrono::steady_clock::now() - born >= kMaxServe) {
        running_ = false;
        done_cv_.notify_all();
        return;
      }
      if (q_.empty() && !shut_) {
        idle_ = true;
        const auto until = std::chrono::steady_clock::now() + kIdleEnd;
        while (q_.empty() && !shut_ && !end_when_idle_ && cv_.wait_until(g, until) == std::cv_status::no_timeout) {
        }
        idle_ = false;
      }
      if (shut_ || q_.empty()) {
        // Ended; the next post starts a new thread, which joins this one.
        running_ = false;
        done_cv_.notify_all();
        return;
      }
      Note n;
      bool whole = true;  // the queue note is done with this call
      if (q_.front().kind == Kind::kState) {
        // State notes are read in place, outside the lock: the receive
        // path meanwhile writes only behind them.
        Note& front = q_.front();
        Ring& r = rings_[front.board];
        n.kind = Kind::kState;
        n.board = front.board;
        n.first = r.head;
        n.count = std::min({front.count, r.count, kStateBacklog / 2});
        r.in_flight = n.count;
        front.count -= n.count;
        whole = front.count <= 0;
      } else {
        n = std::move(q_.front());
      }
      if (whole) q_.pop_front();
      in_call_ = true;
      calling_ = n.kind;
      ++delivered_;
      g.unlock();
      Deliver(n);
      g.lock();
      if (n.kind == Kind::kState && !shut_) {
        Ring& r = rings_[n.board];
        r.head = (r.head + n.count) % kStateBacklog;
        r.count -= n.count;
        r.in_flight = 0;
      }
      in_call_ = false;
      if (whole) ++finished_;
      done_cv_.notify_all();
    }
  }

  void Deliver(const Note& n) {
    switch (n.kind) {
      case Kind::kMessage:
        if (auto h = message.load()) {
          h(n.window, n.message, n.wparam, n.lparam);
        } else if (auto post = platform::SystemWindowPoster()) {
          post(n.window, n.message, n.wparam, n.lparam);
        }
        if (auto h = board_message.load()) h(n.board, n.window, n.message, n.wparam, n.lparam);
        break;
      case Kind::kTrace:
        if (auto h = trace.load()) h(n.board, n.direction, n.frame, n.length);
        break;
      case Kind::kErrorReport:
        error_report.load()(n.caption.c_str(), n.text.c_str());
        break;
      case Kind::kState:
        for (int i = 0; i < n.count; ++i) {
          const StateNote& s = rings_[n.board].notes[(n.first + i) % kStateBacklog];
          if (auto h = state.load()) h(n.board, s.registers, s.time_us);
        }
        break;
      case Kind::kLink:
        if (auto h = link.load()) h(n.board, n.state, n.reason, n.os_error);
        break;
      case Kind::kLog:
        log.load()(n.board, n.text.c_str());
        break;
      default:
        break;
    }
  }

  void Enqueue(Note&& n) {
    q_.push_back(std::move(n));
    ++posted_;
    if (!running_) Start();
  }
  // Starts a dispatch thread for what was just queued. The thread that
  // ended before it (idle) is joined by the new one, so no poster waits.
  // Where the system has no thread to give, the notes wait for the next
  // post to try again.
  void Start() {
    retired_ = std::move(thread_);
    try {
      thread_ = std::thread([this] {
        t_dispatching = true;
        platform::SetThreadName("voxa-dispatch");
        std::thread previous;
        {
          std::lock_guard<std::mutex> g(m_);
          previous = std::move(retired_);
        }
        if (previous.joinable()) previous.join();
        Run();
      });
      running_ = true;
    } catch (const std::system_error&) {
      thread_ = std::move(retired_);
    }
  }
  // Joins the dispatch thread once it has ended. One waiting idle ends at
  // once (and at a Windows process exit it is gone already); one in a
  // handler is waited for a bounded time, then left to finish on its own.
  // Not from a handler: there the thread ends once the handler returns.
  void JoinThread(std::unique_lock<std::mutex>& g) {
    if (t_dispatching) return;
    const bool ended = idle_ || done_cv_.wait_for(g, kUnloadWait, [&] { return !running_; });
    std::thread t = std::move(thread_);
    g.unlock();
    if (!t.joinable()) return;
    if (ended)
      t.join();  // it has left its loop: only its return is left
    else
      t.detach();
  }

  // Wakes the dispatch thread if it sleeps, after letting go of the lock so
  // that it does not wake only to wait for it.
  void WakeAfter(std::unique_lock<std::mutex>& g) {
    const bool sleeping = idle_ && !q_.empty();
    g.unlock();
    if (sleeping) cv_.notify_one();
  }

  // A board's waiting state notes: count of them from head, the first
  // in_flight of which the dispatch thread is delivering.
  struct Ring {
    StateNote notes[kStateBacklog] = {};
    int head = 0;
    int count = 0;
    int in_flight = 0;
  };

  std::mutex m_;
  std::condition_variable cv_;       // the thread waits for notes
  std::condition_variable done_cv_;  // setters and drains wait for calls to end
  std::deque<Note> q_;
  Ring rings_[kBoards];
  uint32_t state_drops_[kBoards] = {};
  uint64_t dropped_ = 0;
  uint64_t posted_ = 0;
  uint64_t finished_ = 0;
  uint64_t delivered_ = 0;
  bool in_call_ = false;
  Kind calling_ = Kind::kCount;
  bool idle_ = false;     // the thread waits for notes
  bool running_ = false;  // a dispatch thread serves the queue: true whenever the queue is not empty
  bool shut_ = false;
  bool end_when_idle_ = false;  // at exit: no idle wait
  std::thread thread_;   // the latest dispatch thread, running or ended
  std::thread retired_;  // the one that ended before it, until it joins it
};

// Never destroyed: boards that close during static destruction still post
// through it. The board table ends its thread at unload.
Dispatcher& D() {
  static Dispatcher* d = new Dispatcher;
  return *d;
}

// At exit the dispatch thread is ended and joined even where no board
// table was ever built (and so never shuts the dispatcher down).
struct EndAtExit {
  ~EndAtExit() { D().EndAtExit(); }
} g_end_at_exit;

}  // namespace

void Message(int board, VOXA_HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (window == nullptr) return;
  Note n;
  n.kind = Kind::kMessage;
  n.board = board;
  n.window = window;
  n.message = message;
  n.wparam = wparam;
  n.lparam = lparam;
  D().Post(std::move(n));
}

bool TraceOn() { return D().trace.load(std::memory_order_relaxed) != nullptr; }

void Trace(int board, int direction, const uint8_t* frame, int length) {
  if (!TraceOn() || frame == nullptr || length <= 0) return;
  Note n;
  n.kind = Kind::kTrace;
  n.board = board;
  n.direction = direction;
  n.length = length > static_cast<int>(sizeof n.frame) ? static_cast<int>(sizeof n.frame) : length;
  std::memcpy(n.frame, frame, static_cast<size_t>(n.length));
  D().Post(std::move(n));
}

void ErrorReport(const char* caption, const char* text) {
  Note n;
  n.kind = Kind::kErrorReport;
  n.caption = caption ? caption : "";
  n.text = text ? text : "";
  D().Post(std::move(n));
}

bool StateOn() { return D().state.load(std::memory_order_relaxed) != nullptr; }

void States(int board, const StateNote* notes, int count, bool wake) {
  if (board < 0 || board >= kBoards || count < 0 || (count > 0 && notes == nullptr)) return;
  D().PostStates(board, notes, count, wake);
}

void Link(int board, int state, int reason, int os_error) {
  if (D().link.load(std::memory_order_relaxed) == nullptr) return;
  Note n;
  n.kind = Kind::kLink;
  n.board = board;
  n.state = state;
  n.reason = reason;
  n.os_error = os_error;
  D().Post(std::move(n));
}

void Log(int board, const char* text) {
  Note n;
  n.kind = Kind::kLog;
  n.board = board;
  n.text = text ? text : "";
  D().Post(std::move(n));
}

void LogNow(int board, const char* text) { D().log.load()(board, text ? text : ""); }
void Beep(unsigned type) { D().beep.load()(type); }

// A new handler takes effect for every call after this returns: the old
// one's running calls are awaited.
template <class Handler>
void Replace(std::atomic<Handler>& slot, Handler h, Kind kind) {
  slot.store(h);
  D().AwaitCallsOf(kind);
}

void SetMessageHandler(VOXA_MessageHandler h) { Replace(D().message, h, Kind::kMessage); }
void SetBoardMessageHandler(VOXA_BoardMessageHandler h) { Replace(D().board_message, h, Kind::kMessage); }
void SetTraceHandler(VOXA_TraceHandler h) { Replace(D().trace, h, Kind::kTrace); }
void SetErrorReportHandler(VOXA_ErrorReportHandler h) {
  Replace<VOXA_ErrorReportHandler>(D().error_report, h ? h : &SystemErrorReport, Kind::kErrorReport);
}
void SetStateHandler(VOXA_StateHandler h) { Replace(D().state, h, Kind::kState); }
void SetLinkHandler(VOXA_LinkHandler h) { Replace(D().link, h, Kind::kLink); }

void SetBeepHandler(VOXA_BeepHandler h) { D().beep.store(h ? h : &SystemBeep); }
void SetLogHandler(VOXA_LogHandler h) { D().log.store(h ? h : &SystemLog); }

uint32_t StateDrops(int board) { return D().StateDrops(board); }
uint64_t Dropped() { return D().Dropped(); }
void Drain() { D().Drain(); }
bool AwaitThreadEnd(uint32_t ms) { return D().AwaitThreadEnd(ms); }
void Shutdown() { D().Shutdown(); }

}  // namespace voxa::dispatch
