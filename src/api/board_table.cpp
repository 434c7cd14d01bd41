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

// Build the table at load, not on first use.
[[maybe_unused]] const bool g_built = (Table(), true);

}  // namespace

CQLM207X& BoardAt(int id) { return Table().boards[id]; }
ErrorState& Errors() { return g_errors; }
std::atomic<int32_t>& CurrentBoard() { return g_current; }

void Fail(int code) {
  g_errors.last.store(code);
  g_errors.flag.store(1);
  if (g_errors.beep.load()) platform::Beep(16);
}

void SuccessBeep() {
  if (g_errors.beep.load()) platform::Beep(0);
}

CQLM207X* Begin() {
  g_errors.flag.store(0);
  const int32_t b = g_current.load();
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
