// Live data: state, link and board-message notifications and the age of
// the registers, against the simulated board, through the exported C API.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "sim.h"
#include "support/eventually.h"
#include "support/peer.h"
#include "voxa/voxa.h"

using namespace voxa_sim;
using namespace std::chrono_literals;
using voxa::test::Eventually;

namespace {

struct Note {
  int board;
  uint32_t registers;
  uint64_t time_us;
  int32_t pos0;  // CURPOS of axis 0 as the handler read it back
};

std::mutex g_lock;
std::vector<Note> g_notes;
std::vector<std::array<int, 4>> g_links;

void VOXA_CALL OnState(int board, uint32_t registers, uint64_t time_us) {
  // Reading back from within the handler is allowed.
  const int32_t pos = VOXA_Get_CurPos(0x01);
  std::lock_guard<std::mutex> g(g_lock);
  g_notes.push_back({board, registers, time_us, pos});
}

void VOXA_CALL OnLink(int board, int state, int reason, int os_error) {
  std::lock_guard<std::mutex> g(g_lock);
  g_links.push_back({board, state, reason, os_error});
}

class LiveData : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> g(g_lock);
      g_notes.clear();
      g_links.clear();
    }
    sim_ = SimBoard::StartTcp();
    ASSERT_TRUE(sim_);
    board_ = VOXA_Open_Tcp(LoopbackAddress(), sim_->Port(), 0);
    ASSERT_GE(board_, 0);
    // Packets sent before the board has taken the connection go nowhere.
    ASSERT_TRUE(sim_->WaitForConnection(1, 3s));
  }
  void TearDown() override {
    VOXA_Set_StateHandler(nullptr);
    VOXA_Set_LinkHandler(nullptr);
    if (board_ >= 0) {
      VOXA_Set_BoardID(board_);
      VOXA_Close();
    }
  }
  size_t Notes() {
    std::lock_guard<std::mutex> g(g_lock);
    return g_notes.size();
  }
  std::unique_ptr<SimBoard> sim_;
  int board_ = -1;
};

}  // namespace

TEST_F(LiveData, StateReportsArriveInOrderWithTheRegistersTheyCarried) {
  EXPECT_EQ(VOXA_Get_RegAge(6), -1);  // never reported on this link
  VOXA_Set_StateHandler(&OnState);
  // Positions that climb packet by packet, so order can be checked.
  for (uint32_t k = 1; k <= 50; ++k) {
    sim_->SetReg(6, 0, k * 10);  // so that the library's polls read the same
    std::vector<uint8_t> body{0x04, 0x01, 0x21};  // CURPOS, word 0, one 4-byte value
    for (int b = 0; b < 4; ++b) body.push_back(static_cast<uint8_t>((k * 10) >> (8 * b)));
    sim_->SendPacket(kState, body);
  }
  // Done when 50 notifications carried CURPOS (the board may report other
  // registers in between).
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> g(g_lock);
    int n = 0;
    for (const Note& x : g_notes) n += (x.registers & (1u << 6)) ? 1 : 0;
    return n >= 50;
  }, 5s));
  std::lock_guard<std::mutex> g(g_lock);
  uint64_t last_time = 0;
  int32_t last_pos = 0;
  int carried = 0;
  for (const Note& n : g_notes) {
    EXPECT_EQ(n.board, board_);
    EXPECT_GE(n.time_us, last_time);
    last_time = n.time_us;
    if (n.registers & (1u << 6)) {
      ++carried;  // the packets, and perhaps a poll of CURPOS
      EXPECT_GE(n.pos0, last_pos);  // the image never goes back
      last_pos = n.pos0;
    }
  }
  EXPECT_GE(carried, 50);
  EXPECT_EQ(last_pos, 500);
  EXPECT_GE(VOXA_Get_RegAge(6), 0);
  EXPECT_LT(VOXA_Get_RegAge(6), 1000);
  EXPECT_EQ(VOXA_Get_RegAge(32), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
}

TEST_F(LiveData, TheLinkHandlerHearsOfAnOutageAndItsEnd) {
  VOXA_Set_LinkHandler(&OnLink);
  const uint32_t before = sim_->ConnectionCount();
  sim_->DropConnection(false);
  ASSERT_TRUE(sim_->WaitForConnection(before + 1, 3s));
  ASSERT_TRUE(Eventually([] {
    std::lock_guard<std::mutex> g(g_lock);
    return g_links.size() >= 2;
  }, 2s));
  {
    std::lock_guard<std::mutex> g(g_lock);
    EXPECT_EQ(g_links[0], (std::array<int, 4>{board_, VOXA_LINK_RECONNECTING, VOXA_LINK_REASON_PEER_CLOSED, 0}));
    EXPECT_EQ(g_links[1], (std::array<int, 4>{board_, VOXA_LINK_RECONNECTED, VOXA_LINK_REASON_NONE, 0}));
  }
}

namespace {
std::atomic<int> g_slow_calls{0};
std::atomic<bool> g_release{false};
void VOXA_CALL SlowState(int, uint32_t, uint64_t) {
  ++g_slow_calls;
  while (!g_release.load()) std::this_thread::sleep_for(1ms);  // a handler that fell behind
}
}  // namespace

TEST_F(LiveData, ASlowHandlerHoldsNothingBackAndItsNotificationsAreMerged) {
  g_release = false;
  VOXA_Set_StateHandler(&SlowState);
  sim_->FloodStatePackets(2000, 0x04);
  // The receive path keeps up while the handler is stuck: the packets reach
  // the image, a completion ends its wait, and the notifications are merged.
  ASSERT_TRUE(Eventually([] { return VOXA_Get_RegAge(6) >= 0; }, 5s));
  VOXA_Enable_CompleteStatePacket(1);
  VOXA_Enter_ImCmd();
  VOXA_Notify_Complete(4);
  VOXA_Leave_ImCmd();
  EXPECT_EQ(VOXA_WaitMotion(4, 5000), 1);
  EXPECT_TRUE(Eventually([] { return VOXA_Get_StateDrops() > 0; }, 5s));
  g_release = true;
  // Unsetting waits for the running call, then no more come.
  VOXA_Set_StateHandler(nullptr);
  const int calls = g_slow_calls.load();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(g_slow_calls.load(), calls);
}

namespace {
struct BoardMessage {
  int board;
  VOXA_HWND window;
  unsigned message;
  uintptr_t wparam;
  intptr_t lparam;
};
std::vector<BoardMessage> g_board_messages;
void VOXA_CALL OnBoardMessage(int board, VOXA_HWND window, unsigned message, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard<std::mutex> g(g_lock);
  g_board_messages.push_back({board, window, message, wparam, lparam});
}
void VOXA_CALL DropMessage(VOXA_HWND, unsigned, uintptr_t, intptr_t) {}
}  // namespace

// Each board's message reaches the board-message handler with the board
// that posted it and that board's own wparam.
TEST(BoardMessages, EachMessageNamesTheBoardThatPostedIt) {
  voxa::test::FakeBoard a, b;
  const int ia = a.Open(), ib = b.Open();
  ASSERT_GE(ia, 0);
  ASSERT_GE(ib, 0);
  VOXA_Set_MessageHandler(&DropMessage);  // the windows below are not real
  g_board_messages.clear();
  VOXA_Set_BoardMessageHandler(&OnBoardMessage);
  VOXA_HWND wa = reinterpret_cast<VOXA_HWND>(0x100), wb = reinterpret_cast<VOXA_HWND>(0x200);
  VOXA_Set_BoardID(ia);
  ASSERT_EQ(VOXA_Register_Complete_Message(wa, 0x401), 1);
  VOXA_Set_BoardID(ib);
  ASSERT_EQ(VOXA_Register_Complete_Message(wb, 0x402), 1);
  a.SendComplete(5);
  b.SendComplete(6);
  ASSERT_TRUE(Eventually([] {
    std::lock_guard<std::mutex> g(g_lock);
    return g_board_messages.size() == 2;
  }, 2000ms));
  std::vector<BoardMessage> got;
  {
    std::lock_guard<std::mutex> g(g_lock);
    got = g_board_messages;
  }
  std::sort(got.begin(), got.end(), [](const BoardMessage& x, const BoardMessage& y) { return x.lparam < y.lparam; });
  EXPECT_EQ(got[0].board, ia);
  EXPECT_EQ(got[0].window, wa);
  EXPECT_EQ(got[0].message, 0x401u);
  EXPECT_EQ(got[0].lparam, 5);
  EXPECT_EQ(got[1].board, ib);
  EXPECT_EQ(got[1].window, wb);
  EXPECT_EQ(got[1].message, 0x402u);
  EXPECT_EQ(got[1].lparam, 6);
  EXPECT_NE(got[0].wparam, got[1].wparam);

  VOXA_Set_BoardMessageHandler(nullptr);
  VOXA_Set_MessageHandler(nullptr);
  VOXA_Unregister_Complete_Message();
  VOXA_Set_BoardID(ia);
  VOXA_Unregister_Complete_Message();
  a.Close();
  b.Close();
}
