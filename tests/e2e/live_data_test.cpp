// Live data: state and link notifications and the age of the registers,
// against the simulated board, through the exported C API.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <mutex>
#include <vector>

#include "sim.h"
#include "support/eventually.h"
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
