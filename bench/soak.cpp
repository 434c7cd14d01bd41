// Soak: eight simulated boards (in this process, over loopback TCP) open
// for a minute while four application threads issue commands to them,
// state packets streaming in every 50 ms.
//
//   bench_soak [seconds=60] [boards=8]
//
// Two threads use the exported calls, holding an application mutex around
// each board selection and the calls after it; two drive their boards'
// controllers directly. Each thread serves two boards in turn: batches of
// a setter, a short move and a wait command with getters in between, and
// after every 25 batches a queued completion notification it waits for.
//
// Reports the commands issued, the frames the library handed to its links
// and the frames the boards received, the frames received from the boards,
// errors of every kind, the CPU time of the library's threads and the peak
// resident memory.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "api/board_table.h"
#include "families/motion/motion_commands.h"
#include "families/shapes.h"
#include "proc_stats.h"
#include "sim_boards.h"
#include "sim.h"
#include "voxa/voxa.h"

using namespace voxa::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kBatchesPerWait = 25;
constexpr uint32_t kWaitMs = 5000;

struct Traffic {
  std::atomic<uint64_t> sent_commands{0};  // frames other than polls and keep-alives
  std::atomic<uint64_t> sent_link{0};      // polls and keep-alives
  std::atomic<uint64_t> received{0};       // frames that passed their checksum
};
Traffic g_traffic[8];

void VOXA_CALL Count(int board, int direction, const unsigned char* f, int length) {
  if (board < 0 || board >= 8 || length < 4) return;
  Traffic& t = g_traffic[board];
  if (direction == VOXA_TRACE_RECEIVED) {
    t.received.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const uint8_t code = f[3] & 0x7F;
  const bool poll = code == 0x09 || (code >= 0x10 && code < 0x50 && (code & 1) == 0);
  (poll ? t.sent_link : t.sent_commands).fetch_add(1, std::memory_order_relaxed);
}

struct ThreadCounts {
  uint64_t calls = 0;      // command calls (each sends one frame or more)
  uint64_t frames = 0;     // frames those calls make
  uint64_t getters = 0;
  uint64_t waits = 0;      // completion waits
  uint64_t timeouts = 0;   // completion waits that timed out
  uint64_t api_errors = 0; // calls that set the error flag
};

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int boards = argc > 2 ? std::atoi(argv[2]) : 8;
  if (seconds < 1 || boards < 4 || boards > 8) {
    std::fprintf(stderr, "usage: bench_soak [seconds=60] [boards=4..8]\n");
    return 2;
  }
  VOXA_Set_TraceHandler(&Count);

  SimBoards opened;
  if (!OpenSimBoards(boards, &opened)) return 1;
  auto& sims = opened.sims;
  auto& ids = opened.ids;
  for (int id : ids) {
    VOXA_Set_BoardID(id);
    VOXA_Set_StateTimer(3 | 0x400 | 0x800 | 0x1000 | 0x2000);  // every 50 ms
    VOXA_Set_DriveVel(20000);
    VOXA_Set_Acc(0);
  }
  const long rss_open = StatusKiB("VmRSS");

  std::mutex app;  // the application's lock around board selection and call
  std::atomic<bool> stop{false};
  std::vector<ThreadCounts> counts(4);

  // Exported calls, boards t and t + 4.
  auto exported = [&](int t) {
    ThreadCounts& n = counts[t];
    for (uint32_t k = 0; !stop.load(); ++k) {
      const int id = ids[(t + 4 * static_cast<int>(k / kBatchesPerWait % 2)) % boards];
      std::lock_guard<std::mutex> g(app);
      VOXA_Set_BoardID(id);
      const int axis = static_cast<int>(k % 8);
      int step[8] = {};
      step[axis] = (k & 1) ? 10 : -10;
      VOXA_Set_SoftUpperLimit(1 << axis, static_cast<int>(100000 + k));
      VOXA_IMove(1 << axis, step);
      VOXA_Wait();
      n.calls += 3;
      n.frames += 4;
      (void)VOXA_Get_CurPos(1 << axis);
      (void)VOXA_Is_Busy();
      (void)VOXA_Get_SoftQueueLeftCmd();
      n.getters += 3;
      if (VOXA_Is_Err()) ++n.api_errors;
      if (k % kBatchesPerWait == kBatchesPerWait - 1) {
        const int tag = 1 + static_cast<int>(k / kBatchesPerWait % 200);
        VOXA_Notify_Complete(tag);
        ++n.calls;
        ++n.frames;
        ++n.waits;
        if (VOXA_WaitMotion(tag, kWaitMs) != 1) ++n.timeouts;
        if (VOXA_Is_Err()) ++n.api_errors;
      }
    }
  };

  // Controllers driven directly, boards t and t + 4.
  auto direct = [&](int t) {
    ThreadCounts& n = counts[t];
    for (uint32_t k = 0; !stop.load(); ++k) {
      auto& c = voxa::api::BoardAt(ids[(t + 4 * static_cast<int>(k / kBatchesPerWait % 2)) % boards]);
      const int axis = static_cast<int>(k % 8);
      int32_t step[8] = {};
      step[axis] = (k & 1) ? 10 : -10;
      voxa::family::SetAxisWord(c, voxa::SLIMITH, 1 << axis, 200000 + k);
      voxa::family::motion::Move(c, voxa::family::motion::kIMove, 1 << axis, step);
      voxa::family::Act(c, 0x52, 0);
      n.calls += 3;
      n.frames += 4;
      (void)c.GetRegWord(voxa::CURPOS, axis);
      (void)c.TestRegBits(voxa::CHIPSTATUS, 0, 1);
      (void)c.soft_queue().frames();
      n.getters += 3;
      if (k % kBatchesPerWait == kBatchesPerWait - 1) {
        const uint8_t tag = static_cast<uint8_t>(1 + k / kBatchesPerWait % 200);
        c.NoteIdSent(tag);
        c.System(0x0A, tag);
        ++n.calls;
        ++n.frames;
        ++n.waits;
        if (c.WaitMotion(tag, kWaitMs) != 1) ++n.timeouts;
      }
    }
  };

  const ThreadTimes cpu0 = SampleThreads();
  const auto t0 = Clock::now();
  std::vector<std::thread> threads;
  threads.emplace_back(exported, 0);
  threads.emplace_back(exported, 1);
  threads.emplace_back(direct, 2);
  threads.emplace_back(direct, 3);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop.store(true);
  for (auto& th : threads) th.join();
  const double run_s = std::chrono::duration<double>(Clock::now() - t0).count();
  const ThreadTimes cpu1 = SampleThreads();

  // Let the soft queues drain, close, and let the boards take the last bytes.
  const auto drain_deadline = Clock::now() + std::chrono::seconds(30);
  for (int id : ids)
    while (voxa::api::BoardAt(id).soft_queue().frames() > 0 && Clock::now() < drain_deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  // Every frame a board has sent so far reaches the library before its link
  // closes (what the boards send later is in flight at the close).
  uint64_t board_tx = 0, lib_rx = 0, rx_missing = 0;
  for (int b = 0; b < boards; ++b) {
    const uint64_t emitted = sims[b]->Stats().frames_out;
    const std::atomic<uint64_t>& taken = g_traffic[ids[b]].received;
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (taken.load() < emitted && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    board_tx += emitted;
    lib_rx += std::min<uint64_t>(taken.load(), emitted);
    rx_missing += emitted - std::min<uint64_t>(taken.load(), emitted);
  }
  double close_max_ms = 0;
  for (int id : ids) {
    VOXA_Set_BoardID(id);
    const auto c0 = Clock::now();
    VOXA_Close();
    close_max_ms = std::max(close_max_ms, std::chrono::duration<double, std::milli>(Clock::now() - c0).count());
  }
  VOXA_Set_TraceHandler(nullptr);

  uint64_t sent = 0, sent_cmd = 0, board_rx = 0, sum_err = 0, len_err = 0, junk = 0, reconnects = 0;
  for (int b = 0; b < boards; ++b) {
    const Traffic& tr = g_traffic[ids[b]];
    const uint64_t s = tr.sent_commands.load() + tr.sent_link.load();
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (sims[b]->FrameCount() < s && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const voxa_sim::SimStats st = sims[b]->Stats();
    sent += s;
    sent_cmd += tr.sent_commands.load();
    board_rx += sims[b]->FrameCount();
    sum_err += st.checksum_errors;
    len_err += st.length_errors;
    junk += st.junk_bytes;
    reconnects += st.connections - 1;
  }
  ThreadCounts total;
  for (const auto& n : counts) {
    total.calls += n.calls;
    total.frames += n.frames;
    total.getters += n.getters;
    total.waits += n.waits;
    total.timeouts += n.timeouts;
    total.api_errors += n.api_errors;
  }
  uint64_t lib_cpu_ns = 0;
  for (const auto& [name, ns] : CpuByName(cpu0, cpu1))
    if (IsLibraryThread(name)) lib_cpu_ns += ns;

  std::printf("soak: %d boards, 4 threads, %.1f s\n", boards, run_s);
  std::printf("command calls issued:            %llu (%.0f/s), getter calls %llu\n",
              static_cast<unsigned long long>(total.calls), total.calls / run_s,
              static_cast<unsigned long long>(total.getters));
  std::printf("command frames those calls make: %llu\n", static_cast<unsigned long long>(total.frames));
  std::printf("command frames sent by the library (set-up included): %llu\n", static_cast<unsigned long long>(sent_cmd));
  std::printf("frames sent by the library, polls and keep-alives included: %llu\n",
              static_cast<unsigned long long>(sent));
  std::printf("frames received by the boards:   %llu (missing: %lld)\n", static_cast<unsigned long long>(board_rx),
              static_cast<long long>(sent) - static_cast<long long>(board_rx));
  std::printf("frames sent by the boards:       %llu; taken by the library: %llu (missing: %llu)\n",
              static_cast<unsigned long long>(board_tx), static_cast<unsigned long long>(lib_rx),
              static_cast<unsigned long long>(rx_missing));
  std::printf("completion waits: %llu, timed out: %llu\n", static_cast<unsigned long long>(total.waits),
              static_cast<unsigned long long>(total.timeouts));
  std::printf("errors: API %llu, board-side checksum %llu, length %llu, junk bytes %llu, reconnects %llu\n",
              static_cast<unsigned long long>(total.api_errors), static_cast<unsigned long long>(sum_err),
              static_cast<unsigned long long>(len_err), static_cast<unsigned long long>(junk),
              static_cast<unsigned long long>(reconnects));
  std::printf("library threads' CPU: %.2f s = %.1f %% of one core\n", lib_cpu_ns / 1e9, 100.0 * lib_cpu_ns / 1e9 / run_s);
  std::printf("resident memory: %ld KiB after opening, %ld KiB at the end, peak %ld KiB\n", rss_open,
              StatusKiB("VmRSS"), StatusKiB("VmHWM"));
  std::printf("slowest close: %.1f ms; last error code of the exported calls: %d\n", close_max_ms, VOXA_Get_LastErr());

  const bool ok = total.timeouts == 0 && total.api_errors == 0 && VOXA_Get_LastErr() == 0 && sum_err == 0 && len_err == 0 && sent == board_rx &&
                  rx_missing == 0 && reconnects == 0;
  return ok ? 0 : 3;
}
