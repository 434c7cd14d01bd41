// Idle cost: eight boards open and linked (simulated boards in this
// process, answering keep-alives and register polls) but given nothing to
// do. Measures the CPU time the library's own threads use, as a share of
// one core; the simulated boards' threads are counted apart.
//
//   bench_idle_cost [seconds=10] [boards=8] [state-timer-flags=0] [first-port]
//
// A third argument other than 0 also switches the boards' state packets on
// (VOXA_Set_StateTimer flags, e.g. 0x3E02: every 25 ms, five unit groups).
// With a first port, the boards are simulators of other processes listening
// on 127.0.0.1 at that port and the ones after it (voxa-sim --port N), so
// that the process holds nothing but the library.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "proc_stats.h"
#include "sim_boards.h"
#include "sim.h"
#include "voxa/voxa.h"

using namespace voxa::bench;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const int boards = argc > 2 ? std::atoi(argv[2]) : 8;
  const int state_timer = argc > 3 ? static_cast<int>(std::strtol(argv[3], nullptr, 0)) : 0;
  const int first_port = argc > 4 ? std::atoi(argv[4]) : 0;
  if (seconds < 1 || boards < 1 || boards > 8 || first_port < 0 || first_port + boards > 65536) {
    std::fprintf(stderr, "usage: bench_idle_cost [seconds=10] [boards=1..8] [state-timer-flags=0] [first-port]\n");
    return 2;
  }

  SimBoards opened;
  if (first_port == 0 && !OpenSimBoards(boards, &opened)) return 1;
  for (int b = 0; first_port != 0 && b < boards; ++b) {
    opened.ids.push_back(VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), first_port + b, 0));
    if (opened.ids.back() < 0) {
      std::fprintf(stderr, "no board at port %d\n", first_port + b);
      return 1;
    }
  }
  auto& ids = opened.ids;
  for (int id : ids) {
    VOXA_Set_BoardID(id);
    if (state_timer) VOXA_Set_StateTimer(state_timer);
  }
  // Linked: the link flag is raised once the board has answered keep-alives
  // over a whole watchdog period (3.1 s).
  const auto deadline = Clock::now() + std::chrono::seconds(8);
  for (int id : ids) {
    VOXA_Set_BoardID(id);
    while (VOXA_Is_Link() != 1 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (VOXA_Is_Link() != 1) {
      std::fprintf(stderr, "board %d did not link\n", id);
      return 1;
    }
  }

  const ThreadTimes before = SampleThreads();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  const ThreadTimes after = SampleThreads();
  const double wall_s = std::chrono::duration<double>(Clock::now() - t0).count();

  uint64_t lib_ns = 0, other_ns = 0;
  const auto by_name = CpuByName(before, after);
  std::printf("idle cost: %d boards open and linked, %.1f s%s\n", boards, wall_s,
              state_timer ? ", state packets on" : "");
  for (const auto& [name, ns] : by_name) {
    const bool lib = IsLibraryThread(name);
    (lib ? lib_ns : other_ns) += ns;
    std::printf("  %-16s %8.1f ms CPU  %6.3f %% of a core%s\n", name.c_str(), ns / 1e6, 100.0 * ns / 1e9 / wall_s,
                lib ? "" : "  (not the library)");
  }
  const double lib_share = 100.0 * lib_ns / 1e9 / wall_s;
  std::printf("library threads: %.1f ms CPU in %.1f s = %.3f %% of one core (aim: under 2 %%)\n", lib_ns / 1e6, wall_s,
              lib_share);
  std::printf("simulated boards and the rest of the process: %.3f %% of one core\n", 100.0 * other_ns / 1e9 / wall_s);

  for (int id : ids) {
    VOXA_Set_BoardID(id);
    VOXA_Close();
  }
  return lib_share < 2.0 ? 0 : 3;
}
