#include "api/board_table.h"

#include <condition_variable>
#include <mutex>

#include "dispatch/dispatch.h"

namespace voxa::api {
namespace {

// Built when the library loads, in index order, and destroyed at unload;
// each controller closes its link first if it is still open.
struct BoardTable {
  // Declared first, so destroyed last: the dispatch thread ends once every
  // board has closed (and posted what its close posts).
  struct EndDispatch {
    ~EndDispatch() { dispatch::Shutdown(); }
  } end_dispatch;
  Controller boards[kBoards];
  BoardTable() {
    for (int i = 0; i < kBoards; ++i) boards[i].SetBoardIndex(i);
  }
};

BoardTable& Table() {
  static BoardTable table;
  return table;
}

// Opens and closes of the table. A slot being opened or closed is busy; the
// lock is held only to look at and change these marks, never across an
// open or a close, so one board's slow open delays no other board.
std::mutex g_table_lock;
std::condition_variable g_table_changed;
enum class Slot { kIdle, kOpening, kClosing };
Slot g_slots[kBoards] = {};

ErrorState g_errors;
std::atomic<int32_t> g_current{-1};
thread_local int32_t t_board = -1;
thread_local ErrorState t_errors;

// Build the table at load, not on first use.
[[maybe_unused]] const bool g_built = (Table(), true);

}  // namespace

Controller& BoardAt(int id) { return Table().boards[id]; }
ErrorState& Errors() { return g_errors; }
std::atomic<int32_t>& CurrentBoard() { return g_current; }
int32_t& ThreadBoard() { return t_board; }
int32_t SelectedBoard() { return t_board >= 0 ? t_board : g_current.load(); }
ErrorState& CallerErrors() { return t_board >= 0 ? t_errors : g_errors; }

int ReserveFreeSlot() {
  std::lock_guard<std::mutex> g(g_table_lock);
  for (int i = 0; i < kBoards; ++i)
    if (g_slots[i] == Slot::kIdle && !BoardAt(i).IsOpen()) {
      g_slots[i] = Slot::kOpening;
      return i;
    }
  return -1;
}

void EndOpen(int id, bool opened) {
  std::lock_guard<std::mutex> g(g_table_lock);
  g_slots[id] = Slot::kIdle;
  if (opened) g_current.store(id);
  g_table_changed.notify_all();
}

void CloseBoard(int id) {
  if (id >= 0 && id < kBoards) {
    std::unique_lock<std::mutex> g(g_table_lock);
    // A close of a board that another thread is closing (or opening)
    // returns once that is done.
    g_table_changed.wait(g, [&] { return g_slots[id] == Slot::kIdle; });
    if (BoardAt(id).IsOpen()) {
      g_slots[id] = Slot::kClosing;
      g.unlock();
      BoardAt(id).Unlink();
      g.lock();
      g_slots[id] = Slot::kIdle;
      g_table_changed.notify_all();
    }
  }
}

void Fail(int code) {
  ErrorState& e = CallerErrors();
  e.last.store(code);
  e.flag.store(1);
  if (g_errors.beep.load()) KeepingErrorState([] { dispatch::Beep(16); });
}

void SuccessBeep() {
  if (g_errors.beep.load()) KeepingErrorState([] { dispatch::Beep(0); });
}

Controller* Begin() {
  CallerErrors().flag.store(0);
  const int32_t b = SelectedBoard();
  if (b < 0 || b >= kBoards) {
    Fail(VOXA_ERR_BOARD_ID);
    return nullptr;
  }
  Controller& c = BoardAt(b);
  if (!c.IsOpen()) {
    Fail(VOXA_ERR_NOT_OPEN);
    return nullptr;
  }
  return &c;
}

}  // namespace voxa::api
