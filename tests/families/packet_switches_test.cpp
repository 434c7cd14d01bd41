// Packet switches, the state timer's flags and the packet counters, on the
// wire against a fake board.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "api/board_table.h"
#include "support/peer.h"
#include "voxa/voxa.h"

namespace {

using voxa::test::FakeBoard;

uint32_t Chipset(int word) { return voxa::api::BoardAt(VOXA_Get_BoardID()).GetRegWord(voxa::CHIPSET, word); }

class Switches : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(peer.Open(), 0);
    // A slot keeps its switches across a close: start from all off.
    for (auto off : {VOXA_Enable_BusyStatePacket, VOXA_Enable_CompleteStatePacket, VOXA_Enable_EventStatePacket,
                     VOXA_Enable_InterruptStatePacket})
      off(0);
    VOXA_Enter_ImCmd();
    ASSERT_TRUE(peer.NextFrameWithCode(0x0C));
  }
  void TearDown() override { VOXA_Leave_ImCmd(); }
  FakeBoard peer;
};

TEST_F(Switches, EnablesTestTheirFlagsDifferently) {
  EXPECT_EQ(VOXA_Enable_BusyStatePacket(0x100), 1);  // any nonzero value
  EXPECT_EQ(VOXA_Is_BusyStatePacket(), 1);
  auto f = peer.NextFrame();
  ASSERT_TRUE(f);
  EXPECT_EQ(f->opcode, 0x91);
  EXPECT_EQ(f->mask, 0x01);
  EXPECT_EQ(f->values[0] & 0xF0000000u, 0x10000000u);  // the other bits are earlier tests'
  VOXA_Enable_CompleteStatePacket(1);
  EXPECT_EQ(VOXA_Is_CompleteStatePacket(), 1);
  VOXA_Enable_CompleteStatePacket(0x100);  // only the low byte counts: off
  EXPECT_EQ(VOXA_Is_CompleteStatePacket(), 0);
  VOXA_Enable_Notify_Complete(1);  // the same switch
  EXPECT_EQ(VOXA_Is_CompleteStatePacket(), 1);
  VOXA_Enable_EventStatePacket(1);
  VOXA_Enable_InterruptStatePacket(1);
  EXPECT_EQ(Chipset(0) & 0xF0000000u, 0xF0000000u);
}

TEST_F(Switches, StateTimerPeriodContentsAndCustomRegister) {
  EXPECT_EQ(VOXA_Set_StateTimer(0x1004), 1);
  auto w0 = peer.NextFrame();
  auto w1 = peer.NextFrame();
  ASSERT_TRUE(w0 && w1);
  EXPECT_EQ(w0->mask, 0x01);
  EXPECT_EQ(w1->mask, 0x02);
  EXPECT_EQ(VOXA_Get_StateTimer(15), 100);
  EXPECT_EQ(VOXA_Is_StateTimer(0x1000), 1);
  EXPECT_EQ(VOXA_Is_StateTimer(0x1400), 1);  // the later flag (CURPOS) answers
  EXPECT_EQ(VOXA_Is_StateTimer(0x0C00), 0);  // CHIPSTATUS and AXISSTATUS are off
  // Register field f = r + 1 selects register r; bit 20 is not in the field.
  EXPECT_EQ(VOXA_Set_StateTimer(0x0C0000), 1);
  EXPECT_EQ(VOXA_Get_StateTimer(0x2F0000), 11);
  EXPECT_EQ(VOXA_Is_StateTimer(0x2F0000), 1);
  EXPECT_EQ(VOXA_Set_StateTimer(0x110000), 1);
  EXPECT_EQ(VOXA_Get_StateTimer(0x2F0000), 0);
  EXPECT_EQ(VOXA_Set_StateTimer(0x200000), 1);
  EXPECT_EQ(VOXA_Get_StateTimer(0x2F0000), 31);
  peer.Drain();
  // A field naming no register returns 0 and sends nothing for it.
  VOXA_Clr_StateTimer(0x2F0000);
  peer.Drain();
  EXPECT_EQ(VOXA_Set_StateTimer(0x210000), 0);
  EXPECT_EQ(VOXA_Is_StateTimer(0x2F0000), 0);
  EXPECT_TRUE(peer.ExpectNoFrame(40));
  // Nothing to change: nothing sent.
  EXPECT_EQ(VOXA_Set_StateTimer(0), 1);
  EXPECT_EQ(VOXA_Set_StateTimer(9), 1);
  EXPECT_TRUE(peer.ExpectNoFrame(40));
  // Clearing: the period off, contents bit 0x40 off, the register number kept.
  VOXA_Clr_StateTimer(1);
  EXPECT_EQ(VOXA_Get_StateTimer(15), 0);
  EXPECT_EQ(Chipset(1) & 0x1F00u, 31u << 8);
  // A bad selector.
  EXPECT_EQ(VOXA_Get_StateTimer(0), -1);
  EXPECT_EQ(VOXA_Get_LastErr(), VOXA_ERR_ARGUMENT);
}

TEST_F(Switches, CountersCountTheBoardsPackets) {
  VOXA_Set_CompleteStatePacketCount(0);
  for (int k = 0; k < 3; ++k) peer.SendComplete(static_cast<uint8_t>(k));
  peer.SendPacket(13, {0x00});
  peer.SendPacket(15, {0x00, 0x00});
  peer.SendPacket(10, {1, 2, 3, 4});
  const auto t0 = std::chrono::steady_clock::now();
  while (VOXA_Get_EventStatePacketCount() < 1 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(1))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(VOXA_Get_CompleteStatePacketCount(), 3);
  EXPECT_EQ(VOXA_Get_BusyStatePacketCount(), 1);
  EXPECT_EQ(VOXA_Get_InterruptStatePacketCount(), 1);
  EXPECT_EQ(VOXA_Get_EventStatePacketCount(), 1);
  VOXA_Set_BusyStatePacketCount(100);
  EXPECT_EQ(VOXA_Get_BusyStatePacketCount(), 100);
}

}  // namespace
