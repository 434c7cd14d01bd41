#include "api/board_table.h"

namespace voxa::api {
namespace {

// Built when the library loads, in index order, and destroyed at unload;
// each controller closes its link first if it is still open.
struct BoardTable {
  CQLM207X boards[kBoards];
  BoardTable() {
    for (int i = 0; i < kBoards; ++i) boards[i].SetBoardIndex(i);
  }
};

BoardTable& Table() {
  static BoardTable table;
  return table;
}

ErrorState g_errors;
std::atomic<int32_t> g_current{-1};
thread_local int32_t t_board = -1;
thread_local ErrorState t_errors;

// Build the table at load, not on first use.
[[maybe_unused]] const bool g_built = (Table(), true);

}  // namespace

CQLM207X& BoardAt(int id) { return Table().boards[id]; }
ErrorState& Errors() { return g_errors; }
std::atomic<int32_t>& CurrentBoard() { return g_current; }
int32_t& ThreadBoard() { return t_board; }
int32_t SelectedBoard() { return t_board >= 0 ? t_board : g_current.load(); }
ErrorState& CallerErrors() { return t_board >= 0 ? t_errors : g_errors; }

void Fail(int code) {
  ErrorState& e = CallerErrors();
  e.last.store(code);
  e.flag.store(1);
  if (g_errors.beep.load()) platform::Beep(16);
}

void SuccessBeep() {
  if (g_errors.beep.load()) platform::Beep(0);
}

CQLM207X* Begin() {
  CallerErrors().flag.store(0);
  const int32_t b = SelectedBoard();
  if (b < 0 || b >= kBoards) {
    Fail(VOXA_ERR_BOARD_ID);
    return nullptr;
  }
  CQLM207X& c = BoardAt(b);
  if (!c.IsOpen()) {
    Fail(VOXA_ERR_NOT_OPEN);
    return nullptr;
  }
  return &c;
}

}  // namespace voxa::api
