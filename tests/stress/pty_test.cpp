// Linux only (Windows has no pseudo-terminals): a serial board whose far end
// never reads holds up no other board, and one whose far end goes away is
// noticed at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <mutex>
#include <vector>

#include "api/board_table.h"
#include "dispatch/dispatch.h"
#include "platform/pty.h"
#include "stress_support.h"

using namespace voxa::stress;
using voxa_sim::CmdKind;
using voxa_sim::RxFrame;
using voxa_sim::SimBoard;

namespace {

bool IsWrite(const RxFrame& f, int reg) {
  return f.Valid() && f.cmd.kind == CmdKind::kRegisterWrite && f.cmd.reg == reg;
}

void CloseAll() {
  for (int b = 0; b < 8; ++b)
    if (voxa::api::BoardAt(b).IsOpen()) {
      VOXA_Set_BoardID(b);
      VOXA_Close();
    }
}

std::mutex g_links_lock;
std::vector<std::array<int, 3>> g_links;
void VOXA_CALL RecordLink(int board, int state, int reason, int) {
  std::lock_guard<std::mutex> g(g_links_lock);
  g_links.push_back({board, state, reason});
}

}  // namespace

TEST(NoHangPty, AStalledSerialBoardDelaysNoOtherBoard) {
  voxa::platform::PtyMaster stalled;  // its far end never reads
  ASSERT_TRUE(stalled.Open());
  auto sim = SimBoard::StartTcp();
  const int a = VOXA_Open_CommDevice(stalled.SlavePath().c_str(), 115200);
  ASSERT_GE(a, 0);
  auto& ca = voxa::api::BoardAt(a);
  // Fill the device and the transmit ring, then leave frames queued.
  ca.SetCommandMode(voxa::kImmediate);
  for (int k = 0; k < 5000; ++k) ca.WriteReg(voxa::DRIVEVEL, 0x01);
  ca.SetCommandMode(0);
  for (int k = 0; k < 500; ++k) ca.WriteReg(voxa::DRIVEVEL, 0x01);
  const int b = VOXA_Open_Tcp(voxa_sim::LoopbackAddress(), sim->Port(), 0);
  ASSERT_GE(b, 0);
  VOXA_Sleep(200);  // the tick meets the stalled board many times
  double worst = 0;
  for (int k = 0; k < 5; ++k) {
    const uint64_t mark = sim->FrameCount();
    const auto t0 = Clock::now();
    VOXA_Set_StartVel(200 + k);  // queued
    ASSERT_TRUE(sim->WaitFrame([](const RxFrame& f) { return IsWrite(f, voxa::STARTVEL); }, 5s, mark).has_value());
    worst = std::max(worst, MsSince(t0));
  }
  EXPECT_LT(worst, 100.0) << "queued commands for the other board waited behind the stalled one";
  VOXA_Set_BoardID(a);
  VOXA_Clr_Queue();
  CloseAll();
  ca.ClearSoftQueue();
}

TEST(NoHangPty, ASerialDeviceThatGoesAwayIsNoticedAtOnce) {
  auto sim = SimBoard::StartPty();
  const int b = VOXA_Open_CommDevice(sim->DevicePath().c_str(), 115200);
  ASSERT_GE(b, 0);
  VOXA_Enable_CompleteStatePacket(1);
  VOXA_Enter_ImCmd();
  VOXA_Notify_Complete(3);
  VOXA_Leave_ImCmd();
  ASSERT_EQ(VOXA_WaitMotion(3, 2000), 1);  // the line works both ways
  {
    std::lock_guard<std::mutex> g(g_links_lock);
    g_links.clear();
  }
  VOXA_Set_LinkHandler(&RecordLink);
  sim->Stop();  // the far end of the line goes away
  ASSERT_TRUE(Eventually([] {
    std::lock_guard<std::mutex> g(g_links_lock);
    return !g_links.empty();
  }, 500ms));
  EXPECT_EQ(VOXA_Is_Link(), 0);
  const int none[8] = {};
  const int before = VOXA_Get_SoftQueueLeftCmd();
  for (int k = 0; k < 10; ++k) VOXA_IMove(0x01, none);
  VOXA_Sleep(50);
  EXPECT_EQ(VOXA_Get_SoftQueueLeftCmd(), before + 20) << "queued frames went into a dead line";
  voxa::dispatch::Drain();
  {
    std::lock_guard<std::mutex> g(g_links_lock);
    ASSERT_FALSE(g_links.empty());
    EXPECT_EQ(g_links[0], (std::array<int, 3>{b, VOXA_LINK_DOWN, VOXA_LINK_REASON_HANGUP}));
  }
  VOXA_Set_LinkHandler(nullptr);
  VOXA_Clr_Queue();
  VOXA_Close();
}
