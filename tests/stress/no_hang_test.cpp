// Threads, handlers and links under real use: nothing hangs, nothing that
// reached the library is lost.
//
// A step that could hang runs under Within(): past its limit the program
// ends with a message instead of waiting for the harness to kill it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "api/board_table.h"
#include "dispatch/dispatch.h"
#include "stress_support.h"

using namespace voxa::stress;
using voxa_sim::CmdKind;
using voxa_sim::RefuseMode;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;

namespace {

template <class F>
void Within(std::chrono::milliseconds limit, const char* what, F&& f) {
  auto done = std::make_shared<std::promise<void>>();
  auto fut = done->get_future();
  std::thread t([done, g = std::forward<F>(f)]() mutable {
    g();
    done->set_value();
  });
  if (fut.wait_for(limit) != std::future_status::ready) {
    std::fprintf(stderr, "hung: %s\n", what);
    std::fflush(stderr);
    std::_Exit(3);
  }
  t.join();
}

bool IsAction(const RxFrame& f, uint8_t code) {
  return f.Valid() && f.cmd.kind == CmdKind::kAction && f.cmd.code == code;
}

int OpenSim(const SimBoard& sim) { return VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim.Port(), 0); }

void CloseAll() {
  for (int b = 0; b < 8; ++b)
    if (voxa::api::BoardAt(b).IsOpen()) {
      VOXA_Set_BoardID(b);
      VOXA_Close();
    }
}

void NoteHandlersOff() {
  VOXA_Set_TraceHandler(nullptr);
  VOXA_Set_MessageHandler(nullptr);
  VOXA_Set_StateHandler(nullptr);
  VOXA_Set_LinkHandler(nullptr);
}

void VOXA_CALL Tick(void*) {}

// Every test leaves the library as it found it: handlers unset, boards
// closed, soft queues empty, queued mode.
class NoHang : public ::testing::Test {
 protected:
  void TearDown() override {
    NoteHandlersOff();
    CloseAll();
    for (int b = 0; b < 8; ++b) {
      voxa::api::BoardAt(b).ClearSoftQueue();
      voxa::api::BoardAt(b).SetCommandMode(0);
    }
  }
};

}  // namespace

TEST_F(NoHang, TimerStartsAndKillsFromTwoThreadsNeverStrandAThread) {
  // The last kill joins the tick thread while a start on another thread may
  // begin a new one: every interleaving must end.
  Within(30s, "timer start/kill", [] {
    auto churn = [] {
      for (int k = 0; k < 3000; ++k) voxa::platform::TimerKill(voxa::platform::TimerStart(10, &Tick, nullptr));
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
  });
}

TEST_F(NoHang, OpensAndClosesFromManyThreadsEachGetASlot) {
  std::vector<std::unique_ptr<SimBoard>> sims;
  for (int k = 0; k < 8; ++k) sims.push_back(SimBoard::StartTcp());
  Within(20s, "concurrent opens", [&] {
    std::vector<int> got(8, -2);
    std::vector<std::thread> ts;
    for (int k = 0; k < 8; ++k) ts.emplace_back([&, k] { got[k] = OpenSim(*sims[k]); });
    for (auto& t : ts) t.join();
    EXPECT_EQ(std::set<int>(got.begin(), got.end()), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(OpenSim(*sims[0]), -1);
    EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_NO_SLOT);
  });
  // Two closes of one board: both return, the board is closed.
  Within(10s, "two closes of one board", [] {
    VOXA_Set_BoardID(3);
    std::thread a([] { VOXA_Close(); }), b([] { VOXA_Close(); });
    a.join();
    b.join();
    EXPECT_FALSE(voxa::api::BoardAt(3).IsOpen());
  });
  CloseAll();
  // Two threads, each opening and closing its own board under one mutex of
  // the application.
  Within(60s, "open/close cycles on two threads", [&] {
    std::mutex app;
    auto cycle = [&](int k) {
      for (int n = 0; n < 150; ++n) {
        std::lock_guard<std::mutex> g(app);
        const int b = OpenSim(*sims[k]);
        ASSERT_GE(b, 0);
        VOXA_Set_BoardID(b);
        VOXA_Close();
      }
    };
    std::thread a(cycle, 0), b(cycle, 1);
    a.join();
    b.join();
  });
  CloseAll();
}

namespace {
std::atomic<int> g_traced{0};
std::atomic<bool> g_closed_from_handler{false};
std::atomic<int> g_sent_from_handler{0};
void VOXA_CALL SendAndCloseOnTrace(int, int direction, const unsigned char*, int) {
  if (direction != VOXA_TRACE_SENT) return;
  const int n = ++g_traced;
  if (n == 3) g_sent_from_handler = VOXA_Set_DriveVel(1234);  // a command from within the handler
  if (n == 6) {
    VOXA_Close();
    g_closed_from_handler = true;
  }
}

std::mutex g_app;
std::atomic<bool> g_in_handler{false};
std::atomic<bool> g_handler_done{false};
void VOXA_CALL LockingMessageHandler(VOXA_HWND, unsigned, uintptr_t, intptr_t) {
  g_in_handler = true;
  std::lock_guard<std::mutex> g(g_app);
  std::this_thread::sleep_for(30ms);
  g_handler_done = true;
}
}  // namespace

TEST_F(NoHang, HandlersMaySendAndCloseAndWaitForTheCaller) {
  auto sim = SimBoard::StartTcp();
  // A trace handler that sends a command and then closes the board, while
  // the tick sends queued frames.
  const int first = OpenSim(*sim);
  ASSERT_GE(first, 0);
  g_traced = 0;
  VOXA_Set_TraceHandler(&SendAndCloseOnTrace);
  for (int k = 0; k < 40; ++k) VOXA_Set_StartVel(100 + k);
  EXPECT_TRUE(Eventually([] { return g_closed_from_handler.load(); }, 3s));
  VOXA_Set_TraceHandler(nullptr);
  EXPECT_FALSE(voxa::api::BoardAt(first).IsOpen());
  EXPECT_EQ(g_sent_from_handler.load(), 1);
  voxa::api::BoardAt(first).ClearSoftQueue();

  // The application holds its mutex while it closes; its message handler
  // waits for that mutex.
  const int b = OpenSim(*sim);
  ASSERT_GE(b, 0);
  VOXA_Set_MessageHandler(&LockingMessageHandler);
  VOXA_Register_Complete_Message(reinterpret_cast<VOXA_HWND>(1), 0x400);
  VOXA_Enable_CompleteStatePacket(1);
  {
    std::unique_lock<std::mutex> g(g_app);
    VOXA_Enter_ImCmd();
    VOXA_Notify_Complete(7);
    VOXA_Leave_ImCmd();
    ASSERT_TRUE(Eventually([] { return g_in_handler.load(); }, 2s));
    Within(5s, "close while the handler waits for the caller", [] { VOXA_Close(); });
  }
  // Unsetting returns only after the running call has finished.
  VOXA_Set_MessageHandler(nullptr);
  EXPECT_TRUE(g_handler_done.load());
  VOXA_Unregister_Complete_Message();
  NoteHandlersOff();
}

TEST_F(NoHang, WaitsTakeACompletionOnceAndEndAtClose) {
  auto sim = SimBoard::StartTcp();
  ASSERT_GE(OpenSim(*sim), 0);
  VOXA_Enable_CompleteStatePacket(1);
  VOXA_Enter_ImCmd();
  VOXA_Notify_Complete(5);
  VOXA_Leave_ImCmd();
  ASSERT_TRUE(Eventually([] { return VOXA_Get_CompleteStatePacketCount() > 0; }, 2s));
  EXPECT_EQ(VOXA_WaitMotion(5, 1000), 1);  // remembered: reported before the wait
  EXPECT_EQ(VOXA_WaitMotion(5, 0), 0);     // taken by the first wait
  EXPECT_EQ(VOXA_WaitMotion(5, 30), 0);

  // Reported on the previous link: ends no wait on the next.
  VOXA_Enter_ImCmd();
  VOXA_Notify_Complete(6);
  VOXA_Leave_ImCmd();
  VOXA_Sleep(100);
  VOXA_Close();
  ASSERT_GE(OpenSim(*sim), 0);
  EXPECT_EQ(VOXA_WaitMotion(6, 30), 0);

  // A close ends a wait in progress on another thread at once.
  std::atomic<int> result{-1};
  const auto t0 = Clock::now();
  std::thread waiter([&] { result = VOXA_WaitMotion(9, 10000); });
  VOXA_Sleep(50);
  VOXA_Close();
  waiter.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_LT(MsSince(t0), 1000.0);
}

TEST_F(NoHang, TheLoopbackRuleEndsWithTheLoopbackLink) {
  auto sim = SimBoard::StartTcp();
  sim->SetHeartbeatReply(false);  // a board that never answers keep-alives
  const int lb = VOXA_Open_Comm(0xFFFF, 115200);
  ASSERT_GE(lb, 0);
  VOXA_Sleep(150);
  EXPECT_EQ(VOXA_Is_Link(), 1);
  VOXA_Close();
  ASSERT_EQ(OpenSim(*sim), lb);  // the same slot, now over TCP
  VOXA_Sleep(300);
  EXPECT_EQ(VOXA_Is_Link(), 0);
  VOXA_Close();
}

TEST_F(NoHang, ANewConnectionStartsANewStream) {
  auto sim = SimBoard::StartTcp();
  ASSERT_GE(OpenSim(*sim), 0);
  ASSERT_TRUE(sim->WaitForConnection(1, 3s));
  VOXA_Set_CompleteStatePacketCount(0);
  VOXA_Set_BusyStatePacketCount(0);
  // The connection breaks in the middle of a frame.
  sim->InjectRaw({0xFE, 0x7F, 0x00, 0x0B, 0x01, 0x02});
  const uint32_t before = sim->ConnectionCount();
  sim->DropConnection();
  ASSERT_TRUE(sim->WaitForConnection(before + 1, 3s));
  // Every packet of the new connection counts.
  for (int k = 0; k < 20; ++k) sim->SendPacket(voxa_sim::kBusyState, {0, 0, 0, 0});
  EXPECT_TRUE(Eventually([] { return VOXA_Get_BusyStatePacketCount() == 20; }, 2s))
      << VOXA_Get_BusyStatePacketCount() << " of 20 packets counted";
  VOXA_Close();
}

TEST_F(NoHang, FramesQueuedWhileTheLinkIsDownGoOutWhenItReturns) {
  auto sim = SimBoard::StartTcp();
  const int b = OpenSim(*sim);
  ASSERT_GE(b, 0);
  ASSERT_TRUE(sim->WaitForConnection(1, 3s));
  sim->RefuseConnections(RefuseMode::kCloseAccepted);
  sim->DropConnection();
  VOXA_Sleep(150);  // the link is being re-established
  const uint64_t mark = sim->FrameCount();
  const int none[8] = {};
  for (int k = 0; k < 100; ++k) {
    VOXA_Set_CmdID(k);
    VOXA_IMove(0x01, none);
  }
  VOXA_Set_CmdID(0xFE);
  VOXA_Sleep(100);
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), 200) << "queued frames (a write and a move each) left the queue while the link was down";
  sim->RefuseConnections(RefuseMode::kAccept);
  auto moves = sim->WaitFrames([](const RxFrame& f) { return IsAction(f, 0x59); }, 100, 5s, mark);
  ASSERT_EQ(moves.size(), 100u);
  for (int k = 0; k < 100; ++k) EXPECT_EQ(moves[k].cmd.tag, k);
  VOXA_Close();
}

