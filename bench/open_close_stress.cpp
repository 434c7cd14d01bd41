// Seven application threads, each opening, using and closing a board of its
// own against a simulated board, for a given time (60 s unless an argument
// says otherwise), while handlers of every kind call back into the library.
// An eighth board stays open the whole time and is mistreated: a third of
// the way in its cable is pulled for 6 s, two thirds in it restarts in place.
//
// Prints the cycles run, completions asked for and received, and the
// process's descriptors and threads before and after; for the mistreated
// board its completions, the frames in doubt and whether the restart was
// noticed. Exits 1 when a completion of the cycling boards was lost, the
// mistreated board lost more than the pull put in doubt or its restart went
// unnoticed, anything grew, or a thread stopped making progress (a hang
// ends the program after 30 s without a cycle).
//
//   bench_open_close_stress [seconds]
#include <dirent.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "sim.h"
#include "voxa/voxa.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kThreads = 7;  // cycling boards; one more stays open

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n - 2;
}

std::atomic<uint64_t> g_messages{0}, g_traces{0}, g_states{0}, g_links{0};

// Each handler asks the library something back.
void VOXA_CALL OnMessage(int, VOXA_HWND, unsigned, uintptr_t, intptr_t) {
  VOXA_Is_Err();
  ++g_messages;
}
void VOXA_CALL OnTrace(int, int, const unsigned char*, int) {
  VOXA_Get_LastErr();
  ++g_traces;
}
void VOXA_CALL OnState(int board, uint32_t, uint64_t) {
  VOXA_Set_ThreadBoardID(board);
  VOXA_Get_CurPos(0x01);
  ++g_states;
}
std::atomic<uint64_t> g_restarts{0}, g_in_doubt_events{0};
void VOXA_CALL OnLink(int, int state, int, int) {
  ++g_links;
  if (state == VOXA_LINK_RESTARTED) ++g_restarts;
  if (state == VOXA_LINK_IN_DOUBT) ++g_in_doubt_events;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  std::vector<std::unique_ptr<voxa_sim::SimBoard>> sims;
  voxa_sim::SimOptions opt;
  opt.frame_log_limit = 256;
  for (int k = 0; k <= kThreads; ++k) sims.push_back(voxa_sim::SimBoard::StartTcp(0, opt));

  // One open and close first, so that what the library keeps for good (the
  // dispatch thread) is there before counting.
  VOXA_Set_BoardMessageHandler(&OnMessage);
  VOXA_Set_TraceHandler(&OnTrace);
  VOXA_Set_StateHandler(&OnState);
  VOXA_Set_LinkHandler(&OnLink);
  if (VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sims[0]->Port(), 0) >= 0) {
    VOXA_Sleep(200);  // polls go out: traces start the dispatch thread
    VOXA_Close();
  }
  const int fds_before = CountEntries("/proc/self/fd");
  const int threads_before = CountEntries("/proc/self/task");

  std::atomic<uint64_t> cycles{0}, asked{0}, received{0}, open_failures{0};
  std::atomic<bool> stop{false};
  std::atomic<int> finished{0};
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> ts;
  for (int k = 0; k < kThreads; ++k) {
    ts.emplace_back([&, k] {
      int id = 1 + k * 30;
      while (!stop.load() && Clock::now() < end) {
        const int b = VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sims[k]->Port(), 0);
        if (b < 0) {
          ++open_failures;
          continue;
        }
        VOXA_Set_ThreadBoardID(b);
        VOXA_Register_Complete_Message(reinterpret_cast<VOXA_HWND>(1), 0x400);
        VOXA_Enable_CompleteStatePacket(1);
        VOXA_Set_StateTimer(2 | 0x400);
        const int none[8] = {};
        for (int n = 0; n < 5; ++n) {
          VOXA_Set_CmdID(id);
          VOXA_IMove(0x01, none);
          VOXA_Set_CmdID(0xFE);
          VOXA_Notify_Complete(id);
          ++asked;
          if (VOXA_WaitMotion(id, 3000)) ++received;
          id = id % 240 + 1;
        }
        VOXA_Close();
        VOXA_Set_ThreadBoardID(-1);
        ++cycles;
      }
      ++finished;
    });
  }
  // The mistreated board: open throughout, a completion asked for after
  // every short move; its fault thread pulls the cable, then restarts it.
  std::atomic<uint64_t> steady_asked{0}, steady_received{0}, steady_cycles{0};
  std::atomic<int> steady_in_doubt{0};
  const uint16_t steady_port = sims[kThreads]->Port();
  ts.emplace_back([&] {
    const int b = VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), steady_port, 0);
    if (b < 0) {
      ++open_failures;
      ++finished;
      return;
    }
    VOXA_Set_ThreadBoardID(b);
    VOXA_Set_DriveVel(5000);  // a setting a restarted board no longer has
    VOXA_Enable_CompleteStatePacket(1);
    VOXA_Set_StateTimer(2 | 0x400);
    int id = 241;
    const int none[8] = {};
    while (!stop.load() && Clock::now() < end) {
      VOXA_Set_CmdID(id);
      VOXA_IMove(0x01, none);
      VOXA_Set_CmdID(0xFE);
      VOXA_Notify_Complete(id);
      ++steady_asked;
      if (VOXA_WaitMotion(id, 9000)) ++steady_received;
      ++steady_cycles;
      id = id >= 250 ? 241 : id + 1;
    }
    steady_in_doubt = VOXA_Get_InDoubtFrames();
    VOXA_Close();
    VOXA_Set_ThreadBoardID(-1);
    ++finished;
  });
  std::thread faults([&] {
    std::this_thread::sleep_until(end - std::chrono::seconds(seconds) * 2 / 3);
    sims[kThreads]->PullCable(std::chrono::milliseconds(6000));
    std::this_thread::sleep_until(end - std::chrono::seconds(seconds) / 3);
    sims[kThreads].reset();
    sims[kThreads] = voxa_sim::SimBoard::StartTcp(steady_port, opt);
  });

  // The watchdog: progress or the end.
  uint64_t last = 0;
  auto last_change = Clock::now();
  while (finished.load() < kThreads + 1) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const uint64_t c = cycles.load() + steady_cycles.load() + static_cast<uint64_t>(finished.load());
    if (c != last) {
      last = c;
      last_change = Clock::now();
    } else if (Clock::now() - last_change > std::chrono::seconds(30)) {
      std::printf("HANG: no cycle for 30 s after %llu cycles\n", static_cast<unsigned long long>(c));
      std::fflush(stdout);
      std::_Exit(2);
    }
  }
  for (auto& t : ts) t.join();
  faults.join();
  VOXA_Set_StateHandler(nullptr);
  VOXA_Set_TraceHandler(nullptr);
  VOXA_Set_BoardMessageHandler(nullptr);
  VOXA_Set_LinkHandler(nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const int fds_after = CountEntries("/proc/self/fd");
  const int threads_after = CountEntries("/proc/self/task");

  std::printf("seconds %d, threads %d\n", seconds, kThreads);
  std::printf("open/use/close cycles %llu (open failures %llu)\n", static_cast<unsigned long long>(cycles.load()),
              static_cast<unsigned long long>(open_failures.load()));
  std::printf("completions asked %llu, received %llu, lost %llu\n", static_cast<unsigned long long>(asked.load()),
              static_cast<unsigned long long>(received.load()),
              static_cast<unsigned long long>(asked.load() - received.load()));
  std::printf("handler calls: messages %llu, traces %llu, states %llu, links %llu\n",
              static_cast<unsigned long long>(g_messages.load()), static_cast<unsigned long long>(g_traces.load()),
              static_cast<unsigned long long>(g_states.load()), static_cast<unsigned long long>(g_links.load()));
  std::printf("descriptors %d -> %d, threads %d -> %d\n", fds_before, fds_after, threads_before, threads_after);
  // A pull puts at most the frames of one move and its marker in doubt: that
  // one completion may be lost, no other.
  const uint64_t steady_lost = steady_asked.load() - steady_received.load();
  std::printf("mistreated board: completions asked %llu, received %llu, lost %llu; frames in doubt %d (%llu "
              "reports); restart noticed %llu time(s)\n",
              static_cast<unsigned long long>(steady_asked.load()), static_cast<unsigned long long>(steady_received.load()),
              static_cast<unsigned long long>(steady_lost), steady_in_doubt.load(),
              static_cast<unsigned long long>(g_in_doubt_events.load()), static_cast<unsigned long long>(g_restarts.load()));
  const bool ok = asked.load() == received.load() && fds_after <= fds_before && threads_after <= threads_before &&
                  steady_lost <= 1 && g_restarts.load() >= 1;
  std::printf("%s\n", ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}
