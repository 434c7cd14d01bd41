// What a board slot keeps across a close and a reopen: the packet counters,
// the packet switches, the message registrations and the register image,
// through the exported C API against a fake board.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "support/eventually.h"
#include "support/peer.h"
#include "voxa/voxa.h"

namespace {

using namespace std::chrono_literals;
using voxa::test::Eventually;
using voxa::test::FakeBoard;

std::atomic<int> g_messages{0};
std::atomic<intptr_t> g_lparam{0};
void VOXA_CALL OnMessage(VOXA_HWND, unsigned, uintptr_t, intptr_t lparam) {
  g_lparam = lparam;
  ++g_messages;
}

uint32_t ImageWord(int r, int i) {
  uint32_t v = 0xDEADBEEF;
  VOXA_Get_RegWord(r, i, &v);
  return v;
}

TEST(Reopen, CountersSwitchesMessagesAndTheImageAreKept) {
  int id;
  int window = 0;
  {
    FakeBoard peer;
    id = peer.Open();
    ASSERT_GE(id, 0);
    VOXA_Enable_BusyStatePacket(1);
    VOXA_Set_StateTimer(VOXA_STATE_TIMER_100MS | VOXA_STATE_TIMER_CURPOS);
    VOXA_Register_Complete_Message(&window, 0x401);
    VOXA_Set_CompleteStatePacketCount(10);
    // A CHIPSET report changes the board's copy only: the host's switches stay.
    peer.SendReadReply(VOXA_REG_CHIPSET, 0x03, {0, 0});
    peer.SendRaw({0xFE, 0x0E, 0x00, 0x0B, 0x04, 0x03, 0x22, 0x64, 0x00, 0x00, 0x00, 0x9C, 0xFF, 0xFF, 0xFF, 0x3D});
    peer.SendComplete(1);
    ASSERT_TRUE(Eventually([] { return VOXA_Get_CompleteStatePacketCount() == 11; }, 1s));
    EXPECT_EQ(VOXA_Get_CurPos(0x02), -100);
    EXPECT_EQ(VOXA_Is_BusyStatePacket(), 1);
    EXPECT_EQ(VOXA_Get_StateTimer(VOXA_STATE_TIMER_PERIOD), 100);
  }
  VOXA_Set_MessageHandler(&OnMessage);
  FakeBoard again;
  ASSERT_EQ(again.Open(), id);
  EXPECT_EQ(VOXA_Get_CompleteStatePacketCount(), 11);
  EXPECT_EQ(VOXA_Is_BusyStatePacket(), 1);
  EXPECT_EQ(VOXA_Is_StateTimer(VOXA_STATE_TIMER_CURPOS), 1);
  EXPECT_EQ(VOXA_Get_StateTimer(VOXA_STATE_TIMER_PERIOD), 100);
  EXPECT_EQ(VOXA_Get_CurPos(0x01), 100);
  EXPECT_EQ(ImageWord(VOXA_REG_CURPOS, 1), static_cast<uint32_t>(-100));
  // The registration made before the close still posts.
  again.SendPacket(14, {0x07, 0, 0, 0});
  EXPECT_TRUE(Eventually([] { return g_messages.load() == 1; }, 1s));
  EXPECT_EQ(g_lparam.load(), 7);
  EXPECT_EQ(VOXA_Get_CompleteStatePacketCount(), 12);
  // lParam carries the payload word's value, not its sign.
  again.SendPacket(14, {0x08, 0, 0, 0x80});
  EXPECT_TRUE(Eventually([] { return g_messages.load() == 2; }, 1s));
  EXPECT_EQ(static_cast<uint64_t>(g_lparam.load()), uint64_t{0x80000008} & UINTPTR_MAX);
  VOXA_Unregister_Complete_Message();
  VOXA_Set_MessageHandler(nullptr);
}

}  // namespace
