// The host path of a queued register setter: image update, frame build and
// soft-queue push, on one thread.
#include <benchmark/benchmark.h>

#include "api/board_table.h"
#include "voxa/voxa.h"

namespace {

void BM_QueuedRegisterSetter(benchmark::State& state) {
  // The loopback link opens without a peer; frames drained to it are dropped.
  const int id = VOXA_Open_Comm(0xFFFF, 0);
  if (id < 0) {
    state.SkipWithError("open failed");
    return;
  }
  auto& board = voxa::api::BoardAt(id);
  board.SetRegWord(voxa::CHIPSTATUS, 0, 1);  // a busy board: the queue only fills
  int n = 0;
  for (auto _ : state) {
    VOXA_Set_ProcCmdNo(n & 0xF);
    if (++n == 200000) {
      state.PauseTiming();
      board.ClearSoftQueue();
      n = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
  VOXA_Close();
}
BENCHMARK(BM_QueuedRegisterSetter)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
